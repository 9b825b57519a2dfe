// The resampler's pixel loops with AVX2 and FMA: sixteen rows (horizontal pass, the block turned
// on its side as floats) or up to sixty-four bytes of a row (vertical pass) side by side.
//
// Exactness: an entry is added with a float fused multiply-add where TFlatWeights proves that it
// rounds as the plain loop's double sum does (always, or once every sum is large enough); any
// other entry is added in double lanes: a byte times a float weight is exact in double (8 + 24
// significant bits), so a double fused multiply-add gives the plain loop's double sum, and the
// conversion to float rounds it as the plain loop's cast does. A float fused multiply-add alone
// would not do there: 3 * 0x1.7bde14p+0 - 0x1p-52 rounds to different floats the two ways.
#include "imaging/picstretch1_simd.h"

#if PARVULA_SIMD_X86

#include <cstring>
#include <utility>

#include <immintrin.h>

#if defined(__GNUC__) || defined(__clang__)
#define PARVULA_TARGET_AVX2 __attribute__((target("avx2,fma")))
#else
#define PARVULA_TARGET_AVX2
#endif

namespace parvula::imaging {

namespace {

    constexpr int kRows = 16;

    // The plain loop's float rounding after every entry, kept in a double lane.
    PARVULA_TARGET_AVX2 inline __m256d RoundToFloat(__m256d value)
    {
        return _mm256_cvtps_pd(_mm256_cvtpd_ps(value));
    }

    // Clamped to 0 .. 255 first, then rounded to the nearest whole number, halfway to even
    // (the conversions' default rounding, as the plain loop's explicit rule gives).
    PARVULA_TARGET_AVX2 inline __m128i SumsToInts(__m256d sum)
    {
        const __m256d clamped
            = _mm256_min_pd(_mm256_max_pd(sum, _mm256_setzero_pd()), _mm256_set1_pd(255.0));
        return _mm256_cvtpd_epi32(clamped);
    }

    PARVULA_TARGET_AVX2 inline __m256i SumsToInts(__m256 sum)
    {
        const __m256 clamped
            = _mm256_min_ps(_mm256_max_ps(sum, _mm256_setzero_ps()), _mm256_set1_ps(255.0f));
        return _mm256_cvtps_epi32(clamped);
    }

    PARVULA_TARGET_AVX2 inline __m256d LoadFourBytes(const std::uint8_t* p)
    {
        std::int32_t four;
        std::memcpy(&four, p, 4);
        return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(four)));
    }

    PARVULA_TARGET_AVX2 inline __m256 LoadEightBytes(const std::uint8_t* p)
    {
        return _mm256_cvtepi32_ps(
            _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
    }

    // Stores 16 bytes (one byte position of the sixteen rows) as 16 floats.
    PARVULA_TARGET_AVX2 inline void StoreAsFloats(float* out, __m128i bytes)
    {
        _mm256_store_ps(out, _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(bytes)));
        _mm256_store_ps(
            out + 8, _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_srli_si128(bytes, 8))));
    }

    // Bytes from .. to - 1 of the sixteen rows go to the ring as floats, byte k of row i at
    // scratch[(k % ringBytes) * 16 + i]: sixteen rows of a channel are then two 8-float loads,
    // converted once for every entry that reads them. from and ringBytes are multiples of 16.
    PARVULA_TARGET_AVX2 void Transpose(
        const std::uint8_t* const* rows, int count, int from, int to, float* scratch, int ringBytes)
    {
        const std::uint8_t* r[kRows];
        for (int i = 0; i < kRows; ++i)
            r[i] = rows[i < count ? i : 0]; // rows past the block compute unused sums
        int k = from;
        for (; k + 16 <= to; k += 16) {
            __m128i a[16];
            __m128i t[16];
            for (int i = 0; i < 16; ++i)
                a[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r[i] + k));
            for (int i = 0; i < 8; ++i) {
                t[i] = _mm_unpacklo_epi8(a[2 * i], a[2 * i + 1]);
                t[i + 8] = _mm_unpackhi_epi8(a[2 * i], a[2 * i + 1]);
            }
            // a[g * 4 + i]: bytes 4g .. 4g + 3 of rows 4i .. 4i + 3.
            for (int i = 0; i < 4; ++i) {
                a[i] = _mm_unpacklo_epi16(t[2 * i], t[2 * i + 1]);
                a[i + 4] = _mm_unpackhi_epi16(t[2 * i], t[2 * i + 1]);
                a[i + 8] = _mm_unpacklo_epi16(t[2 * i + 8], t[2 * i + 9]);
                a[i + 12] = _mm_unpackhi_epi16(t[2 * i + 8], t[2 * i + 9]);
            }
            for (int g = 0; g < 4; ++g) {
                const __m128i* u = a + 4 * g;
                const __m128i b01lo = _mm_unpacklo_epi32(u[0], u[1]);
                const __m128i b01hi = _mm_unpackhi_epi32(u[0], u[1]);
                const __m128i b23lo = _mm_unpacklo_epi32(u[2], u[3]);
                const __m128i b23hi = _mm_unpackhi_epi32(u[2], u[3]);
                float* out = scratch + (k % ringBytes + 4 * g) * kRows;
                StoreAsFloats(out, _mm_unpacklo_epi64(b01lo, b23lo));
                StoreAsFloats(out + 16, _mm_unpackhi_epi64(b01lo, b23lo));
                StoreAsFloats(out + 32, _mm_unpacklo_epi64(b01hi, b23hi));
                StoreAsFloats(out + 48, _mm_unpackhi_epi64(b01hi, b23hi));
            }
        }
        for (; k < to; ++k)
            for (int i = 0; i < kRows; ++i)
                scratch[k % ringBytes * kRows + i] = r[i][k];
    }

    // Adds one entry to the six sums in double lanes, rounding back to float: the plain loop.
    PARVULA_TARGET_AVX2 void AddInDouble(const float* p, double weight, __m256* sum)
    {
        const __m256d w = _mm256_set1_pd(weight);
        for (int k = 0; k < 6; ++k) {
            const __m256d lo = RoundToFloat(_mm256_fmadd_pd(_mm256_cvtps_pd(_mm_load_ps(p + 8 * k)),
                w, _mm256_cvtps_pd(_mm256_castps256_ps128(sum[k]))));
            const __m256d hi
                = RoundToFloat(_mm256_fmadd_pd(_mm256_cvtps_pd(_mm_load_ps(p + 8 * k + 4)), w,
                    _mm256_cvtps_pd(_mm256_extractf128_ps(sum[k], 1))));
            sum[k] = _mm256_set_m128(_mm256_cvtpd_ps(hi), _mm256_cvtpd_ps(lo));
        }
    }

    // One destination pixel of sixteen rows: result[c][row]. An entry is added with float fused
    // multiply-adds when every sum is at least its threshold in magnitude (TFlatWeights), else
    // in double lanes and rounded back to float.
    PARVULA_TARGET_AVX2 void HorizontalPixel(const float* scratch, const int* offset,
        const float* weightFloat, const double* weight, const float* fusedAbove, int entries,
        std::int32_t (*result)[kRows])
    {
        // Six named sums, so that the compiler keeps them in registers through the hot loop.
        __m256 s0 = _mm256_setzero_ps(), s1 = s0, s2 = s0, s3 = s0, s4 = s0, s5 = s0;
        const __m256 magnitudeMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
        for (int e = 0; e < entries; ++e) {
            const float* p = scratch + offset[e];
            // An entry with a threshold is fused only when every sum is large enough.
            if (fusedAbove[e] != 0.0f) {
                __m256 smallest = _mm256_min_ps(
                    _mm256_and_ps(s0, magnitudeMask), _mm256_and_ps(s1, magnitudeMask));
                smallest = _mm256_min_ps(smallest,
                    _mm256_min_ps(
                        _mm256_and_ps(s2, magnitudeMask), _mm256_and_ps(s3, magnitudeMask)));
                smallest = _mm256_min_ps(smallest,
                    _mm256_min_ps(
                        _mm256_and_ps(s4, magnitudeMask), _mm256_and_ps(s5, magnitudeMask)));
                if (_mm256_movemask_ps(
                        _mm256_cmp_ps(smallest, _mm256_set1_ps(fusedAbove[e]), _CMP_GE_OQ))
                    != 0xFF) {
                    __m256 sum[6] = { s0, s1, s2, s3, s4, s5 };
                    AddInDouble(p, weight[e], sum);
                    s0 = sum[0];
                    s1 = sum[1];
                    s2 = sum[2];
                    s3 = sum[3];
                    s4 = sum[4];
                    s5 = sum[5];
                    continue;
                }
            }
            const __m256 w = _mm256_set1_ps(weightFloat[e]);
            s0 = _mm256_fmadd_ps(_mm256_load_ps(p), w, s0);
            s1 = _mm256_fmadd_ps(_mm256_load_ps(p + 8), w, s1);
            s2 = _mm256_fmadd_ps(_mm256_load_ps(p + 16), w, s2);
            s3 = _mm256_fmadd_ps(_mm256_load_ps(p + 24), w, s3);
            s4 = _mm256_fmadd_ps(_mm256_load_ps(p + 32), w, s4);
            s5 = _mm256_fmadd_ps(_mm256_load_ps(p + 40), w, s5);
        }
        // Sum k holds channel k / 2, rows 8 * (k % 2) .. 8 * (k % 2) + 7.
        const __m256 sums[6] = { s0, s1, s2, s3, s4, s5 };
        for (int k = 0; k < 6; ++k)
            _mm256_storeu_si256(
                reinterpret_cast<__m256i*>(result[k / 2] + 8 * (k % 2)), SumsToInts(sums[k]));
    }

    // Eight float sums plus a row's eight bytes times the weight, in double lanes and rounded
    // back to float: the plain loop.
    PARVULA_TARGET_AVX2 inline __m256 AddEightInDouble(
        __m256 sum, const std::uint8_t* src, __m256d w)
    {
        const __m256d lo = RoundToFloat(
            _mm256_fmadd_pd(LoadFourBytes(src), w, _mm256_cvtps_pd(_mm256_castps256_ps128(sum))));
        const __m256d hi = RoundToFloat(_mm256_fmadd_pd(
            LoadFourBytes(src + 4), w, _mm256_cvtps_pd(_mm256_extractf128_ps(sum, 1))));
        return _mm256_set_m128(_mm256_cvtpd_ps(hi), _mm256_cvtpd_ps(lo));
    }

    // 8 * NV bytes of a destination row. An entry with a threshold is fused only when every sum
    // is at least that large in magnitude (TFlatWeights), else added in double lanes.
    template <int NV>
    PARVULA_TARGET_AVX2 void VerticalBytes(const std::uint8_t* work, std::ptrdiff_t workStride,
        const int* index, const float* weightFloat, const double* weight, const float* fusedAbove,
        int entries, std::uint8_t* out)
    {
        const __m256 magnitudeMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
        __m256 sum[NV];
        for (int v = 0; v < NV; ++v)
            sum[v] = _mm256_setzero_ps();
        for (int e = 0; e < entries; ++e) {
            const std::uint8_t* src = work + index[e] * workStride;
            if (fusedAbove[e] != 0.0f) {
                __m256 smallest = _mm256_and_ps(sum[0], magnitudeMask);
                for (int v = 1; v < NV; ++v)
                    smallest = _mm256_min_ps(smallest, _mm256_and_ps(sum[v], magnitudeMask));
                if (_mm256_movemask_ps(
                        _mm256_cmp_ps(smallest, _mm256_set1_ps(fusedAbove[e]), _CMP_GE_OQ))
                    != 0xFF) {
                    const __m256d w = _mm256_set1_pd(weight[e]);
                    for (int v = 0; v < NV; ++v)
                        sum[v] = AddEightInDouble(sum[v], src + 8 * v, w);
                    continue;
                }
            }
            const __m256 w = _mm256_set1_ps(weightFloat[e]);
#pragma GCC unroll 8
            for (int v = 0; v < NV; ++v)
                sum[v] = _mm256_fmadd_ps(LoadEightBytes(src + 8 * v), w, sum[v]);
        }
        for (int v = 0; v < NV; ++v) {
            const __m256i ints = SumsToInts(sum[v]);
            const __m128i words
                = _mm_packus_epi32(_mm256_castsi256_si128(ints), _mm256_extracti128_si256(ints, 1));
            _mm_storel_epi64(
                reinterpret_cast<__m128i*>(out + 8 * v), _mm_packus_epi16(words, words));
        }
    }

    // Adds window row i (its bytes at src, widened in x) to a line's sums when its list reads
    // that row, as the AVX-512 loop does.
    template <int NV>
    PARVULA_TARGET_AVX2 inline void AddRowToLine(__m256 (&sum)[NV], const TLineList& list, int i,
        const __m256 (&x)[NV], const std::uint8_t* src)
    {
        const unsigned e = static_cast<unsigned>(i - list.from);
        if (e >= list.entries)
            return;
        if (list.fusedAbove[e] != 0.0f) {
            const __m256 magnitudeMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
            __m256 smallest = _mm256_and_ps(sum[0], magnitudeMask);
#pragma GCC unroll 16
            for (int v = 1; v < NV; ++v)
                smallest = _mm256_min_ps(smallest, _mm256_and_ps(sum[v], magnitudeMask));
            if (_mm256_movemask_ps(
                    _mm256_cmp_ps(smallest, _mm256_set1_ps(list.fusedAbove[e]), _CMP_GE_OQ))
                != 0xFF) {
                const __m256d w = _mm256_set1_pd(list.weight[e]);
#pragma GCC unroll 16
                for (int v = 0; v < NV; ++v)
                    sum[v] = AddEightInDouble(sum[v], src + 8 * v, w);
                return;
            }
        }
        const __m256 w = _mm256_set1_ps(list.weightFloat[e]);
#pragma GCC unroll 16
        for (int v = 0; v < NV; ++v)
            sum[v] = _mm256_fmadd_ps(x[v], w, sum[v]);
    }

    // 8 * NV bytes of each of L lines (TLineGroup), as the AVX-512 loop does 16 * NV.
    template <int NV, int... Ls>
    PARVULA_TARGET_AVX2 __attribute__((noinline)) void LinesBytes(const std::uint8_t* ring,
        std::ptrdiff_t rowBytes, int ringRows, const TFlatWeights& weights, const TLineGroup& group,
        int b, std::integer_sequence<int, Ls...>)
    {
        constexpr int L = sizeof...(Ls);
        const TLineList lists[L] = { LineListOf(weights, group, Ls)... };
        __m256 sum[L][NV];
#pragma GCC unroll 16
        for (int l = 0; l < L; ++l)
#pragma GCC unroll 16
            for (int v = 0; v < NV; ++v)
                sum[l][v] = _mm256_setzero_ps();
        TWindowRows rows(ring, rowBytes, ringRows, group, b);
        for (int i = 0; i < group.span; ++i, rows.Next()) {
            const std::uint8_t* src = rows.Row();
            __m256 x[NV];
#pragma GCC unroll 16
            for (int v = 0; v < NV; ++v)
                x[v] = LoadEightBytes(src + 8 * v);
            (AddRowToLine<NV>(sum[Ls], lists[Ls], i, x, src), ...);
        }
#pragma GCC unroll 16
        for (int l = 0; l < L; ++l)
#pragma GCC unroll 16
            for (int v = 0; v < NV; ++v) {
                const __m256i ints = SumsToInts(sum[l][v]);
                const __m128i words = _mm_packus_epi32(
                    _mm256_castsi256_si128(ints), _mm256_extracti128_si256(ints, 1));
                _mm_storel_epi64(reinterpret_cast<__m128i*>(group.out[l] + b + 8 * v),
                    _mm_packus_epi16(words, words));
            }
    }

    template <int L>
    PARVULA_TARGET_AVX2 void LinesAvx2(const std::uint8_t* ring, std::ptrdiff_t rowBytes,
        int ringRows, const TFlatWeights& weights, const TLineGroup& group, int from, int to)
    {
        int b = from;
        for (; b + 32 <= to; b += 32)
            LinesBytes<4>(
                ring, rowBytes, ringRows, weights, group, b, std::make_integer_sequence<int, L>());
        for (; b + 8 <= to; b += 8)
            LinesBytes<1>(
                ring, rowBytes, ringRows, weights, group, b, std::make_integer_sequence<int, L>());
        for (int l = 0; l < L; ++l)
            VerticalBytesScalar(ring, rowBytes, weights, group.line[l], group.out[l], b, to);
    }

} // namespace

PARVULA_TARGET_AVX2 void HorizontalBlockAvx2(const std::uint8_t* const* rows, int count,
    int sourceWidth, const TFlatWeights& weights, int ringColumns, std::uint8_t* const* out,
    float* scratch)
{
    const int bytes = sourceWidth * 3;
    const int ringBytes = ringColumns * 3;
    const int dw = weights.Count();
    alignas(32) std::int32_t result[3][kRows];
    int done = 0; // bytes turned so far
    for (int i = 0; i < dw; ++i) {
        const int to = TurnedBytesFor(weights, i, i, bytes);
        if (to > done) {
            Transpose(rows, count, done, to, scratch, ringBytes);
            done = to;
        }
        const int first = weights.start[static_cast<std::size_t>(i)];
        const int entries = weights.start[static_cast<std::size_t>(i) + 1] - first;
        HorizontalPixel(scratch, weights.offset.data() + first, weights.weightFloat.data() + first,
            weights.weight.data() + first, weights.fusedAbove.data() + first, entries, result);
        for (int r = 0; r < count; ++r) {
            std::uint8_t* dst = out[r] + 3 * i;
            for (int c = 0; c < 3; ++c)
                dst[c] = static_cast<std::uint8_t>(result[c][r]);
        }
    }
}

PARVULA_TARGET_AVX2 void VerticalLinesAvx2(const std::uint8_t* ring, std::ptrdiff_t rowBytes,
    int ringRows, const TFlatWeights& weights, const TLineGroup& group, int from, int to)
{
    if (group.count == 2)
        return LinesAvx2<2>(ring, rowBytes, ringRows, weights, group, from, to);
    VerticalRowAvx2(ring + from, rowBytes, weights, group.line[0], group.out[0] + from, to - from);
}

PARVULA_TARGET_AVX2 void VerticalRowAvx2(const std::uint8_t* work, std::ptrdiff_t workStride,
    const TFlatWeights& weights, int k, std::uint8_t* out, int bytes)
{
    const int first = weights.start[static_cast<std::size_t>(k)];
    const int entries = weights.start[static_cast<std::size_t>(k) + 1] - first;
    const int* index = weights.index.data() + first;
    const float* weightFloat = weights.weightFloat.data() + first;
    const double* weight = weights.weight.data() + first;
    const float* fusedAbove = weights.fusedAbove.data() + first;
    int b = 0;
    // Eight sums side by side hide the latency of the multiply-adds.
    for (; b + 64 <= bytes; b += 64)
        VerticalBytes<8>(
            work + b, workStride, index, weightFloat, weight, fusedAbove, entries, out + b);
    for (; b + 8 <= bytes; b += 8)
        VerticalBytes<1>(
            work + b, workStride, index, weightFloat, weight, fusedAbove, entries, out + b);
    VerticalBytesScalar(work, workStride, weights, k, out, b, bytes);
}

} // namespace parvula::imaging

#endif
