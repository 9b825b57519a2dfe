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
//
// fused[e] tells whether entry e may be added with a single-precision fused multiply-add. The
// plain loop rounds each sum to double and then to float; a fused float operation rounds the
// exact sum once, which differs when the double lands exactly between two floats. That cannot
// happen when the double sum is exact. Every product is a multiple of its weight's last-bit value
// (a byte is a whole number) and every partial sum a multiple of the smallest such value g of
// the entries so far (a float sum of multiples of g stays one); all of them stay below 256 times
// the sum of the weights' magnitudes so far. So the sum of entry e is exact in double, and the
// fused operation safe, whenever that bound is below 2^53 * g. A tiny weight (Lanczos3 near the
// ends of its window) fails the test: its entry, and every later one when it comes first, is
// added in double lanes instead. fusable[k] tells whether every entry of list k passes.
struct TFlatWeights {
    std::vector<int> start;
    std::vector<int> index;
    std::vector<double> weight;
    std::vector<float> weightFloat;
    std::vector<std::uint8_t> fused;
    std::vector<std::uint8_t> fusable;
    explicit TFlatWeights(const TWeightLists& lists);
    int Count() const { return static_cast<int>(start.size()) - 1; }
};

// Rows handled side by side by the horizontal pass of a level; 1 for the plain loops.
int HorizontalBlockRows(TSimdLevel level);

// Horizontal pass over a block of count rows (count <= HorizontalBlockRows): out[r] receives
// weights.Count() pixels computed from rows[r] (sourceWidth pixels). scratch is 64-byte aligned
// and holds sourceWidth * 3 * HorizontalBlockRows values: doubles for SSE2, bytes for AVX2.
void HorizontalBlockSse2(const std::uint8_t* const* rows, int count, int sourceWidth,
    const TFlatWeights& weights, std::uint8_t* const* out, double* scratch);
void HorizontalBlockAvx2(const std::uint8_t* const* rows, int count, int sourceWidth,
    const TFlatWeights& weights, std::uint8_t* const* out, double* scratch);

// Vertical pass for destination row k: byte b of out (b < bytes) from byte b of the work rows
// named by list k. Every byte of a row is its own channel sum, so bytes sit side by side.
void VerticalRowSse2(const std::uint8_t* work, std::ptrdiff_t workStride,
    const TFlatWeights& weights, int k, std::uint8_t* out, int bytes);
void VerticalRowAvx2(const std::uint8_t* work, std::ptrdiff_t workStride,
    const TFlatWeights& weights, int k, std::uint8_t* out, int bytes);
// The plain loop for bytes from .. to - 1 of that row (the vector loops' leftovers).
void VerticalBytesScalar(const std::uint8_t* work, std::ptrdiff_t workStride,
    const TFlatWeights& weights, int k, std::uint8_t* out, int from, int to);

} // namespace parvula::imaging
