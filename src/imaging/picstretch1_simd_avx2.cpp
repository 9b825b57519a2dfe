// The resampler's pixel loops with AVX2 and FMA: four double lanes, sixteen rows (horizontal
// pass) or up to forty-eight bytes of a row (vertical pass) side by side.
//
// Exactness: a byte times a float weight is exact in double (8 + 24 significant bits), so a
// double fused multiply-add gives the same double as the plain loop's product and sum, and the
// conversion to float then rounds once more exactly as the plain loop's cast does. A float fused
// multiply-add would round the exact sum straight to float instead, which differs from the
// double-then-float rounding when the double result falls exactly on a midpoint between two
// floats (3 * 0x1.7bde14p+0 - 0x1p-52 is such a case), so the sums stay in double lanes.
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

    constexpr int kRows = 16; // four quads of rows
    constexpr int kChains = 12; // three channels times four quads

    // The plain loop's float rounding after every entry, kept in a double lane.
    PARVULA_TARGET_AVX2 inline __m256d RoundToFloat(__m256d value)
    {
        return _mm256_cvtps_pd(_mm256_cvtpd_ps(value));
    }

    // Clamped to 0 .. 255 first, then rounded to the nearest whole number, halfway to even
    // (the conversion's default rounding, as the plain loop's explicit rule gives).
    PARVULA_TARGET_AVX2 inline __m128i SumsToInts(__m256d sum)
    {
        const __m256d clamped
            = _mm256_min_pd(_mm256_max_pd(sum, _mm256_setzero_pd()), _mm256_set1_pd(255.0));
        return _mm256_cvtpd_epi32(clamped);
    }

    PARVULA_TARGET_AVX2 inline __m256d LoadFourBytes(const std::uint8_t* p)
    {
        std::int32_t four;
        std::memcpy(&four, p, 4);
        return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(four)));
    }

    // Transposes a block of rows into doubles: for byte k of a row, the values of the sixteen
    // rows lie at scratch[k * 16 .. k * 16 + 15], quad by quad.
    PARVULA_TARGET_AVX2 void Transpose(
        const std::uint8_t* const* rows, int count, int bytes, double* scratch)
    {
        for (int q = 0; q < kRows / 4; ++q) {
            const std::uint8_t* r[4];
            for (int lane = 0; lane < 4; ++lane) {
                const int row = q * 4 + lane;
                r[lane] = rows[row < count ? row : 0]; // lanes past the block compute unused sums
            }
            int k = 0;
            for (; k + 4 <= bytes; k += 4) {
                __m128 a[4];
                for (int lane = 0; lane < 4; ++lane) {
                    std::int32_t four;
                    std::memcpy(&four, r[lane] + k, 4);
                    a[lane] = _mm_castsi128_ps(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(four)));
                }
                _MM_TRANSPOSE4_PS(a[0], a[1], a[2], a[3]);
                for (int j = 0; j < 4; ++j)
                    _mm256_store_pd(scratch + (k + j) * kRows + q * 4,
                        _mm256_cvtepi32_pd(_mm_castps_si128(a[j])));
            }
            for (; k < bytes; ++k)
                for (int lane = 0; lane < 4; ++lane)
                    scratch[k * kRows + q * 4 + lane] = r[lane][k];
        }
    }

    template <int NV>
    PARVULA_TARGET_AVX2 void VerticalChunk(const std::uint8_t* work, std::ptrdiff_t workStride,
        const int* index, const double* weight, int entries, std::uint8_t* out)
    {
        __m256d sum[NV];
        for (int v = 0; v < NV; ++v)
            sum[v] = _mm256_setzero_pd();
        for (int e = 0; e < entries; ++e) {
            const std::uint8_t* src = work + index[e] * workStride;
            const __m256d w = _mm256_set1_pd(weight[e]);
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

} // namespace

PARVULA_TARGET_AVX2 void HorizontalBlockAvx2(const std::uint8_t* const* rows, int count,
    int sourceWidth, const TFlatWeights& weights, std::uint8_t* const* out, double* scratch)
{
    Transpose(rows, count, sourceWidth * 3, scratch);
    const int dw = weights.Count();
    alignas(16) std::int32_t result[kChains][4];
    for (int i = 0; i < dw; ++i) {
        __m256d sum[kChains];
        for (int k = 0; k < kChains; ++k)
            sum[k] = _mm256_setzero_pd();
        const int end = weights.start[static_cast<std::size_t>(i) + 1];
        for (int e = weights.start[static_cast<std::size_t>(i)]; e < end; ++e) {
            // Pixel n's three channels of all sixteen rows: 48 doubles in a row.
            const double* p = scratch
                + static_cast<std::ptrdiff_t>(weights.index[static_cast<std::size_t>(e)]) * 3
                    * kRows;
            const __m256d w = _mm256_set1_pd(weights.weight[static_cast<std::size_t>(e)]);
            for (int k = 0; k < kChains; ++k)
                sum[k] = RoundToFloat(_mm256_fmadd_pd(_mm256_load_pd(p + 4 * k), w, sum[k]));
        }
        for (int k = 0; k < kChains; ++k)
            _mm_store_si128(reinterpret_cast<__m128i*>(result[k]), SumsToInts(sum[k]));
        // Chain k holds channel k / 4 of rows 4 * (k % 4) .. 4 * (k % 4) + 3.
        for (int r = 0; r < count; ++r) {
            std::uint8_t* dst = out[r] + 3 * i;
            for (int c = 0; c < 3; ++c)
                dst[c] = static_cast<std::uint8_t>(result[c * 4 + r / 4][r % 4]);
        }
    }
}

PARVULA_TARGET_AVX2 void VerticalRowAvx2(const std::uint8_t* work, std::ptrdiff_t workStride,
    const TFlatWeights& weights, int k, std::uint8_t* out, int bytes)
{
    const int first = weights.start[static_cast<std::size_t>(k)];
    const int entries = weights.start[static_cast<std::size_t>(k) + 1] - first;
    const int* index = weights.index.data() + first;
    const double* weight = weights.weight.data() + first;
    int b = 0;
    // Twelve independent sums hide the latency of the multiply-add and the two conversions.
    for (; b + 48 <= bytes; b += 48)
        VerticalChunk<12>(work + b, workStride, index, weight, entries, out + b);
    for (; b + 16 <= bytes; b += 16)
        VerticalChunk<4>(work + b, workStride, index, weight, entries, out + b);
    for (; b + 4 <= bytes; b += 4)
        VerticalChunk<1>(work + b, workStride, index, weight, entries, out + b);
    VerticalBytesScalar(work, workStride, weights, k, out, b, bytes);
}

} // namespace parvula::imaging

#endif
