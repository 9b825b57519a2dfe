// Weight lists and the separable two-pass resampler.
//
// Numbers follow one rule: scales, centres, widths, kernel arguments, weights and channel sums
// are floats, each computed in double and rounded to float where it is stored. The output bytes
// are the reference for any faster variant of these loops, so the order of the additions and
// every rounding point are fixed here.
#include "imaging/picstretch1.h"

#include <algorithm>
#include <cmath>

namespace parvula::imaging {

namespace {

    // A channel sum to a byte: clamped first, then rounded half to even. Written out rather
    // than left to the floating-point environment's rounding mode.
    std::uint8_t SumToByte(float sum)
    {
        if (sum > 255.0f)
            return 255;
        if (sum < 0.0f)
            return 0;
        const float whole = std::floor(sum);
        const float fraction = sum - whole; // exact: both lie in 0 .. 255
        int byte = static_cast<int>(whole);
        if (fraction > 0.5f || (fraction == 0.5f && (byte & 1) != 0))
            ++byte;
        return static_cast<std::uint8_t>(byte);
    }

    // Mirrors a position outside 0 .. length - 1 back into the line: about the first pixel
    // (which is not repeated) on the left, about the outer edge of the last pixel (which is
    // repeated) on the right. A kernel wider than the whole line can mirror past the other end;
    // such a position reads the nearest pixel of the line instead of memory beside it.
    int SourceIndex(int j, int length)
    {
        int n = j;
        if (j < 0)
            n = -j;
        else if (j >= length)
            n = 2 * length - 1 - j;
        return std::clamp(n, 0, length - 1);
    }

} // namespace

float ResampleScale(int destLength, int sourceLength)
{
    // Corner alignment maps the first and last pixels onto each other, which needs at least two
    // pixels on both sides; a single pixel on either side scales by the plain ratio instead.
    if (sourceLength == 1 || destLength <= 1)
        return static_cast<float>(static_cast<double>(destLength) / sourceLength);
    return static_cast<float>(static_cast<double>(destLength - 1) / (sourceLength - 1));
}

TWeightLists BuildWeightLists(
    int destLength, int sourceLength, float scale, TFilterFunc filter, float support)
{
    TWeightLists lists;
    if (destLength <= 0)
        return lists;
    if (sourceLength < 1)
        throw EImageError("Source bitmap too small");
    if (!(scale > 0.0f) || filter == nullptr)
        throw EImageError("Resample: invalid scale or kernel");
    lists.resize(static_cast<std::size_t>(destLength));

    // Shrinking widens the kernel by 1 / scale and flattens it by the same factor, so every
    // source pixel under the wider window contributes.
    const bool shrinking = scale < 1.0f;
    float width = support;
    float fscale = 1.0f;
    if (shrinking) {
        width = static_cast<float>(static_cast<double>(support) / scale);
        fscale = static_cast<float>(1.0 / scale);
    }

    for (int i = 0; i < destLength; ++i) {
        TWeightList& list = lists[static_cast<std::size_t>(i)];
        const float centre = static_cast<float>(static_cast<double>(i) / scale);
        const int left = static_cast<int>(std::floor(static_cast<double>(centre) - width));
        const int right = static_cast<int>(std::ceil(static_cast<double>(centre) + width));
        list.reserve(static_cast<std::size_t>(right - left + 1));
        for (int j = left; j <= right; ++j) {
            float weight;
            if (shrinking) {
                const float arg = static_cast<float>((static_cast<double>(centre) - j) / fscale);
                weight = static_cast<float>(static_cast<double>(filter(arg)) / fscale);
            } else {
                weight = filter(static_cast<float>(static_cast<double>(centre) - j));
            }
            if (weight == 0.0f)
                continue;
            list.push_back(TWeight { SourceIndex(j, sourceLength), weight });
        }
    }
    return lists;
}

void ApplyWeightLists(const std::uint8_t* input, std::ptrdiff_t inputStep,
    const TWeightLists& lists, std::uint8_t* output, std::ptrdiff_t outputStep)
{
    for (const TWeightList& list : lists) {
        float sumB = 0.0f;
        float sumG = 0.0f;
        float sumR = 0.0f;
        // Each sum is rounded to float after every entry, in list order; the product of a byte
        // and a float is exact in double, so only the addition rounds.
        for (const TWeight& entry : list) {
            const std::uint8_t* pixel = input + entry.index * inputStep;
            const double w = entry.weight;
            sumB = static_cast<float>(sumB + pixel[0] * w);
            sumG = static_cast<float>(sumG + pixel[1] * w);
            sumR = static_cast<float>(sumR + pixel[2] * w);
        }
        output[0] = SumToByte(sumB);
        output[1] = SumToByte(sumG);
        output[2] = SumToByte(sumR);
        output += outputStep;
    }
}

void Resample(TBitmap& source, TBitmap& dest, TFilterFunc filter, float support)
{
    const int sw = source.Width();
    const int sh = source.Height();
    if (sw < 1 || sh < 1)
        throw EImageError("Source bitmap too small");
    if (filter == nullptr)
        throw EImageError("Resample: no kernel given");
    const int dw = dest.Width();
    const int dh = dest.Height();

    // The horizontal pass's result: destination width, source height, each channel a byte.
    TBitmap work(dw, sh, 24);
    const float xscale = ResampleScale(dw, sw);
    const float yscale = ResampleScale(dh, sh);
    source.ConvertTo24();
    dest.ConvertTo24();
    if (dw == 0 || dh == 0)
        return;

    {
        const TWeightLists columns = BuildWeightLists(dw, sw, xscale, filter, support);
        for (int y = 0; y < sh; ++y)
            ApplyWeightLists(source.ScanLine(y), 3, columns, work.ScanLine(y), 3);
    }
    {
        const TWeightLists rows = BuildWeightLists(dh, sh, yscale, filter, support);
        const auto workStride = static_cast<std::ptrdiff_t>(work.Stride());
        const auto destStride = static_cast<std::ptrdiff_t>(dest.Stride());
        for (int x = 0; x < dw; ++x)
            ApplyWeightLists(
                work.ScanLine(0) + 3 * x, workStride, rows, dest.ScanLine(0) + 3 * x, destStride);
    }
}

} // namespace parvula::imaging
