#ifndef ORVELLA_MEDIANNETWORKCHECK_H
#define ORVELLA_MEDIANNETWORKCHECK_H

// Whether a network picks the median of side x side values given as rows
// that are each sorted (wire row * side + column).
//
// A network of compare-exchanges commutes with every threshold, so it
// selects the median of all such inputs exactly when it does so for every
// input of zeros and ones; sorted rows of zeros and ones are given by how
// many zeros each row starts with. That is (side + 1)^side inputs, run 64 at
// a time as the bits of a word. For the tests and the network search only.

#include "sortingnetwork.h"

#include <cstdint>
#include <vector>

namespace sortingnetwork
{

inline bool selectsMedianOfSortedRows(const Exchange *exchanges, int size, int output, int side)
{
    const int wires = side * side;
    int inputs = 1;
    for (int row = 0; row < side; ++row)
        inputs *= side + 1;
    const int words = (inputs + 63) / 64;
    std::vector<std::vector<std::uint64_t>> wire(wires, std::vector<std::uint64_t>(words));
    std::vector<std::uint64_t> median(words);
    for (int n = 0; n < inputs; ++n) {
        const std::uint64_t bit = std::uint64_t(1) << (n % 64);
        int rest = n, ones = 0;
        for (int row = 0; row < side; ++row, rest /= side + 1)
            for (int column = rest % (side + 1); column < side; ++column, ++ones)
                wire[row * side + column][n / 64] |= bit;
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

} // namespace sortingnetwork

#endif
