// The horizontal pass with AVX-512: sixteen rows of a channel in one register, and two
// neighbouring destination pixels computed together, so that six independent sums hide the
// latency of the multiply-adds. The block is laid out as for the AVX2 loops (sixteen rows turned
// on its side as floats, in the ring of turned pixels) but turned with byte permutations; the
// vertical pass stays with the AVX2 loops.
//
// Exactness as in the AVX2 loops: an entry is added with a float fused multiply-add only where
// TFlatWeights proves that it rounds as the plain loop's double sum does; any other entry is
// added in double lanes and rounded back to float. Each pixel's entries are added in list order.
#include "imaging/picstretch1_simd.h"

#if PARVULA_SIMD_X86

#include <algorithm>
#include <cstring>
#include <utility>

#include <immintrin.h>

// GCC 12's AVX-512 intrinsics start their "undefined" registers from themselves and then warn
// about it wherever they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#if defined(__GNUC__) || defined(__clang__)
#define PARVULA_TARGET_AVX512                                                                      \
    __attribute__((target("avx512f,avx512bw,avx512dq,avx512vbmi,avx2,fma")))
#define PARVULA_INLINE __attribute__((always_inline)) inline
// Kept apart, so that each loop has the vector registers to itself.
#define PARVULA_APART __attribute__((noinline))
#else
#define PARVULA_TARGET_AVX512
#define PARVULA_INLINE inline
#define PARVULA_APART
#endif

namespace parvula::imaging {

namespace {

    constexpr int kRows = 16;

    // One destination pixel's weight list, as the inner loops read it.
    struct TList {
        const int* offset;
        const float* weightFloat;
        const double* weight;
        const float* fusedAbove;
        int checkedFrom;
        int entries;
    };

    TList ListOf(const TFlatWeights& weights, int k)
    {
        const auto at = static_cast<std::size_t>(k);
        const int first = weights.start[at];
        return TList { weights.offset.data() + first, weights.weightFloat.data() + first,
            weights.weight.data() + first, weights.fusedAbove.data() + first,
            weights.checkedFrom[at], weights.start[at + 1] - first };
    }

    // The byte permutations of the transposition: four rounds, each merging pairs of registers
    // that hold the same byte positions of two sets of rows into registers holding half the
    // positions of both sets. Round s (0 .. 3) starts from registers holding 64 >> s positions
    // of 1 << s rows, laid out position by position, and half h keeps positions h * 32 >> s on.
    // The last round lays its result out row by row instead (byte 4 * row + position), so that
    // shifting and masking whole 32-bit lanes gives one position of all sixteen rows.
    struct TTransposeTable {
        alignas(64) std::uint8_t index[4][2][64];
    };

    TTransposeTable MakeTransposeTable()
    {
        TTransposeTable table {};
        for (int s = 0; s < 4; ++s) {
            const int rows = 1 << s; // in each source register
            const int half = 32 >> s; // positions in each result
            for (int h = 0; h < 2; ++h)
                for (int q = 0; q < 64; ++q) {
                    int position = 0;
                    int row = 0;
                    if (s == 3) {
                        position = q % 4;
                        row = q / 4;
                    } else {
                        position = q / (2 * rows);
                        row = q % (2 * rows);
                    }
                    const int p = h * half + position;
                    const int second = row >= rows ? 64 : 0;
                    table.index[s][h][q]
                        = static_cast<std::uint8_t>(second + p * rows + row % rows);
                }
        }
        return table;
    }

    // One round: register (rowGroup, positionGroup) is at a[rowGroup * groups + positionGroup].
    template <int S>
    PARVULA_TARGET_AVX512 PARVULA_INLINE void TransposeRound(
        const __m512i (&a)[16], __m512i (&b)[16], __m512i low, __m512i high)
    {
        constexpr int groups = 1 << S;
#pragma GCC unroll 8
        for (int j = 0; j < (16 >> S) / 2; ++j)
#pragma GCC unroll 8
            for (int q = 0; q < groups; ++q) {
                const __m512i first = a[2 * j * groups + q];
                const __m512i second = a[(2 * j + 1) * groups + q];
                b[j * 2 * groups + 2 * q] = _mm512_permutex2var_epi8(first, low, second);
                b[j * 2 * groups + 2 * q + 1] = _mm512_permutex2var_epi8(first, high, second);
            }
    }

    // Bytes from .. to - 1 of the sixteen rows go to the ring as floats, byte k of row i at
    // scratch[(k % ringBytes) * 16 + i]. from and ringBytes are multiples of 64.
    PARVULA_APART PARVULA_TARGET_AVX512 void Transpose(
        const std::uint8_t* const* rows, int count, int from, int to, float* scratch, int ringBytes)
    {
        static const TTransposeTable table = MakeTransposeTable();
        __m512i low[4];
        __m512i high[4];
        for (int s = 0; s < 4; ++s) {
            low[s] = _mm512_load_si512(table.index[s][0]);
            high[s] = _mm512_load_si512(table.index[s][1]);
        }
        const std::uint8_t* r[kRows];
        for (int i = 0; i < kRows; ++i)
            r[i] = rows[i < count ? i : 0]; // rows past the block compute unused sums
        const __m512i byteMask = _mm512_set1_epi32(0xFF);
        int k = from;
        for (; k + 64 <= to; k += 64) {
            float* ring = scratch + k % ringBytes * kRows;
            __m512i a[16];
            __m512i b[16];
#pragma GCC unroll 16
            for (int i = 0; i < 16; ++i)
                a[i] = _mm512_loadu_si512(r[i] + k);
            TransposeRound<0>(a, b, low[0], high[0]);
            TransposeRound<1>(b, a, low[1], high[1]);
            TransposeRound<2>(a, b, low[2], high[2]);
            TransposeRound<3>(b, a, low[3], high[3]);
            // a[m]: positions k + 4m .. k + 4m + 3, byte 4 * row + position.
#pragma GCC unroll 16
            for (int m = 0; m < 16; ++m) {
                float* out = ring + 4 * m * kRows;
                const __m512i v = a[m];
                _mm512_store_ps(out, _mm512_cvtepi32_ps(_mm512_and_si512(v, byteMask)));
                _mm512_store_ps(out + kRows,
                    _mm512_cvtepi32_ps(_mm512_and_si512(_mm512_srli_epi32(v, 8), byteMask)));
                _mm512_store_ps(out + 2 * kRows,
                    _mm512_cvtepi32_ps(_mm512_and_si512(_mm512_srli_epi32(v, 16), byteMask)));
                _mm512_store_ps(out + 3 * kRows, _mm512_cvtepi32_ps(_mm512_srli_epi32(v, 24)));
            }
        }
        for (; k < to; ++k)
            for (int i = 0; i < kRows; ++i)
                scratch[k % ringBytes * kRows + i] = r[i][k];
    }

    // Sixteen float sums in double lanes plus the products, rounded back to float: the plain
    // loop (a byte times a float weight is exact in double, so only the addition rounds there).
    PARVULA_TARGET_AVX512 PARVULA_INLINE __m512 AddInDouble(__m512 sum, const float* p, __m512d w)
    {
        const __m256 sumHigh = _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(sum), 1));
        const __m512d lo = _mm512_fmadd_pd(
            _mm512_cvtps_pd(_mm256_load_ps(p)), w, _mm512_cvtps_pd(_mm512_castps512_ps256(sum)));
        const __m512d hi
            = _mm512_fmadd_pd(_mm512_cvtps_pd(_mm256_load_ps(p + 8)), w, _mm512_cvtps_pd(sumHigh));
        const __m256d low = _mm256_castps_pd(_mm512_cvtpd_ps(lo));
        const __m256d high = _mm256_castps_pd(_mm512_cvtpd_ps(hi));
        return _mm512_castpd_ps(_mm512_insertf64x4(_mm512_castpd256_pd512(low), high, 1));
    }

    // Entry e of a list added to its three sums (one channel each), fused where that is safe.
    PARVULA_TARGET_AVX512 PARVULA_INLINE void AddEntry(
        const float* scratch, const TList& list, int e, __m512& b, __m512& g, __m512& r)
    {
        const float* p = scratch + list.offset[e];
        const float threshold = list.fusedAbove[e];
        if (threshold != 0.0f) {
            // The smallest magnitude of each lane's three sums (range 0b1010: the smaller
            // magnitude, sign cleared).
            const __m512 smallest = _mm512_range_ps(_mm512_range_ps(b, g, 0b1010), r, 0b1010);
            if (_mm512_cmp_ps_mask(smallest, _mm512_set1_ps(threshold), _CMP_GE_OQ) != 0xFFFF) {
                const __m512d w = _mm512_set1_pd(list.weight[e]);
                b = AddInDouble(b, p, w);
                g = AddInDouble(g, p + kRows, w);
                r = AddInDouble(r, p + 2 * kRows, w);
                return;
            }
        }
        const __m512 w = _mm512_set1_ps(list.weightFloat[e]);
        b = _mm512_fmadd_ps(_mm512_load_ps(p), w, b);
        g = _mm512_fmadd_ps(_mm512_load_ps(p + kRows), w, g);
        r = _mm512_fmadd_ps(_mm512_load_ps(p + 2 * kRows), w, r);
    }

    // Clamped to 0 .. 255, then rounded to the nearest whole number, halfway to even.
    PARVULA_TARGET_AVX512 PARVULA_INLINE __m128i SumsToBytes(__m512 sum)
    {
        const __m512 clamped
            = _mm512_min_ps(_mm512_max_ps(sum, _mm512_setzero_ps()), _mm512_set1_ps(255.0f));
        return _mm512_cvtepi32_epi8(_mm512_cvtps_epi32(clamped));
    }

    // Where row r's six bytes (pixel a's blue, green, red, then pixel b's) come from, for rows
    // 8h .. 8h + 7, eight bytes a row: the sums' bytes lie channel after channel, sixteen rows
    // each, a's three and b's blue in the first register, b's green and red in the second.
    struct TRowOrder {
        alignas(64) std::uint8_t index[2][64];
    };

    TRowOrder MakeRowOrder()
    {
        TRowOrder order {};
        for (int h = 0; h < 2; ++h)
            for (int q = 0; q < 64; ++q) {
                const int row = 8 * h + q / 8;
                const int channel = std::min(q % 8, 5);
                order.index[h][q] = static_cast<std::uint8_t>(16 * channel + row);
            }
        return order;
    }

    // Destination pixels a and a + 1 (when pair) of sixteen rows: out[row][0 .. 5] the bytes of
    // a and then b. Both lists advance together, so that six independent sums hide the
    // multiply-adds' latency; up to the first entry either list must check, no entry is checked.
    PARVULA_APART PARVULA_TARGET_AVX512 void HorizontalPair(
        const float* scratch, const TList& a, const TList& b, bool pair, std::uint8_t (*out)[8])
    {
        __m512 a0 = _mm512_setzero_ps(), a1 = a0, a2 = a0, b0 = a0, b1 = a0, b2 = a0;
        int e = 0;
        if (pair) {
            const int plain = std::min(a.checkedFrom, b.checkedFrom);
            for (; e < plain; ++e) {
                const float* p = scratch + a.offset[e];
                const float* q = scratch + b.offset[e];
                const __m512 wa = _mm512_set1_ps(a.weightFloat[e]);
                const __m512 wb = _mm512_set1_ps(b.weightFloat[e]);
                a0 = _mm512_fmadd_ps(_mm512_load_ps(p), wa, a0);
                b0 = _mm512_fmadd_ps(_mm512_load_ps(q), wb, b0);
                a1 = _mm512_fmadd_ps(_mm512_load_ps(p + kRows), wa, a1);
                b1 = _mm512_fmadd_ps(_mm512_load_ps(q + kRows), wb, b1);
                a2 = _mm512_fmadd_ps(_mm512_load_ps(p + 2 * kRows), wa, a2);
                b2 = _mm512_fmadd_ps(_mm512_load_ps(q + 2 * kRows), wb, b2);
            }
            const int both = std::min(a.entries, b.entries);
            for (; e < both; ++e) {
                AddEntry(scratch, a, e, a0, a1, a2);
                AddEntry(scratch, b, e, b0, b1, b2);
            }
            for (int f = e; f < b.entries; ++f)
                AddEntry(scratch, b, f, b0, b1, b2);
        }
        for (; e < a.entries; ++e)
            AddEntry(scratch, a, e, a0, a1, a2);

        static const TRowOrder order = MakeRowOrder();
        const __m512i first = _mm512_inserti64x4(
            _mm512_castsi256_si512(_mm256_set_m128i(SumsToBytes(a1), SumsToBytes(a0))),
            _mm256_set_m128i(SumsToBytes(b0), SumsToBytes(a2)), 1);
        const __m512i second
            = _mm512_castsi256_si512(_mm256_set_m128i(SumsToBytes(b2), SumsToBytes(b1)));
        _mm512_store_si512(
            out[0], _mm512_permutex2var_epi8(first, _mm512_load_si512(order.index[0]), second));
        _mm512_store_si512(
            out[8], _mm512_permutex2var_epi8(first, _mm512_load_si512(order.index[1]), second));
    }

} // namespace

PARVULA_TARGET_AVX512 void HorizontalBlockAvx512(const std::uint8_t* const* rows, int count,
    int sourceWidth, const TFlatWeights& weights, int ringColumns, std::uint8_t* const* out,
    float* scratch)
{
    const int bytes = sourceWidth * 3;
    const int ringBytes = ringColumns * 3;
    const int dw = weights.Count();
    alignas(64) std::uint8_t pixels[kRows][8]; // a row's bytes of the pair, then two spare
    int done = 0; // bytes turned so far
    for (int i = 0; i < dw; i += 2) {
        const bool pair = i + 1 < dw;
        const int j = pair ? i + 1 : i;
        const int to = TurnedBytesFor(weights, i, j, bytes);
        if (to > done) {
            Transpose(rows, count, done, to, scratch, ringBytes);
            done = to;
        }
        HorizontalPair(scratch, ListOf(weights, i), ListOf(weights, j), pair, pixels);
        const std::size_t size = pair ? 6 : 3;
        for (int r = 0; r < count; ++r)
            std::memcpy(out[r] + 3 * i, pixels[r], size);
    }
}

namespace {

    PARVULA_TARGET_AVX512 PARVULA_INLINE __m512 LoadSixteenBytes(const std::uint8_t* p)
    {
        return _mm512_cvtepi32_ps(
            _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
    }

    // Sixteen float sums plus a row's sixteen bytes times the weight, in double lanes and
    // rounded back to float: the plain loop (the product is exact in double, the fused add
    // rounds the double sum once).
    PARVULA_TARGET_AVX512 PARVULA_INLINE __m512 AddSixteenInDouble(
        __m512 sum, const std::uint8_t* src, __m512d w)
    {
        const __m512i ints
            = _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)));
        const __m512d low = _mm512_fmadd_pd(_mm512_cvtepi32_pd(_mm512_castsi512_si256(ints)), w,
            _mm512_cvtps_pd(_mm512_castps512_ps256(sum)));
        const __m512d high = _mm512_fmadd_pd(_mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(ints, 1)),
            w, _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(sum), 1))));
        return _mm512_insertf32x8(
            _mm512_castps256_ps512(_mm512_cvtpd_ps(low)), _mm512_cvtpd_ps(high), 1);
    }

    // 16 * NV bytes of a line, as the AVX2 loop computes 8 * NV of them.
    template <int NV>
    PARVULA_TARGET_AVX512 PARVULA_APART void VerticalBytes512(const std::uint8_t* work,
        std::ptrdiff_t workStride, const int* index, const float* weightFloat, const double* weight,
        const float* fusedAbove, int entries, std::uint8_t* out)
    {
        const __m512 magnitudeMask = _mm512_castsi512_ps(_mm512_set1_epi32(0x7FFFFFFF));
        __m512 sum[NV];
        for (int v = 0; v < NV; ++v)
            sum[v] = _mm512_setzero_ps();
        for (int e = 0; e < entries; ++e) {
            const std::uint8_t* src = work + index[e] * workStride;
            if (fusedAbove[e] != 0.0f) {
                __m512 smallest = _mm512_and_ps(sum[0], magnitudeMask);
                for (int v = 1; v < NV; ++v)
                    smallest = _mm512_min_ps(smallest, _mm512_and_ps(sum[v], magnitudeMask));
                if (_mm512_cmp_ps_mask(smallest, _mm512_set1_ps(fusedAbove[e]), _CMP_GE_OQ)
                    != 0xFFFF) {
                    const __m512d w = _mm512_set1_pd(weight[e]);
                    for (int v = 0; v < NV; ++v)
                        sum[v] = AddSixteenInDouble(sum[v], src + 16 * v, w);
                    continue;
                }
            }
            const __m512 w = _mm512_set1_ps(weightFloat[e]);
            for (int v = 0; v < NV; ++v)
                sum[v] = _mm512_fmadd_ps(LoadSixteenBytes(src + 16 * v), w, sum[v]);
        }
        for (int v = 0; v < NV; ++v) {
            // Clamped to 0 .. 255, then rounded to the nearest whole number, halfway to even.
            const __m512 clamped
                = _mm512_min_ps(_mm512_max_ps(sum[v], _mm512_setzero_ps()), _mm512_set1_ps(255.0f));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * v),
                _mm512_cvtepi32_epi8(_mm512_cvtps_epi32(clamped)));
        }
    }

    // Adds window row i (its bytes at src, widened in x) to a line's sums when its list reads
    // that row.
    template <int NV>
    PARVULA_TARGET_AVX512 PARVULA_INLINE void AddRowToLine(__m512 (&sum)[NV], const TLineList& list,
        int i, const __m512 (&x)[NV], const std::uint8_t* src)
    {
        const unsigned e = static_cast<unsigned>(i - list.from);
        if (e >= list.entries)
            return;
        if (list.fusedAbove[e] != 0.0f) {
            const __m512 magnitudeMask = _mm512_castsi512_ps(_mm512_set1_epi32(0x7FFFFFFF));
            __m512 smallest = _mm512_and_ps(sum[0], magnitudeMask);
#pragma GCC unroll 16
            for (int v = 1; v < NV; ++v)
                smallest = _mm512_min_ps(smallest, _mm512_and_ps(sum[v], magnitudeMask));
            if (_mm512_cmp_ps_mask(smallest, _mm512_set1_ps(list.fusedAbove[e]), _CMP_GE_OQ)
                != 0xFFFF) {
                const __m512d w = _mm512_set1_pd(list.weight[e]);
#pragma GCC unroll 16
                for (int v = 0; v < NV; ++v)
                    sum[v] = AddSixteenInDouble(sum[v], src + 16 * v, w);
                return;
            }
        }
        const __m512 w = _mm512_set1_ps(list.weightFloat[e]);
#pragma GCC unroll 16
        for (int v = 0; v < NV; ++v)
            sum[v] = _mm512_fmadd_ps(x[v], w, sum[v]);
    }

    // 16 * NV bytes of each of L lines (TLineGroup): each row of the window is widened once and
    // added to every line whose list reads it, each line's entries still in list order.
    template <int NV, int... Ls>
    PARVULA_TARGET_AVX512 PARVULA_APART void LinesBytes512(const std::uint8_t* ring,
        std::ptrdiff_t rowBytes, int ringRows, const TFlatWeights& weights, const TLineGroup& group,
        int b, std::integer_sequence<int, Ls...>)
    {
        constexpr int L = sizeof...(Ls);
        const TLineList lists[L] = { LineListOf(weights, group, Ls)... };
        __m512 sum[L][NV];
#pragma GCC unroll 16
        for (int l = 0; l < L; ++l)
#pragma GCC unroll 16
            for (int v = 0; v < NV; ++v)
                sum[l][v] = _mm512_setzero_ps();
        TWindowRows rows(ring, rowBytes, ringRows, group, b);
        for (int i = 0; i < group.span; ++i, rows.Next()) {
            const std::uint8_t* src = rows.Row();
            __m512 x[NV];
#pragma GCC unroll 16
            for (int v = 0; v < NV; ++v)
                x[v] = LoadSixteenBytes(src + 16 * v);
            (AddRowToLine<NV>(sum[Ls], lists[Ls], i, x, src), ...);
        }
#pragma GCC unroll 16
        for (int l = 0; l < L; ++l)
#pragma GCC unroll 16
            for (int v = 0; v < NV; ++v) {
                const __m512 clamped = _mm512_min_ps(
                    _mm512_max_ps(sum[l][v], _mm512_setzero_ps()), _mm512_set1_ps(255.0f));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(group.out[l] + b + 16 * v),
                    _mm512_cvtepi32_epi8(_mm512_cvtps_epi32(clamped)));
            }
    }

    template <int L>
    PARVULA_TARGET_AVX512 void LinesAvx512(const std::uint8_t* ring, std::ptrdiff_t rowBytes,
        int ringRows, const TFlatWeights& weights, const TLineGroup& group, int from, int to)
    {
        int b = from;
        for (; b + 64 <= to; b += 64)
            LinesBytes512<4>(
                ring, rowBytes, ringRows, weights, group, b, std::make_integer_sequence<int, L>());
        for (; b + 16 <= to; b += 16)
            LinesBytes512<1>(
                ring, rowBytes, ringRows, weights, group, b, std::make_integer_sequence<int, L>());
        for (int l = 0; l < L; ++l)
            VerticalBytesScalar(ring, rowBytes, weights, group.line[l], group.out[l], b, to);
    }

} // namespace

PARVULA_TARGET_AVX512 void VerticalLinesAvx512(const std::uint8_t* ring, std::ptrdiff_t rowBytes,
    int ringRows, const TFlatWeights& weights, const TLineGroup& group, int from, int to)
{
    static_assert(kLinesAtOnce == 4);
    switch (group.count) {
    case 4:
        return LinesAvx512<4>(ring, rowBytes, ringRows, weights, group, from, to);
    case 3:
        return LinesAvx512<3>(ring, rowBytes, ringRows, weights, group, from, to);
    case 2:
        return LinesAvx512<2>(ring, rowBytes, ringRows, weights, group, from, to);
    default:
        VerticalRowAvx512(
            ring + from, rowBytes, weights, group.line[0], group.out[0] + from, to - from);
    }
}

PARVULA_TARGET_AVX512 void VerticalRowAvx512(const std::uint8_t* work, std::ptrdiff_t workStride,
    const TFlatWeights& weights, int k, std::uint8_t* out, int bytes)
{
    const int first = weights.start[static_cast<std::size_t>(k)];
    const int entries = weights.start[static_cast<std::size_t>(k) + 1] - first;
    const int* index = weights.index.data() + first;
    const float* weightFloat = weights.weightFloat.data() + first;
    const double* weight = weights.weight.data() + first;
    const float* fusedAbove = weights.fusedAbove.data() + first;
    int b = 0;
    for (; b + 64 <= bytes; b += 64)
        VerticalBytes512<4>(
            work + b, workStride, index, weightFloat, weight, fusedAbove, entries, out + b);
    for (; b + 16 <= bytes; b += 16)
        VerticalBytes512<1>(
            work + b, workStride, index, weightFloat, weight, fusedAbove, entries, out + b);
    VerticalBytesScalar(work, workStride, weights, k, out, b, bytes);
}

} // namespace parvula::imaging

#endif
