#ifndef ORVELLA_MEDIANNETWORKCHECK_H
#define ORVELLA_MEDIANNETWORKCHECK_H

// Whether a network picks the median of values given as rows that are each
// sorted: row lengths[0] on the first wires, row lengths[1] after it, and so
// on (a square window of side n is n rows of n, wire row * n + column).
//
// A network of compare-exchanges commutes with every threshold, so it
// selects the median of all such inputs exactly when it does so for every
// input of zeros and ones; sorted rows of zeros and ones are given by how
// many zeros each row starts with. That is the product of (length + 1) over
// the rows, run 64 at a time as the bits of a word. For the tests and the
// network search only.

#include "sortingnetwork.h"

#include <cstdint>
#include <vector>

namespace sortingnetwork
{

inline bool selectsMedianOfSortedRows(const Exchange *exchanges, int size, int output,
                                      const std::vector<int> &lengths)
{
    int wires = 0, inputs = 1;
    for (int length : lengths) {
        wires += length;
        inputs *= length + 1;
    }
    const int words = (inputs + 63) / 64;
    std::vector<std::vector<std::uint64_t>> wire(wires, std::vector<std::uint64_t>(words));
    std::vector<std::uint64_t> median(words);
    for (int n = 0; n < inputs; ++n) {
        const std::uint64_t bit = std::uint64_t(1) << (n % 64);
        int rest = n, ones = 0, first = 0;
        for (int length : lengths) {
            for (int column = rest % (length + 1); column < length; ++column, ++ones)
                wire[first + column][n / 64] |= bit;
            rest /= length + 1;
            first += length;
        }
        if (ones > wires / 2)
            median[n / 64] |= bit;
    }
    for (int i = 0; i < size; ++i) {
        std::vector<std::uint64_t> &low = wire[exchanges[i].low];
        std::vector<std::uint64_t> &high = wire[exchanges[i].high];
        for (int w = 0; w < words; ++w) {
            const std::uint64_t a = low[w], b = high[w];
            low[w] = a & b;
            high[w] = a | b;
        }
    }
    return wire[output] == median;
}

inline bool selectsMedianOfSortedRows(const Exchange *exchanges, int size, int output, int side)
{
    return selectsMedianOfSortedRows(exchanges, size, output, std::vector<int>(side, side));
}

} // namespace sortingnetwork

#endif
