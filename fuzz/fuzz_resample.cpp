// libFuzzer target: every vector level of the resampler against the plain loops, on arbitrary
// sizes, kernels and pixels, both from a whole bitmap and from streamed rows, and streamed rows of
// a turned picture against turning it first. Any byte that differs is a finding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "imaging/imagefiles.h"
#include "imaging/orientation.h"
#include "imaging/picstretch1.h"

using namespace parvula::imaging;

namespace {

// Rows of a bitmap handed out one at a time, as a decoder would.
class TRows final : public TRowReader {
public:
    explicit TRows(const TBitmap& bitmap)
        : m_bitmap(bitmap)
    {
    }
    int Width() const override { return m_bitmap.Width(); }
    int Height() const override { return m_bitmap.Height(); }
    void ReadRow(std::uint8_t* bgr) override
    {
        const std::uint8_t* row = m_bitmap.ScanLine(m_next++);
        std::memcpy(bgr, row, 3 * static_cast<std::size_t>(m_bitmap.Width()));
    }

private:
    const TBitmap& m_bitmap;
    int m_next = 0;
};

std::vector<std::uint8_t> Bytes(const TBitmap& bitmap)
{
    std::vector<std::uint8_t> bytes;
    for (int y = 0; y < bitmap.Height(); ++y)
        bytes.insert(bytes.end(), bitmap.ScanLine(y), bitmap.ScanLine(y) + 3 * bitmap.Width());
    return bytes;
}

// The size's high bits pick wide rows (the rings' wrap-around) or tall columns now and then.
int Side(std::uint8_t low, std::uint8_t high, int wide)
{
    return 1 + low % 64 + ((high & 3) == 3 ? wide : 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 6)
        return 0;
    const int sw = Side(data[0], data[4], 700);
    const int sh = Side(data[1], data[4] >> 2, 300);
    const int dw = Side(data[2], data[5], 150);
    const int dh = Side(data[3], data[5] >> 2, 90);
    const int filter = 1 + (data[4] >> 4) % (KernelCount - 1);
    const int orientation = 1 + (data[5] >> 4) % 8;
    const TKernelEntry& kernel = KernelTable[static_cast<std::size_t>(filter)];
    // The pixels: the rest of the input, repeated and stirred with the position, so that no
    // short period can hide a value read from the wrong place.
    TBitmap source(sw, sh, 24);
    const std::uint8_t* pixels = data + 6;
    const std::size_t count = size - 6;
    std::size_t at = 0;
    for (int y = 0; y < sh; ++y) {
        std::uint8_t* row = source.ScanLine(y);
        for (int x = 0; x < 3 * sw; ++x, ++at)
            row[x] = static_cast<std::uint8_t>(
                (count ? pixels[at % count] : 0) + ((at * 2654435761U) >> 24));
    }

    const TSimdLevel supported = SupportedSimdLevel();
    SetSimdLevel(TSimdLevel::Scalar);
    TBitmap copy = source;
    TBitmap plain(dw, dh, 24);
    Resample(copy, plain, kernel.filter, kernel.support);
    const std::vector<std::uint8_t> reference = Bytes(plain);
    for (int level = 1; level <= static_cast<int>(supported); ++level) {
        SetSimdLevel(static_cast<TSimdLevel>(level));
        TBitmap whole = source;
        TBitmap dest(dw, dh, 24);
        Resample(whole, dest, kernel.filter, kernel.support);
        TRows rows(source);
        TBitmap streamed(dw, dh, 24);
        ResampleRows(rows, streamed, kernel.filter, kernel.support);
        if (Bytes(dest) != reference || Bytes(streamed) != reference)
            std::abort();
    }

    // The destination size belongs to the upright picture.
    SetSimdLevel(TSimdLevel::Scalar);
    TBitmap upright = Upright(source, orientation);
    TBitmap turnedFirst(dw, dh, 24);
    Resample(upright, turnedFirst, kernel.filter, kernel.support);
    const std::vector<std::uint8_t> turnedReference = Bytes(turnedFirst);
    for (int level = 0; level <= static_cast<int>(supported); ++level) {
        SetSimdLevel(static_cast<TSimdLevel>(level));
        TRows rows(source);
        TBitmap streamed(dw, dh, 24);
        ResampleRows(rows, streamed, kernel.filter, kernel.support, orientation);
        if (Bytes(streamed) != turnedReference)
            std::abort();
    }
    return 0;
}
