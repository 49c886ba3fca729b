#ifndef ORVELLA_CHANNELSUMS_H
#define ORVELLA_CHANNELSUMS_H

#include <QtGlobal>

// Over the red, green and blue bytes of `width` pixels: their sum, and the
// sum of table[byte]. Alpha bytes count as zero, and table[0] must be zero.
struct ChannelSums {
    quint64 bytes = 0;
    quint64 looked = 0;
};

// Built for AVX-512 with its byte permutes (VBMI); call only where
// cpuHasAvx512Vbmi() says so.
ChannelSums channelSumsAvx512Vbmi(const quint32 *pixels, int width, const uchar *table);

#endif
