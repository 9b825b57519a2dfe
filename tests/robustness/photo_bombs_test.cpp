// Hostile HEIF, AVIF, WebP and TIFF files: small files declaring huge pictures, and headers within
// the limits over far too little data. Each is loaded in a child process and must be refused with
// a message naming the file and the cause before the memory its header asks for is taken, which
// the child's peak resident memory shows.
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <gtest/gtest.h>

#include "imaging/imagefiles.h"
#include "robustness/robustness_support.h"

using namespace parvula::imaging;
using namespace parvula::robustness;

namespace {

bool HaveTool(const char* name)
{
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

bool Make(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

void Put16(TBytes& b, std::uint32_t v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(TBytes& b, std::uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// A grey TIFF of one uncompressed strip declaring width x height over the bytes given.
TBytes TiffBomb(std::uint32_t width, std::uint32_t height, std::size_t bytesPresent)
{
    TBytes b = { 'I', 'I', 42, 0, 8, 0, 0, 0 };
    Put16(b, 9);
    const std::uint32_t dataAt = 8 + 2 + 9 * 12 + 4;
    const auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
        Put16(b, tag);
        Put16(b, type);
        Put32(b, 1);
        Put32(b, value);
    };
    entry(256, 4, width);
    entry(257, 4, height);
    entry(258, 3, 8);
    entry(259, 3, 1);
    entry(262, 3, 1);
    entry(273, 4, dataAt);
    entry(277, 3, 1);
    entry(278, 4, height);
    entry(279, 4, width * height);
    Put32(b, 0);
    b.resize(b.size() + bytesPresent, 0x80);
    return b;
}

// A lossy WebP of a key frame header declaring width x height (each at most 16383), cut
// after its first bytes of data.
TBytes WebpBomb(std::uint32_t width, std::uint32_t height)
{
    // A key frame, shown, whose first partition of 10 bytes lies within the data.
    TBytes frame = { 0x50, 0x01, 0x00, 0x9D, 0x01, 0x2A };
    Put16(frame, width);
    Put16(frame, height);
    frame.resize(frame.size() + 64, 0x11);
    TBytes b = { 'R', 'I', 'F', 'F' };
    Put32(b, static_cast<std::uint32_t>(4 + 8 + frame.size()));
    b.insert(b.end(), { 'W', 'E', 'B', 'P', 'V', 'P', '8', ' ' });
    Put32(b, static_cast<std::uint32_t>(frame.size()));
    b.insert(b.end(), frame.begin(), frame.end());
    return b;
}

// A VP8X header declaring a canvas of 16384 x 16384, the format's most.
TBytes WebpCanvasBomb()
{
    return { 'R', 'I', 'F', 'F', 22, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'X', 10, 0, 0, 0,
        0, 0, 0, 0, 0xFF, 0x3F, 0, 0xFF, 0x3F, 0 };
}

TBytes WithSpatialExtents(TBytes bytes, std::uint32_t width, std::uint32_t height)
{
    for (std::size_t at = 0; at + 16 <= bytes.size(); ++at)
        if (std::memcmp(bytes.data() + at, "ispe", 4) == 0)
            for (int k = 0; k < 4; ++k) {
                bytes[at + 8 + k] = static_cast<std::uint8_t>(width >> (24 - 8 * k));
                bytes[at + 12 + k] = static_cast<std::uint8_t>(height >> (24 - 8 * k));
            }
    return bytes;
}

struct TBomb {
    std::string name;
    std::string file;
    TBytes bytes;
    std::string cause; // a piece of the message that names the cause
};

} // namespace

TEST(PhotoBombs, HugeDeclaredPicturesAndMissingDataAreRefusedBeforeTheirMemoryIsTaken)
{
    const std::string pixels = "128 Megapixeln";
    TTempDir dir;
    std::vector<TBomb> bombs = {
        { "tiff 60000 x 60000", "bomb.tif", TiffBomb(60000, 60000, 100), pixels },
        { "tiff 0 x 10", "zero.tif", TiffBomb(0, 10, 0), "beschädigt" },
        { "tiff 11000 x 11000, 200 bytes of data", "short.tif", TiffBomb(11000, 11000, 200),
            "beschädigt" },
        { "webp canvas 16384 x 16384", "canvas.webp", WebpCanvasBomb(), pixels },
        { "webp lossy 16383 x 16383", "vp8.webp", WebpBomb(16383, 16383), pixels },
        { "webp lossy 11000 x 11000, 64 bytes of data", "short.webp", WebpBomb(11000, 11000),
            "beschädigt" },
    };
    // An overlay whose canvas of 58032 x 57599 only its own data names, found by fuzzing.
    bombs.push_back({ "heic overlay canvas 58032 x 57599", "overlay.heic",
        ReadBytes(TestDataDir() / "overlay_canvas_58032x57599_in_692_bytes.heic"),
        "11585 Pixeln je Seite" });
    WriteImage(dir / "small.png", 64, 64);
    if (HaveTool("heif-enc")
        && Make("heif-enc -q 50 '" + (dir / "small.png").string() + "' -o '"
            + (dir / "small.heic").string() + "'")) {
        const TBytes heic = ReadBytes(dir / "small.heic");
        bombs.push_back(
            { "heic 60000 x 60000", "bomb.heic", WithSpatialExtents(heic, 60000, 60000), pixels });
        bombs.push_back({ "heic 11000 x 11000 over a 64 x 64 picture", "short.heic",
            WithSpatialExtents(heic, 11000, 11000), "HEIF: " });
    } else {
        std::cout << "[photo bomb] heif-enc missing: no HEIF cases\n";
    }
    if (HaveTool("avifenc")
        && Make("avifenc -s 10 '" + (dir / "small.png").string() + "' '"
            + (dir / "small.avif").string() + "'")) {
        const TBytes avif = ReadBytes(dir / "small.avif");
        bombs.push_back(
            { "avif 60000 x 60000", "bomb.avif", WithSpatialExtents(avif, 60000, 60000), pixels });
    } else {
        std::cout << "[photo bomb] avifenc missing: no AVIF cases\n";
    }
    for (const TBomb& bomb : bombs) {
        SCOPED_TRACE(bomb.name);
        const std::filesystem::path path = dir / bomb.file;
        WriteBytes(path, bomb.bytes);
        const TChildResult r = LoadAndDrawInChild(path, 20);
        ASSERT_TRUE(r.finished) << r.Describe();
        EXPECT_EQ(r.text.rfind("refused: ", 0), 0u) << r.text;
        EXPECT_NE(r.text.find(bomb.cause), std::string::npos) << r.text;
        EXPECT_NE(r.text.find(path.string()), std::string::npos) << r.text;
        // 121 megapixels and more asked for; a refusal made first takes a few MiB at most.
        EXPECT_LT(r.peakKiB, (UnderSanitizer() ? 256 : 32) * 1024) << r.Describe();
        std::cout << "[photo bomb] " << bomb.name << " (" << bomb.bytes.size() << " bytes): peak "
                  << r.peakKiB << " KiB; " << r.text << "\n";
    }
}
