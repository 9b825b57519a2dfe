// The vector levels of the resampler against the plain loops: identical bytes for every kernel,
// shrinking and enlarging, odd sizes and row counts that leave partial blocks.
#include "imaging/picstretch1.h"
#include "imaging/imaging_support.h"

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
    // grow, and that need the whole row.
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
