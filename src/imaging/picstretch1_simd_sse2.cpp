// The resampler's pixel loops with SSE2, which every x86-64 processor has: two double lanes,
// eight rows (horizontal pass) or up to twenty-four bytes of a row (vertical pass) side by side.
// The product of a byte and a float weight is exact in double, so multiplying, adding in double
// and converting to float after every entry reproduces the plain loop bit for bit.
#include "imaging/picstretch1_simd.h"

#if PARVULA_SIMD_X86

#include <cstring>

#include <emmintrin.h>

namespace parvula::imaging {

namespace {

    constexpr int kRows = 8; // four pairs of rows
    constexpr int kChains = 12; // three channels times four pairs

    inline __m128d RoundToFloat(__m128d value) { return _mm_cvtps_pd(_mm_cvtpd_ps(value)); }

    // Clamped to 0 .. 255, then converted with the default rounding: nearest, halfway to even.
    inline __m128i SumsToInts(__m128d sum)
    {
        return _mm_cvtpd_epi32(_mm_min_pd(_mm_max_pd(sum, _mm_setzero_pd()), _mm_set1_pd(255.0)));
    }

    inline __m128d LoadTwoBytes(const std::uint8_t* p)
    {
        const __m128i two = _mm_cvtsi32_si128(p[0] | (p[1] << 8));
        const __m128i zero = _mm_setzero_si128();
        return _mm_cvtepi32_pd(_mm_unpacklo_epi16(_mm_unpacklo_epi8(two, zero), zero));
    }

    template <int NV>
    void VerticalChunk(const std::uint8_t* work, std::ptrdiff_t workStride, const int* index,
        const double* weight, int entries, std::uint8_t* out)
    {
        __m128d sum[NV];
        for (int v = 0; v < NV; ++v)
            sum[v] = _mm_setzero_pd();
        for (int e = 0; e < entries; ++e) {
            const std::uint8_t* src = work + index[e] * workStride;
            const __m128d w = _mm_set1_pd(weight[e]);
            for (int v = 0; v < NV; ++v)
                sum[v] = RoundToFloat(_mm_add_pd(_mm_mul_pd(LoadTwoBytes(src + 2 * v), w), sum[v]));
        }
        alignas(16) std::int32_t ints[4];
        for (int v = 0; v < NV; ++v) {
            _mm_store_si128(reinterpret_cast<__m128i*>(ints), SumsToInts(sum[v]));
            out[2 * v] = static_cast<std::uint8_t>(ints[0]);
            out[2 * v + 1] = static_cast<std::uint8_t>(ints[1]);
        }
    }

} // namespace

void HorizontalBlockSse2(const std::uint8_t* const* rows, int count, int sourceWidth,
    const TFlatWeights& weights, std::uint8_t* const* out, double* scratch)
{
    // Byte k of the eight rows lies at scratch[k * 8 .. k * 8 + 7], pair by pair.
    const int bytes = sourceWidth * 3;
    for (int r = 0; r < kRows; ++r) {
        const std::uint8_t* row = rows[r < count ? r : 0]; // lanes past the block are unused
        for (int k = 0; k < bytes; ++k)
            scratch[k * kRows + r] = row[k];
    }
    const int dw = weights.Count();
    alignas(16) std::int32_t result[kChains][4];
    for (int i = 0; i < dw; ++i) {
        __m128d sum[kChains];
        for (int k = 0; k < kChains; ++k)
            sum[k] = _mm_setzero_pd();
        const int end = weights.start[static_cast<std::size_t>(i) + 1];
        for (int e = weights.start[static_cast<std::size_t>(i)]; e < end; ++e) {
            const double* p = scratch
                + static_cast<std::ptrdiff_t>(weights.index[static_cast<std::size_t>(e)]) * 3
                    * kRows;
            const __m128d w = _mm_set1_pd(weights.weight[static_cast<std::size_t>(e)]);
            for (int k = 0; k < kChains; ++k)
                sum[k] = RoundToFloat(_mm_add_pd(_mm_mul_pd(_mm_load_pd(p + 2 * k), w), sum[k]));
        }
        for (int k = 0; k < kChains; ++k)
            _mm_store_si128(reinterpret_cast<__m128i*>(result[k]), SumsToInts(sum[k]));
        // Chain k holds channel k / 4 of rows 2 * (k % 4) and 2 * (k % 4) + 1.
        for (int r = 0; r < count; ++r) {
            std::uint8_t* dst = out[r] + 3 * i;
            for (int c = 0; c < 3; ++c)
                dst[c] = static_cast<std::uint8_t>(result[c * 4 + r / 2][r % 2]);
        }
    }
}

void VerticalRowSse2(const std::uint8_t* work, std::ptrdiff_t workStride,
    const TFlatWeights& weights, int k, std::uint8_t* out, int bytes)
{
    const int first = weights.start[static_cast<std::size_t>(k)];
    const int entries = weights.start[static_cast<std::size_t>(k) + 1] - first;
    const int* index = weights.index.data() + first;
    const double* weight = weights.weight.data() + first;
    int b = 0;
    for (; b + 24 <= bytes; b += 24)
        VerticalChunk<12>(work + b, workStride, index, weight, entries, out + b);
    for (; b + 8 <= bytes; b += 8)
        VerticalChunk<4>(work + b, workStride, index, weight, entries, out + b);
    VerticalBytesScalar(work, workStride, weights, k, out, b, bytes);
}

} // namespace parvula::imaging

#endif
