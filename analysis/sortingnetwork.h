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
// (mid, hi], taking every r-th wire from lo; addExchange(a, b) for each exchange.
template <typename AddExchange>
constexpr void oddEvenMerge(int lo, int hi, int r, AddExchange &addExchange)
{
    const int step = r * 2;
    if (step < hi - lo) {
        oddEvenMerge(lo, hi, step, addExchange);
        oddEvenMerge(lo + r, hi, step, addExchange);
        for (int i = lo + r; i < hi - r; i += step)
            addExchange(i, i + r);
    } else {
        addExchange(lo, lo + r);
    }
}

// Batcher's merge sort of wires lo .. hi (a power of two of them). Depth
// first, so each stretch of the network works on few wires at a time.
template <typename AddExchange>
constexpr void oddEvenMergeSort(int lo, int hi, AddExchange &addExchange)
{
    if (hi <= lo)
        return;
    const int mid = lo + (hi - lo) / 2;
    oddEvenMergeSort(lo, mid, addExchange);
    oddEvenMergeSort(mid + 1, hi, addExchange);
    oddEvenMerge(lo, hi, 1, addExchange);
}

// Sorts `side` wires. The merge sort runs on the next power of two with the
// missing wires taken as +infinity at the top, which makes every exchange
// touching them a no-op.
constexpr Network sortNetwork(int side)
{
    Network net;
    auto addExchange = [&](int a, int b) {
        if (b < side)
            net.exchanges[net.size++] = {a, b};
    };
    oddEvenMergeSort(0, powerOfTwoAtLeast(side) - 1, addExchange);
    return net;
}

} // namespace sortingnetwork

#endif
