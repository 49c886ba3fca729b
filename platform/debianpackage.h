#ifndef ORVELLA_DEBIANPACKAGE_H
#define ORVELLA_DEBIANPACKAGE_H

#include <string>

// The Debian package that provides a GStreamer element, by factory name
// ("avdec_h264", "h264parse"), or empty when the name is not one we know.
std::string packageForElement(const std::string &factory);

// The Debian package with a decoder for a media type ("video/x-h264"), or
// empty when the type is not one we know.
std::string packageForDecoder(const std::string &mediaType);

#endif
