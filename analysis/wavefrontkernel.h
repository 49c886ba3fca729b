#ifndef ORVELLA_WAVEFRONTKERNEL_H
#define ORVELLA_WAVEFRONTKERNEL_H

// The filter passes for windows of side 3, 5 and 7, several columns at once.
//
// Each column's pixels depend on the column to their left, but only on its
// rows up to r below them. So lane i works on column x0 + i, r + 2 rows
// behind lane i - 1, and all lanes of a vector advance one row per step:
// every window then sees exactly what the one-pixel-at-a-time pass sees.
// A lane's window is held as its 2r + 1 row strips, the last ones loaded;
// a step writes each lane's result, tells the window that the centre of
// the strip loaded r + 1 steps ago was replaced by it, and loads the strip
// entering the window in place of the one leaving. The steps where every
// lane is at work run as rounds of 2r + 1, so that each strip's slot is
// known when compiling and the window can live in registers. A lane that
// is done with its column goes on with the one a vector further right
// while the lanes after it finish theirs: a lane then waits only for its
// first strips at the top of each column, and every lane only at the
// start and the end of the image.
//
// The 7x7 median's window is far too big for registers. Its steps where
// every lane is at work go two at a time instead, the two windows sharing
// most of their work (see MedianWindow::share), with the slots worked out
// as they go: unrolled rounds of that would be too much code for the
// processor to keep decoded, which costs more than the slots do.
//
// Included by one source file per instruction set, each with its own vector
// type V. Everything here has internal linkage, and no out-of-line library
// function is instantiated, so code built for AVX2 never ends up called
// from elsewhere on a processor without it.

#include "mediannetworks.h"
#include "sortingnetwork.h"

#include <QtGlobal>

#include <emmintrin.h>

#include <iterator>
#include <tuple>
#include <utility>

namespace
{

// Count (1 to 4) consecutive pixels from `at` in the low words of a vector.
// Exact reads touch nothing else; otherwise three are read as four.
// Reading exactly what is needed also matters next to pixels written a step
// or two ago: a wider read over a fresh narrower write waits for it.
template <int Count, bool Exact> inline __m128i loadFour(const quint32 *at)
{
    if constexpr (Count == 1)
        return _mm_cvtsi32_si128(int(*at));
    else if constexpr (Count == 2)
        return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(at));
    else if constexpr (Count == 3 && Exact)
        return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(at)),
                                  _mm_cvtsi32_si128(int(at[2])));
    else
        return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
}

template <typename T> inline void copyWires(const T *from, int count, T *to)
{
    for (int i = 0; i < count; ++i)
        to[i] = from[i];
}

// The median of a window of sorted rows; side 3 takes a way of its own.
template <int Side> constexpr sortingnetwork::Network medianOfSortedRows()
{
    sortingnetwork::Network net;
    auto take = [&net](const auto &exchanges, int output) {
        for (const sortingnetwork::Exchange &e : exchanges)
            net.exchanges[net.size++] = e;
        net.output = output;
    };
    if constexpr (Side == 5)
        take(sortingnetwork::median5, sortingnetwork::median5Output);
    else if constexpr (Side == 7)
        take(sortingnetwork::median7, sortingnetwork::median7Output);
    return net;
}

template <int Side> struct WindowNetworks {
    static constexpr sortingnetwork::Network sortRow = sortingnetwork::sortNetwork(Side);
    static constexpr sortingnetwork::Network median = medianOfSortedRows<Side>();
};

// Two 7x7 windows one row apart, the second after the first's centre was
// replaced: what they share, and what finishes each one's median.
struct PairNetworks {
    static constexpr int sharedSize = int(std::size(sortingnetwork::median7Shared));
    static constexpr int results = int(std::size(sortingnetwork::median7SharedOutputs));
    static constexpr int finishSize = int(std::size(sortingnetwork::median7Finish));
};

template <typename V> inline void exchange(typename V::T &low, typename V::T &high)
{
    const typename V::T smaller = V::min(low, high);
    high = V::max(low, high);
    low = smaller;
}

// Sorts wires[0 .. N - 1] with the network for N wires.
template <typename V, int N, std::size_t... I>
inline void sortWires(typename V::T *wires, std::index_sequence<I...>)
{
    using Net = WindowNetworks<N>;
    (exchange<V>(wires[Net::sortRow.exchanges[I].low], wires[Net::sortRow.exchanges[I].high]), ...);
    (void)wires; // no exchanges for a single wire
}

template <typename V, int N> inline void sortWires(typename V::T *wires)
{
    sortWires<V, N>(wires, std::make_index_sequence<WindowNetworks<N>::sortRow.size>());
}

// to[0 .. N] = the sorted from[0 .. N - 1] with v put in its place. Two
// steps deep from v, so the value that arrives last goes in last.
template <typename V, int N>
inline void insertSorted(const typename V::T *from, typename V::T v, typename V::T *to)
{
    to[0] = V::min(from[0], v);
    for (int k = 1; k < N; ++k)
        to[k] = V::max(from[k - 1], V::min(from[k], v));
    to[N] = V::max(from[N - 1], v);
}

// Each strip is kept sorted per byte; the median of the window is a fixed
// network over the sorted strips. Bytes are sorted independently, so red,
// green and blue each get their own median.
//
// A strip's centre is replaced by this lane's own result Radius + 1 steps
// after the strip entered. So each strip is also kept sorted without its
// centre, and the new centre is merged into that: two steps deep, which
// keeps the chain from one step's result to the next short.
template <typename V, int Radius> class MedianWindow
{
    using T = typename V::T;
    static constexpr int side = 2 * Radius + 1;
    using Net = WindowNetworks<side>;

    T rest[side][side - 1]; // the strip without its centre, sorted
    T sorted[side][side];
    T centre[side];
    T shared[PairNetworks::results]; // see share()

    template <std::size_t... I> T median(std::index_sequence<I...>) const
    {
        T wires[side * side];
        for (int row = 0; row < side; ++row)
            copyWires(sorted[row], side, wires + row * side);
        (exchange<V>(wires[Net::median.exchanges[I].low], wires[Net::median.exchanges[I].high]),
         ...);
        return wires[Net::median.output];
    }

    // Three sorted rows: the median of the lows' maximum, the middles'
    // median and the highs' minimum.
    static T median3(T a, T b, T c) { return V::max(V::min(a, b), V::min(V::max(a, b), c)); }

    template <std::size_t... I> Q_ALWAYS_INLINE void shareWires(T *wires, std::index_sequence<I...>)
    {
        using sortingnetwork::median7Shared;
        (exchange<V>(wires[median7Shared[I].low], wires[median7Shared[I].high]), ...);
    }

    template <std::size_t... I>
    Q_ALWAYS_INLINE static T finishWires(T *wires, std::index_sequence<I...>)
    {
        using sortingnetwork::median7Finish;
        (exchange<V>(wires[median7Finish[I].low], wires[median7Finish[I].high]), ...);
        return wires[sortingnetwork::median7FinishOutput];
    }

public:
    // 7x7 windows take their steps in pairs.
    static constexpr bool pairs = side == 7;

    void start() {}

    // Before the first step of a pair: the window about to leave is in slot
    // `leaving`, the centre row in slot `centre`. The two windows share the
    // other five rows and the centre row without its centre. Pairs take
    // their slots at run time, so that one copy of the code serves every
    // phase.
    void share(int leaving, int centre)
    {
        static_assert(pairs);
        const T *rows[5];
        for (int slot = 0, row = 0; slot < side; ++slot)
            if (slot != leaving && slot != centre)
                rows[row++] = sorted[slot];
        T wires[5 * side + side - 1];
        for (int row = 0; row < 5; ++row)
            copyWires(rows[row], side, wires + side * row);
        copyWires(rest[centre], side - 1, wires + 5 * side);
        shareWires(wires, std::make_index_sequence<PairNetworks::sharedSize>());
        for (int i = 0; i < PairNetworks::results; ++i)
            shared[i] = wires[sortingnetwork::median7SharedOutputs[i]];
    }

    // A window of the pair: what they share, its own row in slot `own` and
    // its own value (the first window's centre, or the second's the first's
    // result).
    T pairResult(int own, T value) const
    {
        T wires[PairNetworks::results + side + 1];
        copyWires(shared, PairNetworks::results, wires);
        copyWires(sorted[own], side, wires + PairNetworks::results);
        wires[PairNetworks::results + side] = value;
        return V::or_(finishWires(wires, std::make_index_sequence<PairNetworks::finishSize>()),
                      V::set1(int(0xFF000000u)));
    }

    T centreAt(int slot) const { return centre[slot]; }

    T result() const
    {
        T value;
        if constexpr (side == 3) {
            const T low = V::max(V::max(sorted[0][0], sorted[1][0]), sorted[2][0]);
            const T high = V::min(V::min(sorted[0][2], sorted[1][2]), sorted[2][2]);
            value = median3(low, median3(sorted[0][1], sorted[1][1], sorted[2][1]), high);
        } else {
            value = median(std::make_index_sequence<Net::median.size>());
        }
        return V::or_(value, V::set1(int(0xFF000000u)));
    }

    Q_ALWAYS_INLINE void replaceCentreAt(int slot, T value)
    {
        insertSorted<V, side - 1>(rest[slot], value, sorted[slot]);
    }

    template <int Slot> void replaceCentre(T value) { replaceCentreAt(Slot, value); }

    template <int Slot> void replaceCentre(T lanes, T value)
    {
        replaceCentre<Slot>(V::select(lanes, value, centre[Slot]));
    }

    template <int Slot> void enter(const T *pixels) { enterAt(Slot, pixels); }

    Q_ALWAYS_INLINE void enterAt(int slot, const T *pixels)
    {
        T others[side - 1];
        int n = 0;
        for (int p = 0; p < side; ++p)
            if (p != Radius && p != Radius - 1)
                others[n++] = pixels[p];
        sortWires<V, side - 2>(others);
        insertSorted<V, side - 2>(others, pixels[Radius - 1], rest[slot]);
        insertSorted<V, side - 1>(rest[slot], pixels[Radius], sorted[slot]);
        centre[slot] = pixels[Radius];
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

    T centreRedBlue[side], centreGreen[side]; // each strip's centre pixel, split
    T stripRedBlue[side], stripGreen[side];
    T redBlue, green;         // the whole window
    T meanRedBlue, meanGreen; // the last result, split

    static T redBlueOf(T pixels) { return V::and_(pixels, V::set1(0x00FF00FF)); }
    static T greenOf(T pixels)
    {
        return V::and_(V::template shiftRight32<8>(pixels), V::set1(0x00FF00FF));
    }

    // The alpha fields of the green sums hold whatever; they never carry
    // into green and end up under the opaque alpha of the result.
    template <int Slot> void replaceWith(T nowRedBlue, T nowGreen)
    {
        const T rb = V::sub16(nowRedBlue, centreRedBlue[Slot]);
        const T g = V::sub16(nowGreen, centreGreen[Slot]);
        stripRedBlue[Slot] = V::add16(stripRedBlue[Slot], rb);
        stripGreen[Slot] = V::add16(stripGreen[Slot], g);
        redBlue = V::add16(redBlue, rb);
        green = V::add16(green, g);
    }

public:
    static constexpr bool pairs = false;

    void start()
    {
        redBlue = green = meanRedBlue = meanGreen = V::set1(0);
        for (int slot = 0; slot < side; ++slot)
            stripRedBlue[slot] = stripGreen[slot] = centreRedBlue[slot] = centreGreen[slot] =
                redBlue;
    }

    T result()
    {
        const T m = V::set1(int(quint32(multiplier) * 0x10001u)); // in both fields
        meanRedBlue = V::template shiftRight16<extraShift>(V::mulHigh16(redBlue, m));
        meanGreen = V::template shiftRight16<extraShift>(V::mulHigh16(green, m));
        return V::or_(V::or_(meanRedBlue, V::template shiftLeft32<8>(meanGreen)),
                      V::set1(int(0xFF000000u)));
    }

    // `value` is the last result: its channels are still at hand, unpacked.
    template <int Slot> void replaceCentre(T) { replaceWith<Slot>(meanRedBlue, meanGreen); }

    template <int Slot> void replaceCentre(T lanes, T)
    {
        replaceWith<Slot>(V::select(lanes, meanRedBlue, centreRedBlue[Slot]),
                          V::select(lanes, meanGreen, centreGreen[Slot]));
    }

    template <int Slot> void enter(const T *pixels)
    {
        // Green is summed in place, in 32 bits, and shifted down once; the
        // alpha byte is left out.
        const T greenByte = V::set1(0xFF00);
        T rb = redBlueOf(pixels[0]);
        T g = V::and_(pixels[0], greenByte);
        for (int p = 1; p < side; ++p) {
            rb = V::add16(rb, redBlueOf(pixels[p]));
            g = V::add32(g, V::and_(pixels[p], greenByte));
        }
        g = V::template shiftRight32<8>(g);
        redBlue = V::add16(V::sub16(redBlue, stripRedBlue[Slot]), rb);
        green = V::add16(V::sub16(green, stripGreen[Slot]), g);
        stripRedBlue[Slot] = rb;
        stripGreen[Slot] = g;
        centreRedBlue[Slot] = redBlueOf(pixels[Radius]);
        centreGreen[Slot] = greenOf(pixels[Radius]);
    }
};

template <typename V, int Radius, typename Window> class Wavefront
{
    using T = typename V::T;
    static constexpr int side = 2 * Radius + 1;
    static constexpr int lanes = V::lanes;
    // Rows between neighbouring lanes. Radius + 1 would do; one more means
    // that the pixel a lane needs from its left neighbour was written a step
    // earlier, so a step's result feeds only its own lane's next step.
    static constexpr int lag = Radius + 2;
    // A strip's centre is replaced Radius + 1 steps after it entered.
    static constexpr int centreDelay = Radius + 1;

    // Pixels are written to `bits` and read from there left of a strip's
    // centre; from the centre rightwards nothing has been written yet, and
    // they are read from `source`. Both may be the same image.
    const quint32 *const source;
    quint32 *const bits;
    const int stride, height;
    const int rows, lastColumn;
    const int laneStep; // from one lane's pixel to the next lane's
    // A lane takes the columns x0 + i, x0 + i + lanes, ... in turn: when it
    // is done with one, it starts at the top of the next, while the lanes
    // to its right finish theirs. So the steps where only some lanes are
    // at work come once an image instead of once a column run. A run of
    // columns takes `period` steps: its rows, and the steps that only load
    // before its first result. The period is a whole number of window
    // rounds, so that slots go by the step alone, and at least lanes * lag
    // steps: a run's first lane then keeps lag rows behind the last lane of
    // the run before, as if it were the lane after it.
    const int period;
    const int lastStep; // the last lane's last result

    int x0 = 0; // the first column of the run that lane 0 works on
    Window window;
    T laneLag;   // i * lag in lane i
    T lastValue; // the results of the last step
    alignas(32) int offset[lanes] = {};
    alignas(32) quint32 result[lanes];

    // Lane 0 leads: the lanes to its right read and write the same rows
    // later, a few pixels on. So fetching the rows that lane 0 reads and
    // writes a few steps from now fetches the image for every lane. The
    // processor's own prefetching does not follow a column down across
    // pages; without this, the first touch of every row waits on memory.
    // `reading` is lane 0's entering strip, `writing` its result, and
    // `rowsLeft` the image's rows below that strip.
    static constexpr int ahead = 8;
    static void prefetchAhead(int rowsLeft, const quint32 *writing, const quint32 *reading,
                              int rowStep)
    {
        const int rowsAhead = rowsLeft < ahead ? rowsLeft : ahead;
        if (rowsAhead <= 0)
            return;
        reading += rowsAhead * rowStep + Radius;
        writing += rowsAhead * rowStep;
        _mm_prefetch(reinterpret_cast<const char *>(reading), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char *>(reading + lanes + Radius - 1), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char *>(writing), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char *>(writing + lanes - 1), _MM_HINT_T0);
    }

    // Lane 0's column run at step `at` of the whole pass (-1 before its
    // first), and its step within that run, which starts at rows - period.
    void leadingLaneAt(int at, int &run, int &local) const
    {
        run = at + period - rows >= 0 ? (at + period - rows) / period : -1;
        local = at - run * period;
    }

    // Any step, with every check; the slot that a strip enters is the step
    // mod side.
    template <int Phase> void step(int at)
    {
        constexpr int enterSlot = Phase;
        constexpr int centreSlot = (Phase - centreDelay + 2 * side) % side;
        // No lane has a whole window before step 0.
        const bool results = at >= 0;
        if (results)
            V::store(result, lastValue = window.result());
        int run0, local0;
        leadingLaneAt(at, run0, local0);
        // Lane i is i * lag steps behind lane 0: on the same run, or still
        // finishing the one before. A lane writes once it has a whole
        // window; the strips before have border rows for centres, which
        // stay as they are.
        T local = V::sub32(V::set1(local0), laneLag);
        const T behind = V::greater32(V::set1(rows - period), local);
        local = V::add32(local, V::and_(behind, V::set1(period)));
        const T column = V::sub32(V::add32(V::set1(Radius + run0 * lanes), V::laneIndex()),
                                  V::and_(behind, V::set1(lanes)));
        const T inside = V::and_(V::greater32(column, V::set1(Radius - 1)),
                                 V::greater32(V::set1(lastColumn + 1), column));
        const T on =
            V::and_(V::and_(inside, V::greater32(local, V::set1(-1))), V::set1(results ? -1 : 0));
        alignas(32) int lanesOn[lanes], lanesLocal[lanes], lanesColumn[lanes];
        V::store(reinterpret_cast<quint32 *>(lanesOn), on);
        V::store(reinterpret_cast<quint32 *>(lanesLocal), local);
        V::store(reinterpret_cast<quint32 *>(lanesColumn), column);
        int resultAt[lanes];
        for (int i = 0; i < lanes; ++i) {
            resultAt[i] = (Radius + lanesLocal[i]) * stride + lanesColumn[i];
            // The row entering the lane's window. A lane outside the image
            // reads some row or column inside it and writes nothing, and a
            // lane's last step in a column would load the row below the
            // image, which no window of it sees.
            int row = lanesLocal[i] + 2 * Radius + 1;
            row = row < 0 ? 0 : row >= height ? height - 1 : row;
            int column = lanesColumn[i];
            column = column < Radius ? Radius : column > lastColumn ? lastColumn : column;
            offset[i] = row * stride + column - Radius;
        }
        for (int i = 0; i < lanes; ++i)
            if (lanesOn[i])
                bits[resultAt[i]] = result[i];
        if (lanesOn[0])
            prefetchAhead(rowsBelowEntering(local0), bits + resultAt[0], source + offset[0],
                          stride);
        if (results)
            window.template replaceCentre<centreSlot>(on, lastValue);

        T entering[side];
        auto written = [this](int i) { return bits + offset[i]; };
        auto unwritten = [this](int i) { return source + offset[i]; };
        // Position Radius - 1 may have been written last step.
        if constexpr (Radius > 1)
            V::template loadLanes<0, Radius - 1, true>(written, entering);
        V::template loadLanes<Radius - 1, 1, true>(written, entering + Radius - 1);
        V::template loadLanes<Radius, Radius + 1, true>(unwritten, entering + Radius);
        window.template enter<enterSlot>(entering);
    }

    template <std::size_t... Phase> void anyStep(int at, std::index_sequence<Phase...>)
    {
        const int phase = (at % side + side) % side;
        (void)((phase == int(Phase) && (step<Phase>(at), true)) || ...);
    }

    // The strip entering each lane's window in a steady step: the pixel
    // that the lane to the left wrote last step is taken from its result
    // rather than read back.
    static void loadEntering(T *entering, const T &previous, const quint32 *first,
                             const quint32 *firstUnwritten, int laneStep)
    {
        auto written = [first, laneStep](int i) { return first + i * laneStep; };
        auto unwritten = [firstUnwritten, laneStep](int i) {
            return firstUnwritten + i * laneStep;
        };
        if constexpr (Radius > 1)
            V::template loadLanes<0, Radius - 1, false>(written, entering);
        entering[Radius - 1] = V::shiftLanesUp(previous, first[Radius - 1]);
        V::template loadLanes<Radius, Radius + 1, false>(unwritten, entering + Radius);
    }

    // A step in which every lane writes its result and every lane's strip
    // has whole vectors' worth of image after it: the same work every time,
    // on a window held in locals.
    template <int Phase>
    static void steadyStep(Window &w, T &previous, quint32 *target, const quint32 *first,
                           const quint32 *firstUnwritten, int laneStep, int rowStep, int rowsLeft)
    {
        constexpr int centreSlot = (Phase - centreDelay + 2 * side) % side;
        prefetchAhead(rowsLeft, target, firstUnwritten, rowStep);
        const T value = w.result();
        V::storeLanes(target, laneStep, value);
        w.template replaceCentre<centreSlot>(value);
        T entering[side];
        loadEntering(entering, previous, first, firstUnwritten, laneStep);
        w.template enter<Phase>(entering);
        previous = value;
    }

    // The image's rows below the strip that lane 0's window takes in at step
    // `at`.
    int rowsBelowEntering(int at) const { return height - 1 - (at + 2 * Radius + 1); }

    // Where steady steps from step `at` on write their results, and read
    // the pixels already written and those not.
    std::tuple<quint32 *, const quint32 *, const quint32 *> steadyPointers(int at) const
    {
        const int start = (at + 2 * Radius + 1) * stride + x0 - Radius;
        return {bits + (Radius + at) * stride + x0, bits + start, source + start};
    }

    // Whole rounds of side steady steps from step `at` (a multiple of
    // side) while they end before `end`; returns the step after them.
    template <std::size_t... Phase> int steadySteps(int at, int end, std::index_sequence<Phase...>)
    {
        Window w = window;
        T previous = lastValue;
        const int rowStep = stride, toNextLane = laneStep;
        auto [target, first, firstUnwritten] = steadyPointers(at);
        int rowsLeft = rowsBelowEntering(at);
        for (; at + side <= end; at += side)
            (steadyStep<Phase>(w, previous, target + int(Phase) * rowStep,
                               first + int(Phase) * rowStep, firstUnwritten + int(Phase) * rowStep,
                               toNextLane, rowStep, rowsLeft - int(Phase)),
             ...),
                target += side * rowStep, first += side * rowStep, firstUnwritten += side * rowStep,
                rowsLeft -= side;
        window = w;
        lastValue = previous;
        return at;
    }

    // Steady steps two at a time from step `at` while they end before
    // `end`, for windows that share work between the two; returns the step
    // after them. The slots are worked out as the steps go: the code is
    // then small enough for the processor to keep decoded.
    int steadyPairs(int at, int end)
    {
        Window w = window;
        T previous = lastValue;
        const int rowStep = stride, toNextLane = laneStep;
        auto [target, first, firstUnwritten] = steadyPointers(at);
        int rowsLeft = rowsBelowEntering(at);
        int enterSlot = at % side;
        int centreSlot = (enterSlot - centreDelay + 2 * side) % side;
        T entering[side];
        for (; at + 2 <= end; at += 2) {
            prefetchAhead(rowsLeft, target, firstUnwritten, rowStep);
            prefetchAhead(rowsLeft - 1, target + rowStep, firstUnwritten + rowStep, rowStep);
            // The first window: its centre still in place.
            w.share(enterSlot, centreSlot);
            T value = w.pairResult(enterSlot, w.centreAt(centreSlot));
            V::storeLanes(target, toNextLane, value);
            w.replaceCentreAt(centreSlot, value);
            loadEntering(entering, previous, first, firstUnwritten, toNextLane);
            w.enterAt(enterSlot, entering);
            previous = value;
            // The second: the row that just entered and the first's result.
            value = w.pairResult(enterSlot, previous);
            enterSlot = enterSlot + 1 == side ? 0 : enterSlot + 1;
            centreSlot = centreSlot + 1 == side ? 0 : centreSlot + 1;
            V::storeLanes(target + rowStep, toNextLane, value);
            w.replaceCentreAt(centreSlot, value);
            loadEntering(entering, previous, first + rowStep, firstUnwritten + rowStep, toNextLane);
            w.enterAt(enterSlot, entering);
            previous = value;
            enterSlot = enterSlot + 1 == side ? 0 : enterSlot + 1;
            centreSlot = centreSlot + 1 == side ? 0 : centreSlot + 1;
            target += 2 * rowStep, first += 2 * rowStep, firstUnwritten += 2 * rowStep;
            rowsLeft -= 2;
        }
        window = w;
        lastValue = previous;
        return at;
    }

    static int periodFor(int rows)
    {
        int period = rows + side > lanes * lag ? rows + side : lanes * lag;
        return (period + side - 1) / side * side;
    }

public:
    Wavefront(const quint32 *source, quint32 *bits, int stride, int width, int height)
        : source(source), bits(bits), stride(stride), height(height), rows(height - 2 * Radius),
          lastColumn(width - Radius - 1), laneStep(1 - lag * stride), period(periodFor(rows)),
          lastStep((lastColumn - Radius) / lanes * period + rows - 1 +
                   (lastColumn - Radius) % lanes * lag)
    {
        alignas(32) int lags[lanes];
        for (int i = 0; i < lanes; ++i)
            lags[i] = i * lag;
        laneLag = V::load(lags);
    }

    void run()
    {
        // Steady steps: every lane is on the same run of columns and writes
        // from (lanes - 1) * lag on (and so did all but the last lane the
        // step before), and every lane's entering strip lies above the last
        // row before rows - 1.
        const int steadyFrom = (lanes - 1) * lag + 1;
        const int steadyEnd = rows - 1;
        window.start();
        // Steps before a lane's first result only load, so that every
        // lane's window is always the last side strips loaded.
        for (int at = rows - period; at <= lastStep;) {
            int run, local;
            leadingLaneAt(at, run, local);
            x0 = Radius + run * lanes;
            const bool steady = run >= 0 && x0 + lanes - 1 <= lastColumn && local >= steadyFrom;
            if constexpr (Window::pairs) {
                if (steady && local + 2 <= steadyEnd) {
                    at += steadyPairs(local, steadyEnd) - local;
                    continue;
                }
            }
            if (steady && local % side == 0 && local + side <= steadyEnd) {
                at += steadySteps(local, steadyEnd, std::make_index_sequence<side>()) - local;
            } else {
                anyStep(at, std::make_index_sequence<side>());
                ++at;
            }
        }
    }
};

template <typename V, int Radius, typename Window>
void runWavefront(const quint32 *source, quint32 *target, int stride, int width, int height)
{
    if (source != target) {
        // The border is never processed: it keeps the source's pixels.
        for (int y = 0; y < height; ++y) {
            const quint32 *from = source + y * stride;
            quint32 *to = target + y * stride;
            const bool wholeRow = y < Radius || y >= height - Radius;
            for (int x = 0; x < width; x = x == Radius - 1 && !wholeRow ? width - Radius : x + 1)
                to[x] = from[x];
        }
    }
    Wavefront<V, Radius, Window>(source, target, stride, width, height).run();
}

template <typename V, template <typename, int> class Window>
bool runWavefront(const quint32 *source, quint32 *target, int stride, int width, int height,
                  int radius)
{
    switch (radius) {
    case 1:
        runWavefront<V, 1, Window<V, 1>>(source, target, stride, width, height);
        return true;
    case 2:
        runWavefront<V, 2, Window<V, 2>>(source, target, stride, width, height);
        return true;
    case 3:
        runWavefront<V, 3, Window<V, 3>>(source, target, stride, width, height);
        return true;
    default:
        return false;
    }
}

// Runs the median (median true) or mean pass for radius 1, 2 or 3 on an
// image at least 2 * radius + 1 pixels wide and high, from source into
// target (which may be the same image, or one of the same size and stride
// that source is not part of); returns false and leaves the image alone for
// any other radius.
template <typename V>
bool filterWavefront(const quint32 *source, quint32 *target, int stride, int width, int height,
                     int radius, bool median)
{
    return median ? runWavefront<V, MedianWindow>(source, target, stride, width, height, radius)
                  : runWavefront<V, MeanWindow>(source, target, stride, width, height, radius);
}

} // namespace

#endif
