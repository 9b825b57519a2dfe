// The vector levels of the resampler against the plain loops: identical bytes for every kernel,
// shrinking and enlarging, odd sizes and row counts that leave partial blocks.
#include "imaging/picstretch1.h"
#include "imaging/imaging_support.h"
#include "imaging/picstretch1_simd.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace parvula::imaging {
namespace {

    using test::TLevelGuard;

    // Noise with hard black and white runs, so the wide kernels overshoot and get clamped.
    TBitmap RoughBitmap(int w, int h, unsigned seed)
    {
        std::mt19937 random(seed);
        TBitmap bitmap(w, h, 24);
        for (int y = 0; y < h; ++y) {
            std::uint8_t* row = bitmap.ScanLine(y);
            for (int x = 0; x < 3 * w; ++x) {
                const unsigned r = random();
                row[x] = (r & 3) == 0 ? 0 : (r & 3) == 1 ? 255 : static_cast<std::uint8_t>(r >> 8);
            }
        }
        return bitmap;
    }

    std::vector<std::uint8_t> Bytes(const TBitmap& bitmap)
    {
        std::vector<std::uint8_t> bytes;
        for (int y = 0; y < bitmap.Height(); ++y)
            bytes.insert(bytes.end(), bitmap.ScanLine(y), bitmap.ScanLine(y) + 3 * bitmap.Width());
        return bytes;
    }

    std::vector<std::uint8_t> ResampleAt(
        TSimdLevel level, const TBitmap& source, int dw, int dh, int filter)
    {
        SetSimdLevel(level);
        TBitmap copy = source;
        TBitmap dest(dw, dh, 24);
        Resample(copy, dest, KernelTable[static_cast<std::size_t>(filter)].filter,
            KernelTable[static_cast<std::size_t>(filter)].support);
        return Bytes(dest);
    }

    // Rows of a bitmap handed out one at a time, as a decoder would.
    class TBitmapRows final : public TRowReader {
    public:
        explicit TBitmapRows(const TBitmap& bitmap)
            : m_bitmap(bitmap)
        {
        }
        int Width() const override { return m_bitmap.Width(); }
        int Height() const override { return m_bitmap.Height(); }
        void ReadRow(std::uint8_t* bgr) override
        {
            ASSERT_LT(m_next, m_bitmap.Height()) << "a row was asked for twice";
            const std::uint8_t* row = m_bitmap.ScanLine(m_next++);
            std::copy(row, row + 3 * m_bitmap.Width(), bgr);
        }
        int RowsRead() const { return m_next; }

    private:
        const TBitmap& m_bitmap;
        int m_next = 0;
    };

    struct TSizeCase {
        int sw, sh, dw, dh;
    };

    // Shrinking and enlarging, one-pixel sides, sides the kernels mirror past, heights that
    // leave partial blocks of 8 and 16 rows, widths that leave partial vector chunks; rows wider
    // than the horizontal pass's ring of turned pixels, with windows that fit it, that make it
    // grow, and that need the whole row; columns taller than the ring of work rows.
    const TSizeCase kSizes[] = {
        { 97, 61, 23, 17 },
        { 23, 17, 97, 61 },
        { 200, 133, 37, 71 },
        { 1, 1, 5, 3 },
        { 1, 29, 7, 1 },
        { 3, 2, 2, 3 },
        { 64, 33, 64, 33 },
        { 301, 7, 100, 19 },
        { 13, 250, 40, 9 },
        { 1500, 19, 37, 5 },
        { 1100, 6, 400, 3 },
        { 3001, 5, 7, 2 },
        { 9, 1200, 4, 37 },
        { 5, 2000, 3, 300 },
    };

    std::vector<TSimdLevel> VectorLevels()
    {
        std::vector<TSimdLevel> levels;
        for (TSimdLevel level : { TSimdLevel::Sse2, TSimdLevel::Avx2, TSimdLevel::Avx512 })
            if (level <= SupportedSimdLevel())
                levels.push_back(level);
        return levels;
    }

} // namespace

TEST(SimdResampleTest, EveryLevelGivesThePlainLoopsBytes)
{
    const TLevelGuard guard;
    const std::vector<TSimdLevel> levels = VectorLevels();
    if (levels.empty())
        GTEST_SKIP() << "this processor has no vector level to compare";
    unsigned seed = 1;
    for (const TSizeCase& size : kSizes) {
        const TBitmap source = RoughBitmap(size.sw, size.sh, seed++);
        for (int filter = 1; filter < KernelCount; ++filter) {
            const std::vector<std::uint8_t> reference
                = ResampleAt(TSimdLevel::Scalar, source, size.dw, size.dh, filter);
            for (TSimdLevel level : levels) {
                EXPECT_EQ(ResampleAt(level, source, size.dw, size.dh, filter), reference)
                    << "level " << static_cast<int>(level) << ", filter " << filter << ", "
                    << size.sw << "x" << size.sh << " -> " << size.dw << "x" << size.dh;
            }
        }
    }
}

TEST(SimdResampleTest, StreamedRowsGiveTheBitmapsBytesAtEveryLevel)
{
    const TLevelGuard guard;
    std::vector<TSimdLevel> levels = VectorLevels();
    levels.insert(levels.begin(), TSimdLevel::Scalar);
    unsigned seed = 100;
    for (const TSizeCase& size : kSizes) {
        const TBitmap source = RoughBitmap(size.sw, size.sh, seed++);
        for (int filter : { 1, 2, 6, 7 }) {
            const std::vector<std::uint8_t> reference
                = ResampleAt(TSimdLevel::Scalar, source, size.dw, size.dh, filter);
            for (TSimdLevel level : levels) {
                SetSimdLevel(level);
                TBitmapRows rows(source);
                TBitmap dest(size.dw, size.dh, 24);
                ResampleRows(rows, dest, KernelTable[static_cast<std::size_t>(filter)].filter,
                    KernelTable[static_cast<std::size_t>(filter)].support);
                EXPECT_EQ(rows.RowsRead(), size.sh);
                EXPECT_EQ(Bytes(dest), reference)
                    << "level " << static_cast<int>(level) << ", filter " << filter << ", "
                    << size.sw << "x" << size.sh << " -> " << size.dw << "x" << size.dh;
            }
        }
    }
}

#if PARVULA_SIMD_X86
namespace {

    // One list whose sum a float fused multiply-add rounds differently from the plain loop: after
    // 1 * -2^-52, adding 3 * 0x1.7bde14p+0 rounds once exactly but twice (through double) to the
    // neighbouring float. The last entry brings the smaller of the two sums to exactly 0.5, so
    // the byte is 0 the one way and 1 the other. Sources: the bytes 1, 3, 1.
    struct TSharpList {
        TWeightLists lists;
        float fusedSum = 0.0f; // what fused adds alone would give
    };

    TSharpList MakeSharpList()
    {
        const float tiny = -std::ldexp(1.0f, -52);
        const float big = std::ldexp(static_cast<float>(0x17bde14), -24);
        const float plain = static_cast<float>(static_cast<double>(tiny) + 3.0 * big);
        const float fused = std::fma(3.0f, big, tiny);
        const float last = 0.5f - std::min(plain, fused);
        TSharpList sharp;
        sharp.lists = { { { 0, tiny }, { 1, big }, { 2, last } } };
        sharp.fusedSum = std::fma(1.0f, last, fused);
        return sharp;
    }

} // namespace

TEST(SimdResampleTest, SumsThatFusedAddsWouldRoundOtherwiseGiveThePlainLoopsBytes)
{
    const TSharpList sharp = MakeSharpList();
    const std::uint8_t pixels[9] = { 1, 1, 1, 3, 3, 3, 1, 1, 1 };
    std::uint8_t plain[3] = {};
    ApplyWeightLists(pixels, 3, sharp.lists, plain, 3);
    // The case is sharp: fused adds alone would give another byte.
    ASSERT_NE(std::nearbyint(sharp.fusedSum), plain[0]);

    TFlatWeights flat(sharp.lists);
    if (SupportedSimdLevel() >= TSimdLevel::Avx2) {
        // Vertical pass: 64 bytes of each of three work rows, so the widest loop runs.
        std::vector<std::uint8_t> work(3 * 64);
        for (int row = 0; row < 3; ++row)
            std::fill_n(work.begin() + 64 * row, 64, pixels[3 * row]);
        std::vector<std::uint8_t> out(64, 0xAA);
        VerticalRowAvx2(work.data(), 64, flat, 0, out.data(), 64);
        EXPECT_EQ(out, std::vector<std::uint8_t>(64, plain[0])) << "vertical pass";
    }
    // Horizontal pass: sixteen rows of the three pixels.
    std::vector<const std::uint8_t*> rows(16, pixels);
    for (TSimdLevel level : { TSimdLevel::Avx2, TSimdLevel::Avx512 }) {
        if (level > SupportedSimdLevel())
            continue;
        const int ring = RingColumns(flat, 3, 2);
        flat.PlaceInRing(ring);
        std::vector<float> scratch(static_cast<std::size_t>(ring) * 48 + 16);
        float* aligned = scratch.data();
        while (reinterpret_cast<std::uintptr_t>(aligned) % 64 != 0)
            ++aligned;
        std::vector<std::uint8_t> outRows(16 * 3, 0xAA);
        std::vector<std::uint8_t*> outs;
        for (int r = 0; r < 16; ++r)
            outs.push_back(outRows.data() + 3 * r);
        if (level == TSimdLevel::Avx2)
            HorizontalBlockAvx2(rows.data(), 16, 3, flat, ring, outs.data(), aligned);
        else
            HorizontalBlockAvx512(rows.data(), 16, 3, flat, ring, outs.data(), aligned);
        EXPECT_EQ(outRows, std::vector<std::uint8_t>(16 * 3, plain[0]))
            << "horizontal pass, level " << static_cast<int>(level);
    }
}
#endif

TEST(SimdResampleTest, StreamedRowsOfNoPicture)
{
    const TBitmap empty;
    TBitmapRows rows(empty);
    TBitmap dest(4, 4, 24);
    EXPECT_THROW(
        ResampleRows(rows, dest, KernelTable[2].filter, KernelTable[2].support), EImageError);
}

TEST(SimdResampleTest, LevelSelectionNeverExceedsTheProcessor)
{
    const TLevelGuard guard;
    EXPECT_EQ(SetSimdLevel(TSimdLevel::Scalar), TSimdLevel::Scalar);
    EXPECT_EQ(ActiveSimdLevel(), TSimdLevel::Scalar);
    EXPECT_EQ(SetSimdLevel(TSimdLevel::Avx512), SupportedSimdLevel());
    EXPECT_EQ(ActiveSimdLevel(), SupportedSimdLevel());
}

} // namespace parvula::imaging
