#ifndef ORVELLA_MEDIANWAVEFRONT_H
#define ORVELLA_MEDIANWAVEFRONT_H

// The median pass for windows of side 3, 5 and 7, several columns at once.
//
// Each column's pixels depend on the column to their left, but only on its
// rows up to r below them. So lane i works on column x0 + i, r + 1 rows
// behind lane i - 1, and all lanes of a vector advance one row per step:
// every window then sees exactly what the one-pixel-at-a-time pass sees.
//
// A lane keeps its window as 2r + 1 row strips of 2r + 1 pixels, each also
// kept sorted per byte. A step loads and sorts the one strip entering the
// window, re-sorts the strip holding the pixel just written, and runs a
// fixed network for the median of the sorted strips. Bytes are sorted
// independently, so red, green and blue each get their own median.
//
// Included by one source file per instruction set, each with its own vector
// type V; everything here has internal linkage so the copies never mix.

#include "sortingnetwork.h"

#include <QImage>

#include <algorithm>
#include <utility>

namespace
{

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

template <typename V, int Side, std::size_t... I>
inline void sortStrip(typename V::T *wires, std::index_sequence<I...>)
{
    using Net = WindowNetworks<Side>;
    (exchange<V>(wires[Net::sortRow.exchanges[I].low], wires[Net::sortRow.exchanges[I].high]), ...);
}

template <typename V, int Side, std::size_t... I>
inline typename V::T medianOfStrips(const typename V::T (&sorted)[Side][Side],
                                    std::index_sequence<I...>)
{
    using Net = WindowNetworks<Side>;
    typename V::T wires[Side * Side];
    for (int row = 0; row < Side; ++row)
        for (int i = 0; i < Side; ++i)
            wires[row * Side + i] = sorted[row][i];
    (exchange<V>(wires[Net::median.exchanges[I].low], wires[Net::median.exchanges[I].high]), ...);
    return wires[Net::median.output];
}

template <typename V, int Radius>
void medianWavefront(quint32 *bits, int stride, int width, int height)
{
    using T = typename V::T;
    constexpr int side = 2 * Radius + 1;
    constexpr int lanes = V::lanes;
    constexpr int lag = Radius + 1;
    constexpr auto sortIndices = std::make_index_sequence<WindowNetworks<side>::sortRow.size>();
    constexpr auto medianIndices = std::make_index_sequence<WindowNetworks<side>::median.size>();

    const int rows = height - 2 * Radius;
    const int lastStep = rows - 1 + (lanes - 1) * lag;
    const int lastColumn = width - Radius - 1;

    // Strips by the step that loaded them, modulo side: the window of every
    // lane is always the last side strips loaded.
    T strip[side][side];
    T sorted[side][side];
    alignas(32) int offset[lanes];
    alignas(32) int active[lanes];
    alignas(32) quint32 result[lanes];

    for (int x0 = Radius; x0 <= lastColumn; x0 += lanes) {
        // Steps before 0 only fill the first windows.
        const bool allColumns = x0 + lanes - 1 <= lastColumn;
        for (int step = -side; step <= lastStep; ++step) {
            // In the middle of the columns every lane is at work and every
            // lane's entering row is inside the image.
            const bool steady = allColumns && step >= (lanes - 1) * lag && step < rows &&
                                step + 2 * Radius + 1 < height;
            if (step >= 0) {
                const T median = V::opaque(medianOfStrips<V, side>(sorted, medianIndices));
                V::store(result, median);
                T writtenLanes = V::allLanes();
                if (steady) {
                    quint32 *target = bits + (Radius + step) * stride + x0;
                    for (int i = 0; i < lanes; ++i)
                        target[i * (1 - lag * stride)] = result[i];
                } else {
                    for (int i = 0; i < lanes; ++i) {
                        const int done = step - i * lag; // rows this lane has finished
                        const bool on = done >= 0 && done < rows && x0 + i <= lastColumn;
                        active[i] = on ? -1 : 0;
                        if (on)
                            bits[(Radius + done) * stride + x0 + i] = result[i];
                    }
                    writtenLanes = V::load(active);
                }
                // The pixel just written sits in the middle of the strip
                // loaded lag steps ago, which stays in the window.
                const int written = (step - lag + side) % side;
                strip[written][Radius] = V::select(writtenLanes, median, strip[written][Radius]);
                std::copy(strip[written], strip[written] + side, sorted[written]);
                sortStrip<V, side>(sorted[written], sortIndices);
            }

            // The row entering each lane's window is the one the lane to its
            // left has just written. Lanes outside the image read some row
            // or column inside it and write nothing.
            const int entering = (step + side) % side;
            for (int i = 0; i < lanes; ++i) {
                const int row = std::clamp(step - i * lag + 2 * Radius + 1, 0, height - 1);
                offset[i] = row * stride + std::min(x0 + i, lastColumn) - Radius;
            }
            for (int p = 0; p < side; ++p)
                strip[entering][p] = V::gather(bits, offset, p);
            std::copy(strip[entering], strip[entering] + side, sorted[entering]);
            sortStrip<V, side>(sorted[entering], sortIndices);
        }
    }
}

// Runs the pass for radius 1, 2 or 3; returns false for any other radius.
template <typename V>
bool medianWavefront(quint32 *bits, int stride, int width, int height, int radius)
{
    switch (radius) {
    case 1:
        medianWavefront<V, 1>(bits, stride, width, height);
        return true;
    case 2:
        medianWavefront<V, 2>(bits, stride, width, height);
        return true;
    case 3:
        medianWavefront<V, 3>(bits, stride, width, height);
        return true;
    default:
        return false;
    }
}

} // namespace

#endif
