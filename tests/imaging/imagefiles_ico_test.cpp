// Icons: the choice of image, drawing through the mask or alpha, PNG images inside, and
// damaged directories.
#include <gtest/gtest.h>

#include "imaging/imagefiles.h"
#include "imaging/imaging_support.h"

using namespace parvula::imaging;
using namespace parvula::imaging::test;

namespace {

// An icon image as a DIB: 24 bits of one colour, or 32 bits with alpha 128 when alpha is set;
// the AND mask marks the left half of every row transparent.
TBytes IconDib(int size, TRgb colour, bool alpha)
{
    const int bits = alpha ? 32 : 24;
    TBytes dib;
    Put32(dib, 40);
    Put32(dib, static_cast<std::uint32_t>(size));
    Put32(dib, static_cast<std::uint32_t>(size * 2));
    Put16(dib, 1);
    Put16(dib, static_cast<std::uint32_t>(bits));
    for (int i = 0; i < 6; ++i)
        Put32(dib, 0);
    const int stride = (size * bits / 8 + 3) / 4 * 4;
    for (int y = 0; y < size; ++y) {
        TBytes row(static_cast<std::size_t>(stride), 0);
        for (int x = 0; x < size; ++x) {
            std::uint8_t* p = row.data() + x * bits / 8;
            p[0] = colour.b;
            p[1] = colour.g;
            p[2] = colour.r;
            if (alpha)
                p[3] = 128;
        }
        dib.insert(dib.end(), row.begin(), row.end());
    }
    const int maskStride = (size + 31) / 32 * 4;
    for (int y = 0; y < size; ++y) {
        TBytes row(static_cast<std::size_t>(maskStride), 0);
        for (int x = 0; x < size / 2; ++x)
            row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        dib.insert(dib.end(), row.begin(), row.end());
    }
    return dib;
}

struct TIconEntry {
    int size;
    int bits;
    TBytes data;
};

TBytes MakeIco(const std::vector<TIconEntry>& entries)
{
    TBytes out;
    Put16(out, 0);
    Put16(out, 1);
    Put16(out, static_cast<std::uint32_t>(entries.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * entries.size());
    for (const TIconEntry& e : entries) {
        out.push_back(static_cast<std::uint8_t>(e.size == 256 ? 0 : e.size));
        out.push_back(static_cast<std::uint8_t>(e.size == 256 ? 0 : e.size));
        out.push_back(0);
        out.push_back(0);
        Put16(out, 1);
        Put16(out, static_cast<std::uint32_t>(e.bits));
        Put32(out, static_cast<std::uint32_t>(e.data.size()));
        Put32(out, offset);
        offset += static_cast<std::uint32_t>(e.data.size());
    }
    for (const TIconEntry& e : entries)
        out.insert(out.end(), e.data.begin(), e.data.end());
    return out;
}

const TRgb Red { 0, 0, 255 }, Green { 0, 255, 0 }, Blue { 255, 0, 0 };

} // namespace

TEST(IcoReader, ChoosesTheImageClosestTo32ThenTheDeepest)
{
    TTempDir dir;
    struct Case {
        std::vector<TIconEntry> entries;
        int size;
        TRgb colour;
    };
    const std::vector<Case> cases = {
        { { { 16, 24, IconDib(16, Red, false) }, { 32, 24, IconDib(32, Green, false) },
              { 48, 24, IconDib(48, Blue, false) } },
            32, Green },
        { { { 64, 24, IconDib(64, Blue, false) }, { 16, 24, IconDib(16, Red, false) } }, 16, Red },
        { { { 32, 24, IconDib(32, Red, false) }, { 32, 32, IconDib(32, Blue, true) } }, 32, Blue },
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        TPicture picture = LoadBytes(dir, "c.ico", MakeIco(cases[i].entries));
        EXPECT_EQ(picture.Kind(), TGraphicKind::Icon);
        EXPECT_EQ(picture.Width(), cases[i].size);
        const TBitmap drawn = ToBitmap(picture);
        const TRgb c = drawn.PixelColor(cases[i].size - 1, 0);
        if (cases[i].colour == Blue && i == 2) {
            // The 32-bit image has alpha 128: blended over white rather than masked.
            EXPECT_EQ(c, (TRgb { 255, 127, 127 }));
        } else {
            EXPECT_EQ(c, cases[i].colour);
        }
    }
}

TEST(IcoDrawing, MaskedPixelsAreNotDrawnAndAlphaIsBlended)
{
    TTempDir dir;
    TPicture masked = LoadBytes(dir, "m.ico", MakeIco({ { 8, 24, IconDib(8, Red, false) } }));
    const TBitmap a = ToBitmap(masked);
    EXPECT_EQ(a.PixelColor(0, 0), (TRgb { 255, 255, 255 }));
    EXPECT_EQ(a.PixelColor(3, 7), (TRgb { 255, 255, 255 }));
    EXPECT_EQ(a.PixelColor(4, 0), Red);
    EXPECT_EQ(a.PixelColor(7, 7), Red);

    // With alpha present, the mask is not used: every pixel is half transparent.
    TPicture blended = LoadBytes(dir, "b.ico", MakeIco({ { 8, 32, IconDib(8, Red, true) } }));
    const TBitmap b = ToBitmap(blended);
    EXPECT_EQ(b.PixelColor(0, 0), (TRgb { 127, 127, 255 }));
}

TEST(IcoReader, PngImagesInsideAreDecoded)
{
    TTempDir dir;
    const TBytes png = MakePng(2, 1, 8, 6, { 0, 0, 255, 255, 0, 0, 0, 0 });
    TPicture picture = LoadBytes(dir, "p.ico", MakeIco({ { 2, 32, png } }));
    EXPECT_EQ(picture.Width(), 2);
    const TBitmap drawn = ToBitmap(picture);
    EXPECT_EQ(drawn.PixelColor(0, 0), Blue);
    EXPECT_EQ(drawn.PixelColor(1, 0), (TRgb { 255, 255, 255 }));
}

TEST(IcoReader, DamagedFilesFailWithAnImageError)
{
    TTempDir dir;
    const TBytes good = MakeIco({ { 8, 24, IconDib(8, Red, false) } });
    std::vector<std::pair<std::string, TBytes>> cases;
    for (const std::size_t cut : { std::size_t { 0 }, std::size_t { 5 }, std::size_t { 15 },
             std::size_t { 30 }, std::size_t { 100 } })
        cases.emplace_back(
            "cut at " + std::to_string(cut), TBytes(good.begin(), good.begin() + cut));
    TBytes none = good;
    none[4] = 0;
    cases.emplace_back("no entries", none);
    TBytes many = good;
    many[4] = 0x01;
    many[5] = 0x04; // 1025 entries
    cases.emplace_back("1025 entries", many);
    TBytes offset = good;
    offset[18 + 3] = 0x7F; // the only image lies far beyond the file
    cases.emplace_back("offset", offset);
    TBytes type = good;
    type[2] = 7;
    cases.emplace_back("type", type);
    TBytes huge = good;
    huge[6 + 16 + 4] = 0xFF; // the DIB claims an enormous width
    huge[6 + 16 + 5] = 0xFF;
    huge[6 + 16 + 6] = 0xFF;
    cases.emplace_back("huge width", huge);
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        WriteBytes(dir / "bad.ico", bytes);
        TPicture picture;
        EXPECT_THROW(LoadFromFile(picture, dir / "bad.ico"), EImageError);
    }
}
