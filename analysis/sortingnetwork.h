#ifndef ORVELLA_SORTINGNETWORK_H
#define ORVELLA_SORTINGNETWORK_H

#include <array>

// Compare-exchange networks built at compile time from Batcher's odd-even
// merge sort, for the median filter's small windows (side 3 to 7).

namespace sortingnetwork
{

// Wire `low` receives the smaller value, wire `high` the larger.
struct Exchange {
    int low;
    int high;
};

struct Network {
    std::array<Exchange, 600> exchanges{};
    int size = 0;
    int output = 0; // the wire holding the wanted value once the network ran
};

constexpr int powerOfTwoAtLeast(int n)
{
    int p = 1;
    while (p < n)
        p *= 2;
    return p;
}

// Calls emit(a, b) for the exchanges of Batcher's network on `wires`
// (a power of two) that merge sorted blocks of firstBlock wires upwards.
template <typename Emit> constexpr void oddEvenMerges(int wires, int firstBlock, Emit &&emit)
{
    for (int p = firstBlock; p < wires; p *= 2)
        for (int k = p; k >= 1; k /= 2)
            for (int j = k % p; j + k < wires; j += 2 * k)
                for (int i = 0; i < k && i + j + k < wires; ++i)
                    if ((i + j) / (p * 2) == (i + j + k) / (p * 2))
                        emit(i + j, i + j + k);
}

// Sorts `side` wires. The merge sort runs on the next power of two with the
// missing wires taken as +infinity at the top, which makes every exchange
// touching them a no-op.
constexpr Network sortNetwork(int side)
{
    Network net;
    oddEvenMerges(powerOfTwoAtLeast(side), 1, [&](int a, int b) {
        if (b < side)
            net.exchanges[net.size++] = {a, b};
    });
    return net;
}

// Finds the median of side * side wires given as `side` rows of `side`
// wires, each row already sorted (wire row * side + column). Only the
// exchanges the median depends on are kept.
constexpr Network medianOfSortedRowsNetwork(int side)
{
    // Merge the rows as a block of padded rows: +infinity pads fill each row
    // to a power of two and add whole rows, so the real values end up first
    // and the median keeps its position.
    const int padded = powerOfTwoAtLeast(side);
    const int wires = padded * padded;
    std::array<int, 64> realWire{}; // padded wire -> real wire, or -1 for a pad
    for (int w = 0; w < wires; ++w) {
        const int row = w / padded, column = w % padded;
        realWire[w] = row < side && column < side ? row * side + column : -1;
    }
    Network all;
    oddEvenMerges(wires, padded, [&](int a, int b) {
        if (realWire[b] < 0)
            return; // the pad stays on top
        if (realWire[a] < 0) {
            // The real value moves down, the pad up.
            realWire[a] = realWire[b];
            realWire[b] = -1;
            return;
        }
        all.exchanges[all.size++] = {realWire[a], realWire[b]};
    });

    // Keep, from the end backwards, the exchanges that feed the median.
    std::array<bool, 64> needed{};
    const int median = realWire[side * side / 2];
    needed[median] = true;
    std::array<bool, 600> keep{};
    for (int i = all.size - 1; i >= 0; --i) {
        const Exchange e = all.exchanges[i];
        if (needed[e.low] || needed[e.high]) {
            keep[i] = needed[e.low] = needed[e.high] = true;
        }
    }
    Network net;
    for (int i = 0; i < all.size; ++i)
        if (keep[i])
            net.exchanges[net.size++] = all.exchanges[i];
    net.output = median;
    return net;
}

} // namespace sortingnetwork

#endif
