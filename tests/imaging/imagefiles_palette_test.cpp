// A BMP whose palette is shorter than its depth allows, written as a transparent GIF: the table
// is as long as the file's palette and the transparent entry is the file's own.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "imaging/imagefiles.h"

using namespace parvula::imaging;

namespace {

void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

// 8 bits per pixel, 2 × 2, two palette entries (white, black); the bottom row is black, white.
std::vector<std::uint8_t> ShortPaletteBmp()
{
    const std::uint32_t paletteBytes = 2 * 4;
    const std::uint32_t offset = 14 + 40 + paletteBytes;
    std::vector<std::uint8_t> b(offset + 2 * 4, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, static_cast<std::uint32_t>(b.size()));
    Put32(b, 10, offset);
    Put32(b, 14, 40);
    Put32(b, 18, 2);
    Put32(b, 22, 2);
    Put16(b, 26, 1);
    Put16(b, 28, 8);
    Put32(b, 46, 2); // colours used
    const std::uint8_t palette[8] = { 255, 255, 255, 0, 0, 0, 0, 0 };
    std::memcpy(b.data() + 54, palette, sizeof palette);
    // Rows bottom up: the bottom row first.
    b[offset + 0] = 1;
    b[offset + 1] = 0;
    b[offset + 4] = 0;
    b[offset + 5] = 1;
    return b;
}

} // namespace

TEST(ShortPalette, TransparentGifUsesTheFilesOwnEntries)
{
    const auto dir = std::filesystem::temp_directory_path() / "parvula-short-palette";
    std::filesystem::create_directories(dir);
    const auto bmp = dir / "few.bmp";
    {
        const auto bytes = ShortPaletteBmp();
        std::ofstream(bmp, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    TPicture picture;
    LoadFromFile(picture, bmp);
    ASSERT_NE(picture.Bitmap(), nullptr);
    EXPECT_EQ(picture.Bitmap()->Palette().size(), 2u);
    picture.SetTransparentMark(true); // the bottom-left pixel is black, entry 1

    const auto gif = EncodeGif(picture, dir / "few.gif");
    ASSERT_TRUE(gif);
    const auto& g = gif->bytes;
    ASSERT_GT(g.size(), 30u);
    EXPECT_EQ(std::string(g.begin(), g.begin() + 6), "GIF89a");
    // Graphic control extension right after the 13-byte screen descriptor.
    ASSERT_EQ(g[13], 0x21);
    ASSERT_EQ(g[14], 0xF9);
    EXPECT_EQ(g[16] & 1, 1);
    EXPECT_EQ(g[19], 1) << "transparent index";
    // Image descriptor: a local table of 2 entries (size field 0).
    ASSERT_EQ(g[21], 0x2C);
    EXPECT_EQ(g[30] & 0x80, 0x80);
    EXPECT_EQ(g[30] & 0x07, 0);
    std::filesystem::remove_all(dir);
}
