// Searches the median networks for 5 x 5 and 7 x 7 windows of sorted rows,
// and the pair of networks for two 7 x 7 windows one row apart, and prints
// them as analysis/mediannetworks.h:
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
//
// Two 7 x 7 windows one row apart in a column, the second taken after the
// first's centre was replaced by its result, share five whole rows and the
// first's centre row without its centre: 41 values. Each adds a row of its
// own and one value (the first its centre, the second that result), so only
// ranks 16 to 24 of the shared values can be either median. A shared network
// finds them once, and a small one finishes each window's median. They start
// as: the shared rows sorted as columns (the short row topped up with a value
// above all others, whose exchanges do nothing), the values that can still
// be ranks 16 to 24 sorted; then those ranks sorted with the window's own row
// and value. The pruning goes from the end as before, the finishing
// exchanges first.
#include "mediannetworkcheck.h"

#include <algorithm>
#include <cstdio>
#include <string>
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

// Wires of the pair's search: the five shared rows, the shared short row,
// the window's own row, its own value.
constexpr int pairWires = 49;
constexpr int pairRest = 35, pairOwnRow = 41, pairOwnValue = 48;
const std::vector<int> pairRows = {7, 7, 7, 7, 7, 6, 7, 1};

struct PairExchange {
    Exchange exchange;
    bool finish;
};

struct PairFound {
    std::vector<Exchange> shared;
    std::vector<int> sharedOutputs;
    std::vector<Exchange> finish; // on the shared outputs, the own row and value
    int finishOutput = 0;
};

// The exchanges that the output depends on, in their order.
std::vector<PairExchange> feedingOutput(const std::vector<PairExchange> &net, int output)
{
    std::vector<bool> needed(pairWires, false);
    needed[size_t(output)] = true;
    std::vector<PairExchange> kept;
    for (auto e = net.rbegin(); e != net.rend(); ++e) {
        if (needed[size_t(e->exchange.low)] || needed[size_t(e->exchange.high)]) {
            needed[size_t(e->exchange.low)] = needed[size_t(e->exchange.high)] = true;
            kept.push_back(*e);
        }
    }
    std::reverse(kept.begin(), kept.end());
    return kept;
}

bool pairSelectsMedian(const std::vector<PairExchange> &net, int output)
{
    std::vector<Exchange> plain;
    for (const PairExchange &e : net)
        plain.push_back(e.exchange);
    return sortingnetwork::selectsMedianOfSortedRows(plain.data(), int(plain.size()), output,
                                                     pairRows);
}

PairFound searchPair()
{
    const int top = pairWires; // the value above all others, never a real wire
    auto wire = [top](int row, int column) {
        return row < 5 ? row * 7 + column : column < 6 ? pairRest + column : top;
    };
    std::vector<Exchange> start;
    std::vector<int> column(6);
    for (int c = 0; c < 7; ++c) {
        for (int r = 0; r < 6; ++r)
            column[size_t(r)] = wire(r, c);
        sortWires(column, start);
    }
    // Six sorted rows and columns of 42 with the top value: (r, c) has at
    // least (r + 1)(c + 1) - 1 below it and (6 - r)(7 - c) - 1 above it.
    std::vector<int> candidates;
    int below16 = 0; // left out for having more than 25 above them
    for (int d = 0; d < 12; ++d) {
        std::vector<int> diagonal;
        for (int r = 0; r < 6; ++r) {
            const int c = d - r;
            if (c < 0 || c >= 7)
                continue;
            const int below = (r + 1) * (c + 1) - 1, above = (6 - r) * (7 - c) - 1;
            if (below <= 24 && above <= 25)
                diagonal.push_back(wire(r, c));
            else if (above > 25)
                ++below16;
        }
        sortWires(diagonal, start);
        candidates.insert(candidates.end(), diagonal.begin(), diagonal.end());
    }
    sortWires(candidates, start);
    std::vector<PairExchange> net;
    for (const Exchange &e : start)
        if (e.high != top)
            net.push_back({e, false});
    std::vector<int> last;
    for (int i = 16 - below16; i <= 24 - below16; ++i)
        last.push_back(candidates[size_t(i)]);
    for (int w = pairOwnRow; w <= pairOwnValue; ++w)
        last.push_back(w);
    std::vector<Exchange> finish;
    sortWires(last, finish);
    for (const Exchange &e : finish)
        net.push_back({e, true});
    const int output = last[last.size() / 2];

    net = feedingOutput(net, output);
    for (bool removed = true; removed;) {
        removed = false;
        for (int i = int(net.size()) - 1; i >= 0; --i) {
            std::vector<PairExchange> without = net;
            without.erase(without.begin() + i);
            if (pairSelectsMedian(without, output)) {
                net = feedingOutput(without, output);
                i = std::min(i, int(net.size()));
                removed = true;
            }
        }
    }

    // The finishing network on wires of its own: the shared outputs it
    // reads, then the own row and value.
    PairFound found;
    for (const PairExchange &e : net) {
        if (!e.finish) {
            found.shared.push_back(e.exchange);
            continue;
        }
        for (int w : {e.exchange.low, e.exchange.high})
            if (w < pairOwnRow && std::find(found.sharedOutputs.begin(), found.sharedOutputs.end(),
                                            w) == found.sharedOutputs.end())
                found.sharedOutputs.push_back(w);
    }
    const int own = int(found.sharedOutputs.size());
    auto local = [&](int w) {
        if (w >= pairOwnRow)
            return own + w - pairOwnRow;
        return int(std::find(found.sharedOutputs.begin(), found.sharedOutputs.end(), w) -
                   found.sharedOutputs.begin());
    };
    for (const PairExchange &e : net)
        if (e.finish)
            found.finish.push_back({local(e.exchange.low), local(e.exchange.high)});
    found.finishOutput = local(output);
    return found;
}

void printExchanges(const char *name, const std::vector<Exchange> &exchanges)
{
    std::printf("constexpr Exchange %s[] = {", name);
    for (size_t i = 0; i < exchanges.size(); ++i)
        std::printf("%s{%d, %d}", i ? ", " : "", exchanges[i].low, exchanges[i].high);
    std::printf("};\n");
}

} // namespace

int main()
{
    std::printf("#ifndef ORVELLA_MEDIANNETWORKS_H\n#define ORVELLA_MEDIANNETWORKS_H\n\n"
                "// Written by bench/mediannetwork.cpp: the exchanges that select the median\n"
                "// of a 5 x 5 and a 7 x 7 window whose rows are each sorted (wire\n"
                "// row * side + column), and the wire that holds it at the end.\n//\n"
                "// Then the pair for two 7 x 7 windows one row apart: the shared network\n"
                "// on five sorted rows (wires 0 to 34) and the sorted first centre row\n"
                "// without its centre (35 to 40), the wires of its results, and the\n"
                "// finishing network on those results, a sorted row of the window's own\n"
                "// and one value of its own, in that order.\n\n"
                "#include \"sortingnetwork.h\"\n\nnamespace sortingnetwork\n{\n");
    for (int side : {5, 7}) {
        const Found found = search(side);
        std::printf("\nconstexpr int median%dOutput = %d;\n", side, found.output);
        printExchanges(("median" + std::to_string(side)).c_str(), found.exchanges);
    }
    const PairFound pair = searchPair();
    std::printf("\n");
    printExchanges("median7Shared", pair.shared);
    std::printf("constexpr int median7SharedOutputs[] = {");
    for (size_t i = 0; i < pair.sharedOutputs.size(); ++i)
        std::printf("%s%d", i ? ", " : "", pair.sharedOutputs[i]);
    std::printf("};\nconstexpr int median7FinishOutput = %d;\n", pair.finishOutput);
    printExchanges("median7Finish", pair.finish);
    std::printf("\n} // namespace sortingnetwork\n\n#endif\n");
}
