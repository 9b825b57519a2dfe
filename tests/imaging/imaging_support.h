// Shared helpers of the imaging tests: temporary folders, file bytes, PNG chunks, inflate.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/imagefiles.h"

namespace parvula::imaging::test {

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
    std::vector<std::string> Names() const;

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
// zlib inflate of a whole stream.
TBytes Inflate(const TBytes& compressed);

// A 24-bit bitmap with a deterministic pattern of many colours (seeded noise).
TBitmap NoiseBitmap(int width, int height, unsigned seed);
// A 24-bit bitmap of one colour.
TBitmap SolidBitmap(int width, int height, TRgb colour);

std::uint32_t LittleEndian32(const TBytes& bytes, std::size_t at);
std::uint16_t LittleEndian16(const TBytes& bytes, std::size_t at);

} // namespace parvula::imaging::test
