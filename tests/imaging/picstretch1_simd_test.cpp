// The vector levels of the resampler against the plain loops: identical bytes for every kernel,
// shrinking and enlarging, odd sizes and row counts that leave partial blocks.
#include "imaging/picstretch1.h"
#include "imaging/imaging_support.h"
#include "imaging/picstretch1_simd.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace parvula::imaging {
namespace {

    using test::PixelBytes;
    using test::RoughBitmap;
    using test::TLevelGuard;

    std::vector<std::uint8_t> ResampleAt(
        TSimdLevel level, const TBitmap& source, int dw, int dh, int filter)
    {
        SetSimdLevel(level);
        TBitmap copy = source;
        TBitmap dest(dw, dh, 24);
        Resample(copy, dest, KernelTable[static_cast<std::size_t>(filter)].filter,
            KernelTable[static_cast<std::size_t>(filter)].support);
        return PixelBytes(dest);
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

    // Rows of a given size that fail at row failAt (a decoder meeting a damaged file part way).
    class TFailingRows final : public TRowReader {
    public:
        TFailingRows(const TBitmap& bitmap, int failAt)
            : m_rows(bitmap)
            , m_failAt(failAt)
        {
        }
        int Width() const override { return m_rows.Width(); }
        int Height() const override { return m_rows.Height(); }
        void ReadRow(std::uint8_t* bgr) override
        {
            if (m_rows.RowsRead() == m_failAt)
                throw EError(TCode::JpegLibrary, {}, { "99" }); // as a damaged photo would
            m_rows.ReadRow(bgr);
        }
        int RowsRead() const { return m_rows.RowsRead(); }

    private:
        TBitmapRows m_rows;
        int m_failAt;
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
        { 300, 7, 701, 5 },
        { 7, 150, 5, 391 },
    };

    // The vector levels this processor runs; the others are named in the test output, so a run
    // on an older processor does not pass for one that compared them all.
    std::vector<TSimdLevel> VectorLevels()
    {
        std::vector<TSimdLevel> levels;
        for (TSimdLevel level : { TSimdLevel::Sse2, TSimdLevel::Avx2, TSimdLevel::Avx512 }) {
            if (level <= SupportedSimdLevel())
                levels.push_back(level);
            else
                std::printf("[   NOTE   ] level %d is not on this processor: not compared\n",
                    static_cast<int>(level));
        }
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

namespace {

    // The two passes made from weight lists built afresh.
    std::vector<std::uint8_t> FreshTwoPasses(const TBitmap& source, int dw, int dh, int filter)
    {
        const TKernelEntry& kernel = KernelTable[static_cast<std::size_t>(filter)];
        const int sw = source.Width();
        const int sh = source.Height();
        const TWeightLists columns
            = BuildWeightLists(dw, sw, ResampleScale(dw, sw), kernel.filter, kernel.support);
        const TWeightLists rows
            = BuildWeightLists(dh, sh, ResampleScale(dh, sh), kernel.filter, kernel.support);
        TBitmap work(dw, sh, 24);
        for (int y = 0; y < sh; ++y)
            ApplyWeightLists(source.ScanLine(y), 3, columns, work.ScanLine(y), 3);
        TBitmap dest(dw, dh, 24);
        for (int x = 0; x < dw; ++x)
            ApplyWeightLists(work.ScanLine(0) + 3 * x, work.Stride(), rows,
                dest.ScanLine(0) + 3 * x, dest.Stride());
        return PixelBytes(dest);
    }

} // namespace

// The tables of a size are kept for the next picture of that size. Runs one after another that
// differ in one thing only (a side of either picture, the kernel, the level), and runs served
// the tables kept, each give the two passes made from weight lists built afresh.
TEST(SimdResampleTest, KeptTablesServeOnlyTheirOwnSizesKernelAndLevel)
{
    const TLevelGuard guard;
    std::vector<TSimdLevel> levels = VectorLevels();
    levels.insert(levels.begin(), TSimdLevel::Scalar);
    // Each size differs from the one before in one side.
    const TSizeCase sizes[] = { { 301, 77, 40, 23 }, { 301, 77, 40, 31 }, { 301, 91, 40, 31 },
        { 301, 91, 37, 31 }, { 300, 91, 37, 31 } };
    std::vector<TBitmap> sources;
    std::vector<std::vector<std::vector<std::uint8_t>>> fresh;
    for (const TSizeCase& size : sizes) {
        sources.push_back(RoughBitmap(size.sw, size.sh, 60 + static_cast<unsigned>(fresh.size())));
        fresh.emplace_back(KernelCount);
        for (int filter = 1; filter < KernelCount; ++filter)
            fresh.back()[static_cast<std::size_t>(filter)]
                = FreshTwoPasses(sources.back(), size.dw, size.dh, filter);
    }
    // Twice in a row: the second run is served the tables the first one kept.
    const auto check = [&](std::size_t s, int filter, TSimdLevel level) {
        const TSizeCase& size = sizes[s];
        for (int run = 0; run < 2; ++run)
            EXPECT_EQ(ResampleAt(level, sources[s], size.dw, size.dh, filter),
                fresh[s][static_cast<std::size_t>(filter)])
                << "run " << run << ", level " << static_cast<int>(level) << ", filter " << filter
                << ", " << size.sw << "x" << size.sh << " -> " << size.dw << "x" << size.dh;
    };
    for (std::size_t s = 0; s < std::size(sizes); ++s)
        for (int filter = 1; filter < KernelCount; ++filter)
            for (TSimdLevel level : levels)
                check(s, filter, level);
    for (std::size_t s = 0; s < std::size(sizes); ++s)
        for (TSimdLevel level : levels)
            for (int filter = 1; filter < KernelCount; ++filter)
                check(s, filter, level);
    for (int filter = 1; filter < KernelCount; ++filter)
        for (TSimdLevel level : levels)
            for (std::size_t s = 0; s < std::size(sizes); ++s)
                check(s, filter, level);
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
                EXPECT_EQ(PixelBytes(dest), reference)
                    << "level " << static_cast<int>(level) << ", filter " << filter << ", "
                    << size.sw << "x" << size.sh << " -> " << size.dw << "x" << size.dh;
            }
        }
    }
}

#if PARVULA_SIMD_X86
namespace {

    // A list whose sum a float fused multiply-add rounds differently from the plain loop in one
    // lane among ordinary ones. Sources: pixel 0 is 100 (0 in the sharp lane), pixels 1, 2, 3 are
    // 1, 3, 1. In the sharp lane the sum is 0 after the first entry; adding 1 * -2^-52 and then
    // 3 * 0x1.7bde14p+0 rounds once exactly but twice (through double) to the neighbouring float,
    // and the last entry brings the smaller of the two to exactly 0.5: byte 0 the one way, 1 the
    // other. The ordinary lanes' sums are large enough to be fused at every entry, so a check
    // that overlooks a lane lets the sharp one be fused too.
    struct TSharpList {
        TWeightList list;
        float fusedSum = 0.0f; // the sharp lane's sum with fused adds alone
    };

    TSharpList MakeSharpList()
    {
        const float tiny = -std::ldexp(1.0f, -52);
        const float big = std::ldexp(static_cast<float>(0x17bde14), -24);
        const float plain = static_cast<float>(static_cast<double>(tiny) + 3.0 * big);
        const float fused = std::fma(3.0f, big, tiny);
        const float last = 0.5f - std::min(plain, fused);
        return TSharpList { { { 0, 1.0f }, { 1, tiny }, { 2, big }, { 3, last } },
            std::fma(1.0f, last, fused) };
    }

    constexpr std::uint8_t kSources[4] = { 100, 1, 3, 1 };

    struct TAligned {
        std::vector<float> store;
        float* data;
        explicit TAligned(std::size_t count)
            : store(count + 16)
            , data(store.data())
        {
            while (reinterpret_cast<std::uintptr_t>(data) % 64 != 0)
                ++data;
        }
    };

} // namespace

TEST(SimdResampleTest, ASumThatFusedAddsWouldRoundOtherwiseIsFoundInEveryLane)
{
    const TSharpList sharp = MakeSharpList();
    {
        const TWeightLists one = { sharp.list };
        const std::uint8_t pixels[12] = { 0, 0, 0, 1, 1, 1, 3, 3, 3, 1, 1, 1 };
        std::uint8_t plain[3] = {};
        ApplyWeightLists(pixels, 3, one, plain, 3);
        // The case is sharp: fused adds alone would give another byte.
        ASSERT_NE(std::nearbyint(sharp.fusedSum), plain[0]);
    }
    const bool avx2 = SupportedSimdLevel() >= TSimdLevel::Avx2;
    const bool avx512 = SupportedSimdLevel() >= TSimdLevel::Avx512;
    if (!avx2)
        GTEST_SKIP() << "no AVX2 on this processor: its loops are not compared here";

    // Horizontal pass: the sharp list alone, or either pixel of a pair whose other list is
    // shorter or longer; the sharp lane in rows 0, 7, 8, 15 and in each channel.
    const TWeightList shorter = { { 0, 0.25f }, { 1, 0.5f }, { 2, 0.25f } };
    const TWeightList longer = { { 0, 0.2f }, { 1, 0.2f }, { 2, 0.2f }, { 3, 0.2f }, { 3, 0.2f } };
    const std::vector<TWeightLists> arrangements = { { sharp.list }, { sharp.list, shorter },
        { longer, sharp.list }, { shorter, sharp.list }, { sharp.list, longer } };
    for (const TWeightLists& lists : arrangements)
        for (int sharpRow : { 0, 7, 8, 15 })
            for (int channel = 0; channel < 3; ++channel) {
                std::vector<std::uint8_t> source(16 * 12);
                for (int r = 0; r < 16; ++r)
                    for (int x = 0; x < 12; ++x)
                        source[static_cast<std::size_t>(12 * r + x)] = kSources[x / 3];
                source[static_cast<std::size_t>(12 * sharpRow + channel)] = 0;
                const int dw = static_cast<int>(lists.size());
                std::vector<std::uint8_t> plain(static_cast<std::size_t>(16 * 3 * dw));
                std::vector<const std::uint8_t*> rows;
                std::vector<std::uint8_t*> outs;
                for (int r = 0; r < 16; ++r) {
                    rows.push_back(source.data() + 12 * r);
                    ApplyWeightLists(rows.back(), 3, lists, plain.data() + 3 * dw * r, 3);
                }
                for (TSimdLevel level : { TSimdLevel::Avx2, TSimdLevel::Avx512 }) {
                    if (level == TSimdLevel::Avx512 && !avx512)
                        continue;
                    TFlatWeights flat(lists);
                    const int ring = RingColumns(flat, 4, level == TSimdLevel::Avx512 ? 2 : 1);
                    flat.PlaceInRing(ring);
                    TAligned scratch(static_cast<std::size_t>(ring) * 48);
                    std::vector<std::uint8_t> out(plain.size(), 0xAA);
                    outs.clear();
                    for (int r = 0; r < 16; ++r)
                        outs.push_back(out.data() + 3 * dw * r);
                    if (level == TSimdLevel::Avx2)
                        HorizontalBlockAvx2(
                            rows.data(), 16, 4, flat, ring, outs.data(), scratch.data);
                    else
                        HorizontalBlockAvx512(
                            rows.data(), 16, 4, flat, ring, outs.data(), scratch.data);
                    EXPECT_EQ(out, plain)
                        << "horizontal pass, level " << static_cast<int>(level) << ", " << dw
                        << " pixels, sharp row " << sharpRow << ", channel " << channel;
                }
            }

    // Vertical pass: 75 bytes a row, so the 64-byte loop, the 8-byte loop and the plain tail all
    // run; the sharp lane in each of them.
    const TWeightLists one = { sharp.list };
    const TFlatWeights flat(one);
    for (int sharpByte : { 0, 63, 64, 71, 72, 74 }) {
        std::vector<std::uint8_t> work(4 * 75);
        for (int row = 0; row < 4; ++row)
            std::fill_n(work.begin() + 75 * row, 75, kSources[row]);
        work[static_cast<std::size_t>(sharpByte)] = 0;
        std::vector<std::uint8_t> plain(75);
        for (int x = 0; x < 25; ++x)
            ApplyWeightLists(work.data() + 3 * x, 75, one, plain.data() + 3 * x, 3);
        std::vector<std::uint8_t> out(75, 0xAA);
        VerticalRowAvx2(work.data(), 75, flat, 0, out.data(), 75);
        EXPECT_EQ(out, plain) << "vertical pass, sharp byte " << sharpByte;
    }

    // A turned picture's lines made several at once: the sharp list as each line of a group
    // of two to as many as the level makes, the others ordinary runs; the runs upwards as well (the
    // sharp list and its rows reversed), and the window starting part-way through a ring of six
    // rows so that it wraps. 93 bytes a line: every loop of both levels and the plain tail.
    constexpr int kBytes = 93;
    constexpr int kRingRows = 6;
    for (const int step : { 1, -1 })
        for (const int ringStart : { 0, 4 })
            for (int count = 2; count <= kLinesAtOnce; ++count)
                for (int sharpLine = 0; sharpLine < count; ++sharpLine)
                    for (int sharpByte : { 0, 63, 64, 79, 80, 87, 88, 92 }) {
                        // Window row i is real row ringStart + i (upwards: + 5 - i).
                        const auto real = [&](int i) { return ringStart + (step > 0 ? i : 5 - i); };
                        std::vector<std::uint8_t> work(kRingRows * kBytes);
                        const std::uint8_t values[kRingRows] = { 100, 1, 3, 1, 7, 9 };
                        for (int i = 0; i < kRingRows; ++i)
                            std::fill_n(
                                work.begin() + kBytes * (real(i) % kRingRows), kBytes, values[i]);
                        work[static_cast<std::size_t>(kBytes * (real(0) % kRingRows) + sharpByte)]
                            = 0;
                        TWeightLists lists;
                        std::vector<int> from;
                        for (int l = 0; l < count; ++l) {
                            TWeightList list;
                            const int start = l == sharpLine ? 0 : 1 + l % 2;
                            if (l == sharpLine)
                                list = sharp.list;
                            else
                                for (float w : { 0.25f, 0.5f, 0.25f })
                                    list.push_back({ static_cast<int>(list.size()), w });
                            for (TWeight& entry : list)
                                entry.index = real(entry.index + start) % kRingRows;
                            lists.push_back(list);
                            from.push_back(start);
                        }
                        TFlatWeights flat(lists);
                        std::vector<std::uint8_t> plain(static_cast<std::size_t>(count * kBytes));
                        std::vector<std::uint8_t> out(plain.size(), 0xAA);
                        TLineGroup group;
                        group.count = count;
                        group.firstRow = real(0);
                        group.step = step;
                        for (int l = 0; l < count; ++l) {
                            const TWeightLists one = { lists[static_cast<std::size_t>(l)] };
                            for (int x = 0; x < kBytes / 3; ++x)
                                ApplyWeightLists(work.data() + 3 * x, kBytes, one,
                                    plain.data() + kBytes * l + 3 * x, 3);

                            group.line[l] = l;
                            group.from[l] = from[static_cast<std::size_t>(l)];
                            group.span = std::max(group.span,
                                group.from[l]
                                    + static_cast<int>(lists[static_cast<std::size_t>(l)].size()));
                            group.out[l] = out.data() + kBytes * l;
                        }
                        for (TSimdLevel level : { TSimdLevel::Avx2, TSimdLevel::Avx512 }) {
                            if ((level == TSimdLevel::Avx512 && !avx512)
                                || count > TurnedLinesAtOnce(level))
                                continue;
                            std::fill(out.begin(), out.end(), 0xAA);
                            if (level == TSimdLevel::Avx2)
                                VerticalLinesAvx2(
                                    work.data(), kBytes, kRingRows, flat, group, 0, kBytes);
                            else
                                VerticalLinesAvx512(
                                    work.data(), kBytes, kRingRows, flat, group, 0, kBytes);
                            EXPECT_EQ(out, plain)
                                << "lines at once, level " << static_cast<int>(level) << ", step "
                                << step << ", ring from " << ringStart << ", " << count
                                << " lines, sharp line " << sharpLine << ", sharp byte "
                                << sharpByte;
                        }
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

TEST(SimdResampleTest, AReaderFailingPartWayEndsTheRunAtEveryLevel)
{
    const TLevelGuard guard;
    std::vector<TSimdLevel> levels = VectorLevels();
    levels.insert(levels.begin(), TSimdLevel::Scalar);
    const TBitmap source = RoughBitmap(37, 130, 7);
    for (int failAt : { 0, 63, 64, 100 })
        for (TSimdLevel level : levels) {
            SetSimdLevel(level);
            TFailingRows rows(source, failAt);
            TBitmap dest(11, 9, 24);
            EXPECT_THROW(ResampleRows(rows, dest, KernelTable[6].filter, KernelTable[6].support),
                EImageError)
                << "level " << static_cast<int>(level) << ", failing at row " << failAt;
            EXPECT_EQ(rows.RowsRead(), failAt);
        }
}

TEST(SimdResampleTest, EveryLevelRefusesWorkBeyondTheLimitsBeforeReadingARow)
{
    // 65535 destination columns for 4096 source rows: more than the plain loops can hold, though
    // the vector loops would keep only a ring of those rows (64 destination rows keep the
    // windows short).
    const TLevelGuard guard;
    std::vector<TSimdLevel> levels = VectorLevels();
    levels.insert(levels.begin(), TSimdLevel::Scalar);
    const TBitmap source(2, 4096, 24);
    for (TSimdLevel level : levels) {
        SetSimdLevel(level);
        TBitmapRows rows(source);
        TBitmap dest(65535, 64, 32);
        EXPECT_THROW(
            ResampleRows(rows, dest, KernelTable[1].filter, KernelTable[1].support), EImageError)
            << "level " << static_cast<int>(level);
        EXPECT_EQ(rows.RowsRead(), 0);
        EXPECT_EQ(dest.BitsPerPixel(), 32) << "the destination was touched";
    }
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
