#ifndef ORVELLA_SORTINGNETWORK_H
#define ORVELLA_SORTINGNETWORK_H

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
    Exchange exchanges[600]{};
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

// Batcher's odd-even merge of the sorted wire ranges [lo, mid] and
// (mid, hi], taking every r-th wire from lo; emit(a, b) for each exchange.
template <typename Emit> constexpr void oddEvenMerge(int lo, int hi, int r, Emit &emit)
{
    const int step = r * 2;
    if (step < hi - lo) {
        oddEvenMerge(lo, hi, step, emit);
        oddEvenMerge(lo + r, hi, step, emit);
        for (int i = lo + r; i < hi - r; i += step)
            emit(i, i + r);
    } else {
        emit(lo, lo + r);
    }
}

// Batcher's merge sort of wires lo .. hi (a power of two of them), whose
// blocks of sortedBlock wires are sorted already. Depth first, so each
// stretch of the network works on few wires at a time.
template <typename Emit>
constexpr void oddEvenMergeSort(int lo, int hi, int sortedBlock, Emit &emit)
{
    if (hi - lo + 1 <= sortedBlock)
        return;
    const int mid = lo + (hi - lo) / 2;
    oddEvenMergeSort(lo, mid, sortedBlock, emit);
    oddEvenMergeSort(mid + 1, hi, sortedBlock, emit);
    oddEvenMerge(lo, hi, 1, emit);
}

// Sorts `side` wires. The merge sort runs on the next power of two with the
// missing wires taken as +infinity at the top, which makes every exchange
// touching them a no-op.
constexpr Network sortNetwork(int side)
{
    Network net;
    auto emit = [&](int a, int b) {
        if (b < side)
            net.exchanges[net.size++] = {a, b};
    };
    oddEvenMergeSort(0, powerOfTwoAtLeast(side) - 1, 1, emit);
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
    int realWire[64]{}; // padded wire -> real wire, or -1 for a pad
    for (int w = 0; w < wires; ++w) {
        const int row = w / padded, column = w % padded;
        realWire[w] = row < side && column < side ? row * side + column : -1;
    }
    Network all;
    auto emit = [&](int a, int b) {
        if (realWire[b] < 0)
            return; // the pad stays on top
        if (realWire[a] < 0) {
            // The real value moves down, the pad up.
            realWire[a] = realWire[b];
            realWire[b] = -1;
            return;
        }
        all.exchanges[all.size++] = {realWire[a], realWire[b]};
    };
    oddEvenMergeSort(0, wires - 1, padded, emit);

    // Keep, from the end backwards, the exchanges that feed the median.
    bool needed[64]{};
    const int median = realWire[side * side / 2];
    needed[median] = true;
    bool keep[600]{};
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
