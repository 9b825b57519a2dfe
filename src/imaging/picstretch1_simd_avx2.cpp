// The resampler's pixel loops with AVX2 and FMA: sixteen rows (horizontal pass) or up to
// sixty-four bytes of a row (vertical pass) side by side.
//
// Exactness: a list whose sums are all exact in double (TFlatWeights::fusable) is summed with
// float fused multiply-adds, which then round exactly as the plain loop does. Every other list
// uses double lanes: a byte times a float weight is exact in double (8 + 24 significant bits),
// so a double fused multiply-add gives the plain loop's double sum, and the conversion to float
// rounds it as the plain loop's cast does. A float fused multiply-add alone would not do for
// such lists: 3 * 0x1.7bde14p+0 - 0x1p-52 rounds to different floats the two ways.
#include "imaging/picstretch1_simd.h"

#if PARVULA_SIMD_X86

#include <cstring>

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

    // Byte k of the sixteen rows goes to scratch[k * 16 .. k * 16 + 15]: sixteen rows of a
    // channel are then one 16-byte load.
    PARVULA_TARGET_AVX2 void Transpose(
        const std::uint8_t* const* rows, int count, int bytes, std::uint8_t* scratch)
    {
        const std::uint8_t* r[kRows];
        for (int i = 0; i < kRows; ++i)
            r[i] = rows[i < count ? i : 0]; // rows past the block compute unused sums
        int k = 0;
        for (; k + 16 <= bytes; k += 16) {
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
                std::uint8_t* out = scratch + (k + 4 * g) * kRows;
                _mm_store_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi64(b01lo, b23lo));
                _mm_store_si128(
                    reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi64(b01lo, b23lo));
                _mm_store_si128(
                    reinterpret_cast<__m128i*>(out + 32), _mm_unpacklo_epi64(b01hi, b23hi));
                _mm_store_si128(
                    reinterpret_cast<__m128i*>(out + 48), _mm_unpackhi_epi64(b01hi, b23hi));
            }
        }
        for (; k < bytes; ++k)
            for (int i = 0; i < kRows; ++i)
                scratch[k * kRows + i] = r[i][k];
    }

    // One destination pixel of sixteen rows: result[c][row]. An entry is added with float fused
    // multiply-adds when every sum is at least its threshold in magnitude (TFlatWeights), else
    // in double lanes and rounded back to float.
    PARVULA_TARGET_AVX2 void HorizontalPixel(const std::uint8_t* scratch, const int* index,
        const float* weightFloat, const double* weight, const float* fusedAbove, int entries,
        std::int32_t (*result)[kRows])
    {
        __m256 sum[6];
        for (__m256& s : sum)
            s = _mm256_setzero_ps();
        const __m256 magnitudeMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
        for (int e = 0; e < entries; ++e) {
            const std::uint8_t* p = scratch + index[e] * 3 * kRows;
            bool fused = fusedAbove[e] == 0.0f;
            if (!fused) {
                __m256 smallest = _mm256_and_ps(sum[0], magnitudeMask);
                for (int k = 1; k < 6; ++k)
                    smallest = _mm256_min_ps(smallest, _mm256_and_ps(sum[k], magnitudeMask));
                fused = _mm256_movemask_ps(
                            _mm256_cmp_ps(smallest, _mm256_set1_ps(fusedAbove[e]), _CMP_GE_OQ))
                    == 0xFF;
            }
            if (fused) {
                const __m256 w = _mm256_set1_ps(weightFloat[e]);
#pragma GCC unroll 6
                for (int k = 0; k < 6; ++k)
                    sum[k] = _mm256_fmadd_ps(LoadEightBytes(p + 8 * k), w, sum[k]);
            } else {
                const __m256d w = _mm256_set1_pd(weight[e]);
#pragma GCC unroll 6
                for (int k = 0; k < 6; ++k) {
                    const __m256d lo = RoundToFloat(_mm256_fmadd_pd(LoadFourBytes(p + 8 * k), w,
                        _mm256_cvtps_pd(_mm256_castps256_ps128(sum[k]))));
                    const __m256d hi = RoundToFloat(_mm256_fmadd_pd(LoadFourBytes(p + 8 * k + 4), w,
                        _mm256_cvtps_pd(_mm256_extractf128_ps(sum[k], 1))));
                    sum[k] = _mm256_set_m128(_mm256_cvtpd_ps(hi), _mm256_cvtpd_ps(lo));
                }
            }
        }
        // sum[k] holds channel k / 2, rows 8 * (k % 2) .. 8 * (k % 2) + 7.
        for (int k = 0; k < 6; ++k)
            _mm256_storeu_si256(
                reinterpret_cast<__m256i*>(result[k / 2] + 8 * (k % 2)), SumsToInts(sum[k]));
    }

    template <int NV>
    PARVULA_TARGET_AVX2 void VerticalDouble(const std::uint8_t* work, std::ptrdiff_t workStride,
        const int* index, const double* weight, int entries, std::uint8_t* out)
    {
        __m256d sum[NV];
        for (int v = 0; v < NV; ++v)
            sum[v] = _mm256_setzero_pd();
        for (int e = 0; e < entries; ++e) {
            const std::uint8_t* src = work + index[e] * workStride;
            const __m256d w = _mm256_set1_pd(weight[e]);
#pragma GCC unroll 12
            for (int v = 0; v < NV; ++v)
                sum[v] = RoundToFloat(_mm256_fmadd_pd(LoadFourBytes(src + 4 * v), w, sum[v]));
        }
        for (int v = 0; v < NV; ++v) {
            const __m128i ints = SumsToInts(sum[v]);
            const __m128i bytes = _mm_packus_epi16(_mm_packus_epi32(ints, ints), ints);
            const std::int32_t four = _mm_cvtsi128_si32(bytes);
            std::memcpy(out + 4 * v, &four, 4);
        }
    }

    template <int NV>
    PARVULA_TARGET_AVX2 void VerticalFused(const std::uint8_t* work, std::ptrdiff_t workStride,
        const int* index, const float* weight, int entries, std::uint8_t* out)
    {
        __m256 sum[NV];
        for (int v = 0; v < NV; ++v)
            sum[v] = _mm256_setzero_ps();
        for (int e = 0; e < entries; ++e) {
            const std::uint8_t* src = work + index[e] * workStride;
            const __m256 w = _mm256_set1_ps(weight[e]);
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

} // namespace

PARVULA_TARGET_AVX2 void HorizontalBlockAvx2(const std::uint8_t* const* rows, int count,
    int sourceWidth, const TFlatWeights& weights, std::uint8_t* const* out, double* scratch)
{
    auto* bytes = reinterpret_cast<std::uint8_t*>(scratch);
    Transpose(rows, count, sourceWidth * 3, bytes);
    const int dw = weights.Count();
    alignas(32) std::int32_t result[3][kRows];
    for (int i = 0; i < dw; ++i) {
        const int first = weights.start[static_cast<std::size_t>(i)];
        const int entries = weights.start[static_cast<std::size_t>(i) + 1] - first;
        HorizontalPixel(bytes, weights.index.data() + first, weights.weightFloat.data() + first,
            weights.weight.data() + first, weights.fusedAbove.data() + first, entries, result);
        for (int r = 0; r < count; ++r) {
            std::uint8_t* dst = out[r] + 3 * i;
            for (int c = 0; c < 3; ++c)
                dst[c] = static_cast<std::uint8_t>(result[c][r]);
        }
    }
}

PARVULA_TARGET_AVX2 void VerticalRowAvx2(const std::uint8_t* work, std::ptrdiff_t workStride,
    const TFlatWeights& weights, int k, std::uint8_t* out, int bytes)
{
    const int first = weights.start[static_cast<std::size_t>(k)];
    const int entries = weights.start[static_cast<std::size_t>(k) + 1] - first;
    const int* index = weights.index.data() + first;
    int b = 0;
    // Enough independent sums to hide the latency of the multiply-adds.
    if (weights.fusable[static_cast<std::size_t>(k)]) {
        const float* weight = weights.weightFloat.data() + first;
        for (; b + 64 <= bytes; b += 64)
            VerticalFused<8>(work + b, workStride, index, weight, entries, out + b);
        for (; b + 8 <= bytes; b += 8)
            VerticalFused<1>(work + b, workStride, index, weight, entries, out + b);
    } else {
        const double* weight = weights.weight.data() + first;
        for (; b + 48 <= bytes; b += 48)
            VerticalDouble<12>(work + b, workStride, index, weight, entries, out + b);
        for (; b + 4 <= bytes; b += 4)
            VerticalDouble<1>(work + b, workStride, index, weight, entries, out + b);
    }
    VerticalBytesScalar(work, workStride, weights, k, out, b, bytes);
}

} // namespace parvula::imaging

#endif
