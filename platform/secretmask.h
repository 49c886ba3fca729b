#ifndef ORVELLA_SECRETMASK_H
#define ORVELLA_SECRETMASK_H

#include <string>

// Replaces the password of every "scheme://user:password@" in text with
// "***", so messages can name a camera's address without giving it away.
std::string maskPasswords(const std::string &text);

#endif
