#ifndef ORVELLA_WEBSOURCE_H
#define ORVELLA_WEBSOURCE_H

#include <gst/gst.h>

// A source element reading an http:// or https:// address with libcurl, all
// on its own streaming thread: each chunk that arrives wakes that thread
// once, where a session of its own thread and main loop would pass every
// read between two. A user and password in the address log in (Basic or
// Digest, as the server asks); redirects are followed. Without a byte for
// timeoutSeconds, while connecting or reading, the transfer fails. Errors
// are GStreamer resource errors whose message says what went wrong, an HTTP
// status among them; a stream the server ends is the end of the stream. The
// caps are the media type of the answer's Content-Type, when it has one.
// Returns a floating reference, or null for another kind of address.
GstElement *makeWebSource(const char *address, int timeoutSeconds);

#endif
