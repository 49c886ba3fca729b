// Searches the median networks for 5 x 5 and 7 x 7 windows of sorted rows
// and prints them as analysis/mediannetworks.h:
//
//     build/bin/median_network > analysis/mediannetworks.h
//
// Each starts from a network that certainly selects the median: sort the
// columns (rows and columns are then both sorted), keep only the values
// whose rank can still be the median's, sort each of their anti-diagonals,
// and sort them all. Then, from the last exchange to the first, every
// exchange goes whose removal leaves a network that still selects the
// median of every input (checked exhaustively by the zero-one principle),
// and so on until none can go.
#include "mediannetworkcheck.h"

#include <algorithm>
#include <cstdio>
#include <vector>

using sortingnetwork::Exchange;

namespace
{

struct Found {
    std::vector<Exchange> exchanges;
    int output = 0;
};

// The exchanges that the output depends on, in their order.
std::vector<Exchange> feedingOutput(const std::vector<Exchange> &net, int output, int wires)
{
    std::vector<bool> needed(size_t(wires), false);
    needed[size_t(output)] = true;
    std::vector<Exchange> kept;
    for (auto e = net.rbegin(); e != net.rend(); ++e) {
        if (needed[size_t(e->low)] || needed[size_t(e->high)]) {
            needed[size_t(e->low)] = needed[size_t(e->high)] = true;
            kept.push_back(*e);
        }
    }
    std::reverse(kept.begin(), kept.end());
    return kept;
}

// Appends the exchanges sorting `wires` (in that order, smallest first).
void sortWires(const std::vector<int> &wires, std::vector<Exchange> &net)
{
    const sortingnetwork::Network sort = sortingnetwork::sortNetwork(int(wires.size()));
    for (int i = 0; i < sort.size; ++i)
        net.push_back(
            {wires[size_t(sort.exchanges[i].low)], wires[size_t(sort.exchanges[i].high)]});
}

Found startingNetwork(int side)
{
    std::vector<Exchange> net;
    std::vector<int> column(static_cast<size_t>(side));
    for (int c = 0; c < side; ++c) {
        for (int r = 0; r < side; ++r)
            column[size_t(r)] = r * side + c;
        sortWires(column, net);
    }
    // In sorted rows and columns, (r, c) has at least (r + 1)(c + 1) - 1
    // values below it and (side - r)(side - c) - 1 above it.
    const int half = side * side / 2;
    std::vector<int> candidates;
    for (int d = 0; d < 2 * side - 1; ++d) {
        std::vector<int> diagonal;
        for (int r = 0; r < side; ++r) {
            const int c = d - r;
            if (c >= 0 && c < side && (r + 1) * (c + 1) - 1 <= half &&
                (side - r) * (side - c) - 1 <= half)
                diagonal.push_back(r * side + c);
        }
        sortWires(diagonal, net);
        candidates.insert(candidates.end(), diagonal.begin(), diagonal.end());
    }
    sortWires(candidates, net);
    return {net, candidates[candidates.size() / 2]};
}

Found search(int side)
{
    Found found = startingNetwork(side);
    const int wires = side * side;
    std::vector<Exchange> net = feedingOutput(found.exchanges, found.output, wires);
    for (bool removed = true; removed;) {
        removed = false;
        for (int i = int(net.size()) - 1; i >= 0; --i) {
            std::vector<Exchange> without = net;
            without.erase(without.begin() + i);
            if (sortingnetwork::selectsMedianOfSortedRows(without.data(), int(without.size()),
                                                          found.output, side)) {
                net = feedingOutput(without, found.output, wires);
                i = std::min(i, int(net.size()));
                removed = true;
            }
        }
    }
    found.exchanges = net;
    return found;
}

} // namespace

int main()
{
    std::printf("#ifndef ORVELLA_MEDIANNETWORKS_H\n#define ORVELLA_MEDIANNETWORKS_H\n\n"
                "// Written by bench/mediannetwork.cpp: the exchanges that select the median\n"
                "// of a 5 x 5 and a 7 x 7 window whose rows are each sorted (wire\n"
                "// row * side + column), and the wire that holds it at the end.\n\n"
                "#include \"sortingnetwork.h\"\n\nnamespace sortingnetwork\n{\n");
    for (int side : {5, 7}) {
        const Found found = search(side);
        std::printf("\nconstexpr int median%dOutput = %d;\nconstexpr Exchange median%d[] = {", side,
                    found.output, side);
        for (size_t i = 0; i < found.exchanges.size(); ++i)
            std::printf("%s{%d, %d}", i ? ", " : "", found.exchanges[i].low,
                        found.exchanges[i].high);
        std::printf("};\n");
    }
    std::printf("\n} // namespace sortingnetwork\n\n#endif\n");
}
