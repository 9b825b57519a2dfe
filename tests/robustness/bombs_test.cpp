// Decompression bombs of every format, made here: tiny files declaring huge images. Each is loaded
// in a child process; it must be refused with a message naming the limit before the memory the
// header asks for is taken, which the child's peak resident memory shows.
#include <cstring>
#include <iostream>

#include <gtest/gtest.h>
#include <zlib.h>

#include "imaging/imagefiles.h"
#include "imaging/imagefiles_internal.h"
#include "imaging/limits.h"
#include "robustness/robustness_support.h"

using namespace parvula::imaging;
using namespace parvula::robustness;

namespace {

void Put16LE(TBytes& b, std::size_t at, std::uint32_t v)
{
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32LE(TBytes& b, std::size_t at, std::uint32_t v)
{
    Put16LE(b, at, v & 0xFFFF);
    Put16LE(b, at + 2, v >> 16);
}
void Put16BE(TBytes& b, std::size_t at, std::uint32_t v)
{
    b[at] = static_cast<std::uint8_t>(v >> 8);
    b[at + 1] = static_cast<std::uint8_t>(v);
}
void Put32BE(TBytes& b, std::size_t at, std::uint32_t v)
{
    Put16BE(b, at, v >> 16);
    Put16BE(b, at + 2, v & 0xFFFF);
}

TBitmap Small() { return TBitmap(8, 8, 24); }

// A BMP file header and info header declaring width x height at 24 bits, with no pixels.
TBytes BmpBomb(std::uint32_t width, std::uint32_t height)
{
    TBytes b(54, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32LE(b, 2, 54);
    Put32LE(b, 10, 54);
    Put32LE(b, 14, 40);
    Put32LE(b, 18, width);
    Put32LE(b, 22, height);
    Put16LE(b, 26, 1);
    Put16LE(b, 28, 24);
    return b;
}

// A valid 8 x 8 PNG whose header then declares width x height (CRC recomputed).
TBytes PngBomb(std::uint32_t width, std::uint32_t height)
{
    TBytes b = EncodePngBytes(Small());
    Put32BE(b, 16, width);
    Put32BE(b, 20, height);
    Put32BE(b, 29, static_cast<std::uint32_t>(crc32(0, b.data() + 12, 17)));
    return b;
}

// A valid 8 x 8 JPEG whose frame header then declares width x height.
TBytes JpegBomb(std::uint32_t width, std::uint32_t height)
{
    TBytes b = EncodeJpegBytes(Small(), 90);
    for (std::size_t i = 2; i + 9 < b.size(); ++i)
        if (b[i] == 0xFF && (b[i + 1] == 0xC0 || b[i + 1] == 0xC2)) {
            Put16BE(b, i + 5, height);
            Put16BE(b, i + 7, width);
            return b;
        }
    throw std::runtime_error("no frame header");
}

// A GIF of one frame whose screen and frame declare width x height, with a few bytes of data.
TBytes GifBomb(std::uint32_t width, std::uint32_t height)
{
    TBytes b = { 'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0x80, 0, 0, // screen, 2 colours
        0, 0, 0, 255, 255, 255, // global colour table
        0x2C, 0, 0, 0, 0, 0, 0, 0, 0, 0, // frame at 0,0
        2, 2, 0x4C, 0x01, 0, 0x3B }; // code size 2: clear, 0, end; terminator; trailer
    Put16LE(b, 6, width);
    Put16LE(b, 8, height);
    Put16LE(b, 24, width);
    Put16LE(b, 26, height);
    return b;
}

// A GIF of frames 1 x 1 each, frames times.
TBytes GifManyFrames(int frames)
{
    TBytes b = { 'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255 };
    const std::uint8_t frame[] = { 0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x4C, 0x01, 0 };
    for (int i = 0; i < frames; ++i)
        b.insert(b.end(), std::begin(frame), std::end(frame));
    b.push_back(0x3B);
    return b;
}

// An icon file of one entry holding the given image bytes.
TBytes IcoOf(const TBytes& image)
{
    TBytes b(22 + image.size(), 0);
    Put16LE(b, 2, 1);
    Put16LE(b, 4, 1);
    Put32LE(b, 6 + 8, static_cast<std::uint32_t>(image.size()));
    Put32LE(b, 6 + 12, 22);
    std::copy(image.begin(), image.end(), b.begin() + 22);
    return b;
}

// An icon's device-independent bitmap: info header only; the height counts colour and mask rows.
TBytes DibBomb(std::uint32_t width, std::uint32_t height)
{
    TBytes b = BmpBomb(width, height * 2);
    return TBytes(b.begin() + 14, b.end());
}

// An icon directory claiming entries it does not hold.
TBytes IcoManyEntries(std::uint16_t entries)
{
    TBytes b(6, 0);
    Put16LE(b, 2, 1);
    Put16LE(b, 4, entries);
    return b;
}

struct TBomb {
    const char* name;
    const char* ext;
    TBytes bytes;
    std::string limit; // a piece of the message that names the limit
};

} // namespace

TEST(Bombs, TinyFilesDeclaringHugeImagesAreRefusedBeforeTheirMemoryIsTaken)
{
    const std::string side = std::to_string(MaxImageSide) + " Pixeln je Seite";
    const std::string pixels = std::to_string(MaxImagePixels / (1024 * 1024)) + " Megapixeln";
    const std::vector<TBomb> bombs = {
        { "bmp 65535 x 65535", "bmp", BmpBomb(65535, 65535), pixels },
        { "bmp 100000 x 1", "bmp", BmpBomb(100000, 1), side },
        { "png 65535 x 65535", "png", PngBomb(65535, 65535), pixels },
        { "png 1 x 100000", "png", PngBomb(1, 100000), side },
        { "png 2^31-1 square", "png", PngBomb(0x7FFFFFFF, 0x7FFFFFFF), side },
        { "jpeg 65500 x 65500", "jpg", JpegBomb(65500, 65500), pixels },
        { "gif 65535 x 65535", "gif", GifBomb(65535, 65535), pixels },
        { "gif 10001 frames", "gif", GifManyFrames(MaxGifFrames + 1), "Grenze" },
        { "ico dib 65535 x 65535", "ico", IcoOf(DibBomb(65535, 32767)), pixels },
        { "ico png 65535 x 65535", "ico", IcoOf(PngBomb(65535, 65535)), pixels },
        { "ico 65535 entries", "ico", IcoManyEntries(65535), std::to_string(MaxIconEntries) },
    };
    TTempDir dir;
    for (const TBomb& bomb : bombs) {
        SCOPED_TRACE(bomb.name);
        const std::filesystem::path path = dir.Path() / (std::string("bomb.") + bomb.ext);
        WriteBytes(path, bomb.bytes);
        const TChildResult r = LoadAndDrawInChild(path, 10);
        ASSERT_TRUE(r.finished) << r.Describe();
        EXPECT_EQ(r.text.rfind("refused: ", 0), 0u) << r.text;
        EXPECT_NE(r.text.find(bomb.limit), std::string::npos) << r.text;
        // Most of these headers ask for gigabytes; a refusal made first takes almost
        // nothing. Under the sanitizer, its quarantine keeps every freed block: giflib grows its
        // frame array one frame at a time, so the 10,001 frames leave some hundred MiB there.
        EXPECT_LT(r.peakKiB, (UnderSanitizer() ? 640 : 24) * 1024) << r.Describe();
        std::cout << "[bomb] " << bomb.name << " (" << bomb.bytes.size() << " bytes): peak "
                  << r.peakKiB << " KiB; " << r.text << "\n";
    }
}

// Headers within the limits whose pixel data cannot be in the file: our BMP and icon readers
// never trust a header over the bytes present, PNG image data expands at most 1032 times and an
// LZW code stands for at most 4,096 pixels, so each is refused before the image's memory is
// taken (121 to 134 megapixels, that is 120 to 400 MiB).
TEST(Bombs, HeadersWithinTheLimitsOverTooFewBytesAreRefusedFirst)
{
    const std::vector<TBomb> bombs = {
        { "bmp 11000 x 11000, no pixels", "bmp", BmpBomb(11000, 11000), "unvollständig" },
        { "ico dib 11000 x 11000, no pixels", "ico", IcoOf(DibBomb(11000, 11000)),
            "unvollständig" },
        { "png 11000 x 11000, 15 bytes of image data", "png", PngBomb(11000, 11000),
            "reichen nicht" },
        { "gif 11584 x 11584, 5 bytes of image data", "gif", GifBomb(11584, 11584),
            "restlichen 5 Bytes" },
    };
    TTempDir dir;
    for (const TBomb& bomb : bombs) {
        SCOPED_TRACE(bomb.name);
        const std::filesystem::path path = dir.Path() / (std::string("bomb.") + bomb.ext);
        WriteBytes(path, bomb.bytes);
        const TChildResult r = LoadAndDrawInChild(path, 10);
        ASSERT_TRUE(r.finished) << r.Describe();
        EXPECT_NE(r.text.find(bomb.limit), std::string::npos) << r.text;
        EXPECT_LT(r.peakKiB, 24 * 1024) << r.Describe();
        std::cout << "[bomb] " << bomb.name << " (" << bomb.bytes.size() << " bytes): peak "
                  << r.peakKiB << " KiB; " << r.text << "\n";
    }
}
