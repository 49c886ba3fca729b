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

// An exchange of a search, marked when it finishes a window of the pair.
struct Step {
    Exchange exchange;
    bool finish = false;
};

// Appends the exchanges sorting `wires` (in that order, smallest first).
void sortWires(const std::vector<int> &wires, std::vector<Exchange> &net)
{
    const sortingnetwork::Network sort = sortingnetwork::sortNetwork(int(wires.size()));
    for (int i = 0; i < sort.size; ++i)
        net.push_back(
            {wires[size_t(sort.exchanges[i].low)], wires[size_t(sort.exchanges[i].high)]});
}

// A table of rows x columns sorted rows, wire(r, c) each: appends the sorts
// of its columns, then of each anti-diagonal of the values whose rank can
// still lie in [low, high], then of those values all together. In sorted
// rows and columns, (r, c) has at least (r + 1)(c + 1) - 1 values below it
// and (rows - r)(columns - c) - 1 above it. Returns those values in order,
// and in `leftBelow` how many were left out for lying below them all.
template <typename Wire>
std::vector<int> sortedCandidates(int rows, int columns, Wire wire, int low, int high,
                                  std::vector<Exchange> &net, int &leftBelow)
{
    std::vector<int> column(static_cast<size_t>(rows));
    for (int c = 0; c < columns; ++c) {
        for (int r = 0; r < rows; ++r)
            column[size_t(r)] = wire(r, c);
        sortWires(column, net);
    }
    const int last = rows * columns - 1;
    std::vector<int> candidates;
    leftBelow = 0;
    for (int d = 0; d < rows + columns - 1; ++d) {
        std::vector<int> diagonal;
        for (int r = 0; r < rows; ++r) {
            const int c = d - r;
            if (c < 0 || c >= columns)
                continue;
            const int below = (r + 1) * (c + 1) - 1, above = (rows - r) * (columns - c) - 1;
            if (below <= high && above <= last - low)
                diagonal.push_back(wire(r, c));
            else if (above > last - low)
                ++leftBelow;
        }
        sortWires(diagonal, net);
        candidates.insert(candidates.end(), diagonal.begin(), diagonal.end());
    }
    sortWires(candidates, net);
    return candidates;
}

// The steps that the output depends on, in their order.
std::vector<Step> feedingOutput(const std::vector<Step> &net, int output, int wires)
{
    std::vector<bool> needed(size_t(wires), false);
    needed[size_t(output)] = true;
    std::vector<Step> kept;
    for (auto e = net.rbegin(); e != net.rend(); ++e) {
        if (needed[size_t(e->exchange.low)] || needed[size_t(e->exchange.high)]) {
            needed[size_t(e->exchange.low)] = needed[size_t(e->exchange.high)] = true;
            kept.push_back(*e);
        }
    }
    std::reverse(kept.begin(), kept.end());
    return kept;
}

// From the last step to the first, every step goes whose removal leaves a
// network that still selects the median of sorted rows of these lengths,
// and so on until none can go.
std::vector<Step> pruned(const std::vector<Step> &start, int output, const std::vector<int> &rows)
{
    int wires = 0;
    for (int length : rows)
        wires += length;
    auto selectsMedian = [&](const std::vector<Step> &net) {
        std::vector<Exchange> plain;
        for (const Step &e : net)
            plain.push_back(e.exchange);
        return sortingnetwork::selectsMedianOfSortedRows(plain.data(), int(plain.size()), output,
                                                         rows);
    };
    std::vector<Step> net = feedingOutput(start, output, wires);
    for (bool removed = true; removed;) {
        removed = false;
        for (int i = int(net.size()) - 1; i >= 0; --i) {
            std::vector<Step> without = net;
            without.erase(without.begin() + i);
            if (selectsMedian(without)) {
                net = feedingOutput(without, output, wires);
                i = std::min(i, int(net.size()));
                removed = true;
            }
        }
    }
    return net;
}

Found search(int side)
{
    std::vector<Exchange> start;
    int leftBelow = 0;
    const int half = side * side / 2;
    const std::vector<int> candidates = sortedCandidates(
        side, side, [side](int r, int c) { return r * side + c; }, half, half, start, leftBelow);
    Found found;
    found.output = candidates[candidates.size() / 2];
    std::vector<Step> net;
    for (const Exchange &e : start)
        net.push_back({e});
    for (const Step &e : pruned(net, found.output, std::vector<int>(size_t(side), side)))
        found.exchanges.push_back(e.exchange);
    return found;
}

// Wires of the pair's search: the five shared rows, the shared short row,
// the window's own row, its own value.
constexpr int pairWires = 49;
constexpr int pairRest = 35, pairOwnRow = 41, pairOwnValue = 48;

struct PairFound {
    std::vector<Exchange> shared;
    std::vector<int> sharedOutputs;
    std::vector<Exchange> finish; // on the shared outputs, the own row and value
    int finishOutput = 0;
};

PairFound searchPair()
{
    const int top = pairWires; // the value above all others, never a real wire
    auto wire = [top](int row, int column) {
        return row < 5 ? row * 7 + column : column < 6 ? pairRest + column : top;
    };
    // Six rows of seven with the top value: ranks 16 to 24 of the 41 real
    // values are those of the 42.
    std::vector<Exchange> start;
    int below16 = 0;
    const std::vector<int> candidates = sortedCandidates(6, 7, wire, 16, 24, start, below16);
    std::vector<Step> net;
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
    net = pruned(net, output, {7, 7, 7, 7, 7, 6, 7, 1});

    // The finishing network on wires of its own: the shared outputs it
    // reads, then the own row and value.
    PairFound found;
    for (const Step &e : net) {
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
    for (const Step &e : net)
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
