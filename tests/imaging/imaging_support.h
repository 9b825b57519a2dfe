// Shared helpers of the imaging tests: temporary folders, file bytes, PNG chunks, inflate.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/picture_save.h"
#include "imaging/imagefiles.h"
#include "imaging/picstretch1.h"

namespace parvula::imaging::test {

// The writers publish through the platform; the imaging tests check their bytes.
using app::SaveAsBmp;
using app::SaveAsGif;
using app::SaveAsJpeg;
using app::SaveAsPng;
using app::SaveByExtension;

using TBytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }
    // The names in the folder, sorted.
    std::vector<std::string> Names() const { return Names(m_path); }
    static std::vector<std::string> Names(const std::filesystem::path& folder);

private:
    std::filesystem::path m_path;
};

TBytes ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const TBytes& bytes);

std::filesystem::path TestDataDir();
// The shared corpus, or an empty path when it is absent.
std::filesystem::path CorporaDir();

struct TPngChunk {
    std::string type;
    TBytes data;
};
// The chunks of a PNG file in order; fails the test on a bad signature or CRC.
std::vector<TPngChunk> PngChunks(const TBytes& file);
// A PNG file from unfiltered rows (filter byte 0 is added to each), with extra chunks placed
// before and after the image data.
TBytes MakePng(int width, int height, int bitDepth, int colorType, const TBytes& rows,
    const std::vector<TPngChunk>& before = {}, const std::vector<TPngChunk>& after = {});

// zlib inflate of a whole stream.
TBytes Inflate(const TBytes& compressed);

// A 24-bit bitmap with a deterministic pattern of many colours (seeded noise).
TBitmap NoiseBitmap(int width, int height, unsigned seed);
// A 24-bit bitmap of one colour.
// Noise with hard black and white runs, so the wide kernels overshoot and get clamped.
TBitmap RoughBitmap(int width, int height, unsigned seed);
TBitmap SolidBitmap(int width, int height, TRgb colour);
// The pixel bytes of a 24-bit bitmap, row after row without padding.
TBytes PixelBytes(const TBitmap& bitmap);

// Loads a file into a new picture.
TPicture Load(const std::filesystem::path& path);
// Saves bytes under a name in the folder and loads them.
TPicture LoadBytes(const TTempDir& dir, const std::string& name, const TBytes& bytes);
// The picture converted to a bitmap (the picture itself is left as it is).
TBitmap ToBitmap(TPicture& picture);

std::uint32_t BigEndian32(const TBytes& bytes, std::size_t at);
std::uint32_t LittleEndian32(const TBytes& bytes, std::size_t at);
std::uint16_t LittleEndian16(const TBytes& bytes, std::size_t at);
// Appends little-endian numbers, as BMP and ICO headers hold them.
void Put16(TBytes& out, std::uint32_t v);
void Put32(TBytes& out, std::uint32_t v);

// Restores the resampler's instruction-set level in use when a test ends.
class TLevelGuard {
public:
    TLevelGuard()
        : m_saved(ActiveSimdLevel())
    {
    }
    ~TLevelGuard() { SetSimdLevel(m_saved); }
    TLevelGuard(const TLevelGuard&) = delete;
    TLevelGuard& operator=(const TLevelGuard&) = delete;

private:
    TSimdLevel m_saved;
};

} // namespace parvula::imaging::test
