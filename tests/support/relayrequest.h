#ifndef ORVELLA_TEST_RELAYREQUEST_H
#define ORVELLA_TEST_RELAYREQUEST_H

#include <QByteArray>

// The HTTP client's request for a target on 127.0.0.1, byte for byte: what a
// relay receives from the program.
inline QByteArray relayRequestBytes(const QByteArray &target)
{
    return "GET " + target +
           " HTTP/1.0\r\n"
           "Host: 127.0.0.1\r\n"
           "Connection: close\r\n"
           "User-Agent: Lantrel\r\n"
           "Accept: text/plain\r\n"
           "Accept-Language: en-GB,en-US;q=0.8,en;q=0.6\r\n"
           "Accept-Charset: ISO-8859-1,UTF-8;q=0.7,*;q=0.7\r\n"
           "Cache-Control: no-cache\r\n"
           "Referer: http://www.search.example/webhp?hl=en-GB\r\n"
           "X-JAVASCRIPT-ENABLED: false\r\n"
           "\r\n";
}

#endif
