#ifndef ORVELLA_PLANESCALER_H
#define ORVELLA_PLANESCALER_H

#include <cstdint>
#include <vector>

// Bilinear resampling of one plane of 8-bit samples (a picture's luma or one
// of its chroma planes, or interleaved channels such as BGRA, each channel
// on its own) from one size to another, the sample centres of both sizes
// lined up. Rows are blended first, then the blended row is resampled
// across. Weights are whole numbers: 1/256 steps down, 1/64 across, rounded
// to the nearest; every way of running it gives the very same samples.
//
// The tables for a pair of sizes are made once and serve every frame. Where
// the processor has SSSE3, eight samples across are made at a time, out of 16
// bytes of the row, or out of 32 where the plane shrinks more than that
// allows (such as a picture's chroma decoded as large as its luma).
class PlaneScaler
{
public:
    // Sizes in pixels of channels bytes each.
    PlaneScaler(int fromWidth, int fromHeight, int toWidth, int toHeight, int channels = 1);

    // Writes the resampled plane to to, toStride bytes a row.
    void scale(const std::uint8_t *from, int fromStride, std::uint8_t *to, int toStride);
    // The same without the vector passes, for checking them.
    void scalePlain(const std::uint8_t *from, int fromStride, std::uint8_t *to, int toStride);

private:
    struct Step {
        int index;  // first of the two samples (a byte of the row, across)
        int weight; // of the second: 0..256 down, 0..64 across
    };
    // Eight samples across from 16 bytes of the blended row at start, or 32.
    struct Block {
        int start;
        std::uint8_t pick[16];   // the two samples of each, by place in the 16
        std::int8_t weights[16]; // and their weights
        // Of 32 bytes: the places in the first 16 and in the second, each
        // 0x80 where the sample is in the other half.
        std::uint8_t pickLow[16];
        std::uint8_t pickHigh[16];
    };

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    static void resampleBlocks(const std::uint8_t *row, const Block *blocks, std::size_t count,
                               std::uint8_t *to);
    static void resampleWideBlocks(const std::uint8_t *row, const Block *blocks, std::size_t count,
                                   std::uint8_t *to);
#endif
    void blendRow(const std::uint8_t *first, const std::uint8_t *second, int weight, bool vector);
    void resampleRow(const std::uint8_t *row, std::uint8_t *to, bool vector) const;
    void run(const std::uint8_t *from, int fromStride, std::uint8_t *to, int toStride, bool vector);

    int m_channels;
    int m_fromWidth; // in bytes, as m_toWidth
    int m_fromHeight;
    int m_toWidth;
    std::vector<Step> m_rows;
    std::vector<Step> m_columns;
    std::vector<Block> m_blocks;         // over the whole blocks of columns, where they fit
    bool m_blocksFit = false;            // in 16 bytes each
    bool m_wideBlocksFit = false;        // in 32
    std::vector<std::uint8_t> m_blended; // one row, with room to read past its end
};

#endif
