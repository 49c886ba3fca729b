#ifndef ORVELLA_DEVICENAME_H
#define ORVELLA_DEVICENAME_H

#include <string>

// Writes name, given as UTF-8, into buffer as zero-terminated Latin-1 text
// (one byte per character, '?' for characters Latin-1 lacks), cut to fit in
// length bytes. Nothing is written when length is below 1.
void copyDeviceName(const std::string &name, char *buffer, int length);

#endif
