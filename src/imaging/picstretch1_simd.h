// The pixel loops of both resampling passes for each instruction set, and the flat weight lists
// they read. Only picstretch1*.cpp include this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/picstretch1.h"

// The vector loops exist for x86 processors only; elsewhere the plain loops run.
#if defined(__x86_64__) || defined(_M_X64)
#define PARVULA_SIMD_X86 1
#else
#define PARVULA_SIMD_X86 0
#endif

namespace parvula::imaging {

// A pass's weight lists laid out for the vector loops: the entries of list k are
// index/weight[start[k]] .. [start[k + 1] - 1], in list order, the weights widened to double
// (exact, so the products stay those of the plain loops).
//
// fusedAbove[e] tells when entry e may be added with a single-precision fused multiply-add: when
// every running sum's magnitude is at least that value (0: always). The plain loop rounds each
// sum to double and then to float; a fused float operation rounds the exact sum once, which
// differs only when the double lands exactly between two floats, so the fused operation is safe
// whenever the double sum is exact or the product cannot move the sum at all:
// - Every product is a multiple of its weight's last-bit value b (a byte is a whole number) and
//   every partial sum a multiple of the smallest such value g so far (a float sum of multiples
//   of g stays one); all stay below 255 times the sum of the weights' magnitudes so far, grown
//   by the roundings (at most 2^-22 each). Up to 2^53 * g the double sum is exact: always safe.
// - A sum s of a float with exponent e is a multiple of 2^(e - 23); with the product a multiple
//   of b and both far enough below 2^53 times the smaller of the two, the double sum is exact.
//   Given the static bound, |s| >= 255 |w| 2^-28 is enough.
// - When the product is below a quarter of the float spacing at s, both roundings give s:
//   |s| >= 255 |w| 2^27 is enough.
// The two thresholds carry a factor 2 of room.
struct TFlatWeights {
    std::vector<int> start;
    std::vector<int> index;
    std::vector<double> weight;
    std::vector<float> weightFloat;
    std::vector<float> fusedAbove;
    std::vector<int> checkedFrom; // each list's first entry with a threshold (or its length)
    std::vector<int> lowest; // the smallest and largest index of each list
    std::vector<int> highest;
    // Each list as a run of neighbouring pixels: entry e reads pixel runFirst + runStep * e,
    // runStep +1 or -1; runStep 0 where the list is no such run (the mirrored edges, or empty).
    // Taken from the lists as given, before any ring folds the indices.
    std::vector<int> runFirst;
    std::vector<int> runStep;
    // Where each entry's source pixel starts in a ring of 16-row floats (PlaceInRing).
    std::vector<int> offset;
    explicit TFlatWeights(const TWeightLists& lists);
    void PlaceInRing(int columns);
    int Count() const { return static_cast<int>(start.size()) - 1; }
};

// Rows handled side by side by the horizontal pass of a level; 1 for the plain loops.
int HorizontalBlockRows(TSimdLevel level);

// The AVX2 and AVX-512 horizontal passes turn a block of sixteen rows on its side as floats
// (byte k of row i at [k * 16 + i]) just ahead of the destination pixels that read it, into a
// ring of this many source pixels (a power of two), so that the values stay in the cache while
// they are used. The ring holds the last 3 * columns bytes turned; it grows to the whole row
// when the lists, taken group pixels at a time, would reach back further than that.
int RingColumns(const TFlatWeights& weights, int sourceWidth, int group);
// How many bytes of each row (of bytes) must be turned before destination pixels first .. last
// are computed: up to their lists' last pixel, in whole steps of 64 bytes, never past the row.
// The ring above is sized for turning in exactly these steps.
int TurnedBytesFor(const TFlatWeights& weights, int first, int last, int bytes);

// Horizontal pass over a block of count rows (count <= HorizontalBlockRows): out[r] receives
// weights.Count() pixels computed from rows[r] (sourceWidth pixels). scratch is 64-byte aligned;
// for SSE2 it holds sourceWidth * 3 * 8 doubles, else ringColumns * 3 * 16 floats.
void HorizontalBlockSse2(const std::uint8_t* const* rows, int count, int sourceWidth,
    const TFlatWeights& weights, std::uint8_t* const* out, double* scratch);
void HorizontalBlockAvx2(const std::uint8_t* const* rows, int count, int sourceWidth,
    const TFlatWeights& weights, int ringColumns, std::uint8_t* const* out, float* scratch);
// AVX-512 (with the byte permutations): two destination pixels at a time.
void HorizontalBlockAvx512(const std::uint8_t* const* rows, int count, int sourceWidth,
    const TFlatWeights& weights, int ringColumns, std::uint8_t* const* out, float* scratch);

// Vertical pass for destination row k: byte b of out (b < bytes) from byte b of the work rows
// named by list k. Every byte of a row is its own channel sum, so bytes sit side by side.
void VerticalRowSse2(const std::uint8_t* work, std::ptrdiff_t workStride,
    const TFlatWeights& weights, int k, std::uint8_t* out, int bytes);
void VerticalRowAvx2(const std::uint8_t* work, std::ptrdiff_t workStride,
    const TFlatWeights& weights, int k, std::uint8_t* out, int bytes);
// AVX-512: sixteen bytes to a register (the first pass of a turned picture, whose lines are a
// whole stored row wide).
void VerticalRowAvx512(const std::uint8_t* work, std::ptrdiff_t workStride,
    const TFlatWeights& weights, int k, std::uint8_t* out, int bytes);
// A turned picture's first pass makes several lines at once, so that each row of their common
// window is widened to floats once for all of them rather than once per line. The lines' lists
// are runs in one direction: the window's row i is real row firstRow + step * i, and entry e of
// line l reads window row from[l] + e. A real row r sits in row r % ringRows of the ring.
constexpr int kLinesAtOnce = 4;
// The most lines a level makes at once: four for AVX-512, two for AVX2 (its sixteen registers
// hold the sums of two lines 32 bytes wide), one for the others, which make them one by one.
int TurnedLinesAtOnce(TSimdLevel level);
struct TLineGroup {
    int count = 0; // 1 .. TurnedLinesAtOnce of the level
    int firstRow = 0;
    int step = 1;
    int span = 0; // rows in the window
    int line[kLinesAtOnce] {};
    int from[kLinesAtOnce] {};
    std::uint8_t* out[kLinesAtOnce] {}; // each line's bytes, from its start
};
// One line's list of a group, as the loops read it.
struct TLineList {
    const float* weightFloat;
    const double* weight;
    const float* fusedAbove;
    unsigned entries;
    int from; // the window row of its first entry
};

inline TLineList LineListOf(const TFlatWeights& weights, const TLineGroup& group, int l)
{
    const auto at = static_cast<std::size_t>(group.line[l]);
    const int first = weights.start[at];
    return TLineList { weights.weightFloat.data() + first, weights.weight.data() + first,
        weights.fusedAbove.data() + first, static_cast<unsigned>(weights.start[at + 1] - first),
        group.from[l] };
}

// The rows of a group's window in their order, byte b on, wrapping round the ring.
class TWindowRows {
public:
    TWindowRows(const std::uint8_t* ring, std::ptrdiff_t rowBytes, int ringRows,
        const TLineGroup& group, int b)
        : m_ring(ring + b)
        , m_rowBytes(rowBytes)
        , m_ringRows(ringRows)
        , m_step(group.step)
        , m_row(group.firstRow % ringRows)
        , m_at(m_ring + m_row * rowBytes)
    {
    }
    const std::uint8_t* Row() const { return m_at; }
    void Next()
    {
        m_row += m_step;
        if (m_row == m_ringRows)
            m_row = 0;
        else if (m_row < 0)
            m_row = m_ringRows - 1;
        else {
            m_at += m_step * m_rowBytes;
            return;
        }
        m_at = m_ring + m_row * m_rowBytes;
    }

private:
    const std::uint8_t* m_ring;
    std::ptrdiff_t m_rowBytes;
    int m_ringRows;
    int m_step;
    int m_row;
    const std::uint8_t* m_at;
};

// Bytes from .. to - 1 of each line of the group, from the ring of decoded rows (rowBytes each).
void VerticalLinesAvx2(const std::uint8_t* ring, std::ptrdiff_t rowBytes, int ringRows,
    const TFlatWeights& weights, const TLineGroup& group, int from, int to);
void VerticalLinesAvx512(const std::uint8_t* ring, std::ptrdiff_t rowBytes, int ringRows,
    const TFlatWeights& weights, const TLineGroup& group, int from, int to);

// The plain loop for bytes from .. to - 1 of that row (the vector loops' leftovers).
void VerticalBytesScalar(const std::uint8_t* work, std::ptrdiff_t workStride,
    const TFlatWeights& weights, int k, std::uint8_t* out, int from, int to);

} // namespace parvula::imaging
