#ifndef ORVELLA_WAVEFRONTKERNEL_H
#define ORVELLA_WAVEFRONTKERNEL_H

// The filter passes for windows of side 3, 5 and 7, several columns at once.
//
// Each column's pixels depend on the column to their left, but only on its
// rows up to r below them. So lane i works on column x0 + i, r + 1 rows
// behind lane i - 1, and all lanes of a vector advance one row per step:
// every window then sees exactly what the one-pixel-at-a-time pass sees.
// A lane's window is held as its 2r + 1 row strips, the last ones loaded;
// a step writes each lane's result, tells the window that the centre of
// the strip loaded r + 1 steps ago was replaced by it, and loads the strip
// entering the window in place of the one leaving.
//
// Included by one source file per instruction set, each with its own vector
// type V. Everything here has internal linkage, and no out-of-line library
// function is instantiated, so code built for AVX2 never ends up called
// from elsewhere on a processor without it.

#include "sortingnetwork.h"

#include <QtGlobal>

#include <utility>

namespace
{

template <typename T> inline void copyWires(const T *from, int count, T *to)
{
    for (int i = 0; i < count; ++i)
        to[i] = from[i];
}

template <int Side> struct WindowNetworks {
    static constexpr sortingnetwork::Network sortRow = sortingnetwork::sortNetwork(Side);
    static constexpr sortingnetwork::Network median =
        sortingnetwork::medianOfSortedRowsNetwork(Side);
};

template <typename V> inline void exchange(typename V::T &low, typename V::T &high)
{
    const typename V::T smaller = V::min(low, high);
    high = V::max(low, high);
    low = smaller;
}

// Each strip is also kept sorted per byte; the median of the window is a
// fixed network over the sorted strips. Bytes are sorted independently, so
// red, green and blue each get their own median.
template <typename V, int Radius> class MedianWindow
{
    using T = typename V::T;
    static constexpr int side = 2 * Radius + 1;
    using Net = WindowNetworks<side>;

    T strip[side][side];
    T sorted[side][side];

    template <std::size_t... I> void sort(int slot, std::index_sequence<I...>)
    {
        T *wires = sorted[slot];
        copyWires(strip[slot], side, wires);
        (exchange<V>(wires[Net::sortRow.exchanges[I].low], wires[Net::sortRow.exchanges[I].high]),
         ...);
    }

    template <std::size_t... I> T median(std::index_sequence<I...>) const
    {
        T wires[side * side];
        for (int row = 0; row < side; ++row)
            copyWires(sorted[row], side, wires + row * side);
        (exchange<V>(wires[Net::median.exchanges[I].low], wires[Net::median.exchanges[I].high]),
         ...);
        return wires[Net::median.output];
    }

public:
    void start() {}

    T result() const
    {
        const T value = median(std::make_index_sequence<Net::median.size>());
        return V::or_(value, V::set1(int(0xFF000000u)));
    }

    void replaceCentre(int slot, T lanes, T value)
    {
        strip[slot][Radius] = V::select(lanes, value, strip[slot][Radius]);
        sort(slot, std::make_index_sequence<Net::sortRow.size>());
    }

    void enter(int slot, const T *pixels)
    {
        copyWires(pixels, side, strip[slot]);
        sort(slot, std::make_index_sequence<Net::sortRow.size>());
    }
};

// Channel sums in 16-bit fields: red and blue in one vector, green (and the
// unused alpha) in the other. A 7x7 window sums to at most 12495.
template <typename V, int Radius> class MeanWindow
{
    using T = typename V::T;
    static constexpr int side = 2 * Radius + 1;
    static constexpr int area = side * side;

    // sum / area as the high half of sum * multiplier, shifted right:
    // exact for every sum up to 255 * area.
    static constexpr int shift()
    {
        int k = 0;
        while ((((1 << (17 + k)) + area - 1) / area) <= 0xFFFF)
            ++k;
        return k;
    }
    static constexpr int extraShift = shift();
    static constexpr int multiplier = ((1 << (16 + extraShift)) + area - 1) / area;
    static_assert(255LL * area * (qint64(multiplier) * area - (1 << (16 + extraShift))) <
                  (1LL << (16 + extraShift)));

    T centre[side];
    T stripRedBlue[side], stripGreen[side];
    T redBlue, green; // the whole window

    static T redBlueOf(T pixels) { return V::and_(pixels, V::set1(0x00FF00FF)); }
    static T greenOf(T pixels)
    {
        return V::and_(V::template shiftRight32<8>(pixels), V::set1(0x00FF00FF));
    }

public:
    void start()
    {
        redBlue = green = V::set1(0);
        for (int slot = 0; slot < side; ++slot)
            stripRedBlue[slot] = stripGreen[slot] = redBlue;
    }

    T result() const
    {
        const T m = V::set1(int(quint32(multiplier) * 0x10001u)); // in both fields
        const T rb = V::template shiftRight16<extraShift>(V::mulHigh16(redBlue, m));
        const T g = V::template shiftRight16<extraShift>(V::mulHigh16(green, m));
        return V::or_(V::or_(rb, V::template shiftLeft32<8>(g)), V::set1(int(0xFF000000u)));
    }

    void replaceCentre(int slot, T lanes, T value)
    {
        const T now = V::select(lanes, value, centre[slot]);
        const T rb = V::sub16(redBlueOf(now), redBlueOf(centre[slot]));
        const T g = V::sub16(greenOf(now), greenOf(centre[slot]));
        stripRedBlue[slot] = V::add16(stripRedBlue[slot], rb);
        stripGreen[slot] = V::add16(stripGreen[slot], g);
        redBlue = V::add16(redBlue, rb);
        green = V::add16(green, g);
        centre[slot] = now;
    }

    void enter(int slot, const T *pixels)
    {
        T rb = redBlueOf(pixels[0]);
        T g = greenOf(pixels[0]);
        for (int p = 1; p < side; ++p) {
            rb = V::add16(rb, redBlueOf(pixels[p]));
            g = V::add16(g, greenOf(pixels[p]));
        }
        redBlue = V::add16(V::sub16(redBlue, stripRedBlue[slot]), rb);
        green = V::add16(V::sub16(green, stripGreen[slot]), g);
        stripRedBlue[slot] = rb;
        stripGreen[slot] = g;
        centre[slot] = pixels[Radius];
    }
};

template <typename V, int Radius, typename Window>
void runWavefront(quint32 *bits, int stride, int width, int height)
{
    using T = typename V::T;
    constexpr int side = 2 * Radius + 1;
    constexpr int lanes = V::lanes;
    constexpr int lag = Radius + 1;

    const int rows = height - 2 * Radius;
    const int lastStep = rows - 1 + (lanes - 1) * lag;
    const int lastColumn = width - Radius - 1;

    Window window;
    T entering[side];
    alignas(32) int offset[lanes] = {};
    alignas(32) int active[lanes];
    alignas(32) quint32 result[lanes];

    for (int x0 = Radius; x0 <= lastColumn; x0 += lanes) {
        const bool allColumns = x0 + lanes - 1 <= lastColumn;
        window.start();
        // Strips go to slot (step mod side), so the window of every lane is
        // always the last side strips loaded. Steps before 0 only load.
        for (int step = -side; step <= lastStep; ++step) {
            T value = V::set1(0);
            bool allWritten = false;
            if (step >= 0) {
                value = window.result();
                V::store(result, value);
                T written = V::set1(-1);
                if (allColumns && step >= (lanes - 1) * lag && step < rows) {
                    // Every lane at work.
                    quint32 *target = bits + (Radius + step) * stride + x0;
                    for (int i = 0; i < lanes; ++i)
                        target[i * (1 - lag * stride)] = result[i];
                    allWritten = true;
                } else {
                    for (int i = 0; i < lanes; ++i) {
                        const int done = step - i * lag; // rows this lane has finished
                        const bool on = done >= 0 && done < rows && x0 + i <= lastColumn;
                        active[i] = on ? -1 : 0;
                        if (on)
                            bits[(Radius + done) * stride + x0 + i] = result[i];
                    }
                    written = V::load(active);
                }
                window.replaceCentre((step - lag + side) % side, written, value);
            }

            // The row entering each lane's window is the one the lane to its
            // left has just written. Lanes outside the image read some row
            // or column inside it and write nothing.
            const int lowest = step - (lanes - 1) * lag + 2 * Radius + 1;
            const int highest = step + 2 * Radius + 1;
            if (allColumns && lowest > 0 && highest < height) {
                // Every lane one row further down than last step.
                for (int i = 0; i < lanes; ++i)
                    offset[i] += stride;
            } else {
                for (int i = 0; i < lanes; ++i) {
                    int row = highest - i * lag;
                    row = row < 0 ? 0 : row >= height ? height - 1 : row;
                    const int column = x0 + i <= lastColumn ? x0 + i : lastColumn;
                    offset[i] = row * stride + column - Radius;
                }
            }
            if (allWritten) {
                // The pixel just written by the lane to the left is taken
                // from there rather than read back through memory.
                if constexpr (Radius > 1)
                    V::template loadColumns<0, Radius - 1>(bits, offset, entering);
                entering[Radius - 1] = V::shiftLanesUp(value, bits[offset[0] + Radius - 1]);
                V::template loadColumns<Radius, Radius + 1>(bits, offset, entering + Radius);
            } else {
                V::template loadColumns<0, side>(bits, offset, entering);
            }
            window.enter((step + side) % side, entering);
        }
    }
}

template <typename V, template <typename, int> class Window>
bool runWavefront(quint32 *bits, int stride, int width, int height, int radius)
{
    switch (radius) {
    case 1:
        runWavefront<V, 1, Window<V, 1>>(bits, stride, width, height);
        return true;
    case 2:
        runWavefront<V, 2, Window<V, 2>>(bits, stride, width, height);
        return true;
    case 3:
        runWavefront<V, 3, Window<V, 3>>(bits, stride, width, height);
        return true;
    default:
        return false;
    }
}

// Runs the median (median true) or mean pass for radius 1, 2 or 3 on an
// image at least 2 * radius + 1 pixels wide and high; returns false and
// leaves the image alone for any other radius.
template <typename V>
bool filterWavefront(quint32 *bits, int stride, int width, int height, int radius, bool median)
{
    return median ? runWavefront<V, MedianWindow>(bits, stride, width, height, radius)
                  : runWavefront<V, MeanWindow>(bits, stride, width, height, radius);
}

} // namespace

#endif
