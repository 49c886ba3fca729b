#ifndef ORVELLA_SERVER_WRITEALL_H
#define ORVELLA_SERVER_WRITEALL_H

#include <string_view>

// Writes all of text to the file descriptor, through short writes and
// interruptions; false on an error (errno tells which).
bool writeAll(int fd, std::string_view text);

#endif
