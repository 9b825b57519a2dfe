// Shared helpers of the imaging tests.
#include "imaging/imaging_support.h"

#include <fstream>
#include <random>

#include <gtest/gtest.h>
#include <zlib.h>

namespace parvula::imaging::test {

TTempDir::TTempDir()
{
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_path = std::filesystem::temp_directory_path()
            / ("parvula-imaging-" + std::to_string(random()) + std::to_string(attempt));
        if (std::filesystem::create_directory(m_path))
            return;
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TTempDir::~TTempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::vector<std::string> TTempDir::Names(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TBytes ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return TBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::filesystem::path& path, const TBytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(
        reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::filesystem::path TestDataDir() { return PARVULA_TEST_DATA_DIR; }

std::filesystem::path CorporaDir()
{
    const std::filesystem::path dir = PARVULA_CORPORA_DIR;
    std::error_code ec;
    return std::filesystem::is_directory(dir, ec) ? dir : std::filesystem::path();
}

std::vector<TPngChunk> PngChunks(const TBytes& file)
{
    static const TBytes signature = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    std::vector<TPngChunk> chunks;
    EXPECT_GE(file.size(), 8u);
    EXPECT_TRUE(std::equal(signature.begin(), signature.end(), file.begin()));
    std::size_t pos = 8;
    while (pos + 12 <= file.size()) {
        const std::uint32_t length
            = (file[pos] << 24) | (file[pos + 1] << 16) | (file[pos + 2] << 8) | file[pos + 3];
        EXPECT_LE(pos + 12 + length, file.size());
        if (pos + 12 + length > file.size())
            break;
        TPngChunk chunk;
        chunk.type.assign(file.begin() + pos + 4, file.begin() + pos + 8);
        chunk.data.assign(file.begin() + pos + 8, file.begin() + pos + 8 + length);
        const std::uint32_t crc = (file[pos + 8 + length] << 24) | (file[pos + 9 + length] << 16)
            | (file[pos + 10 + length] << 8) | file[pos + 11 + length];
        EXPECT_EQ(crc, crc32(0, file.data() + pos + 4, length + 4)) << chunk.type;
        chunks.push_back(std::move(chunk));
        pos += 12 + length;
    }
    EXPECT_EQ(pos, file.size()) << "bytes after the last chunk";
    return chunks;
}

TBytes MakePng(int width, int height, int bitDepth, int colorType, const TBytes& rows,
    const std::vector<TPngChunk>& before, const std::vector<TPngChunk>& after)
{
    TBytes out = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    auto put32 = [](TBytes& to, std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            to.push_back(static_cast<std::uint8_t>(v >> shift));
    };
    auto chunk = [&](const std::string& type, const TBytes& data) {
        put32(out, static_cast<std::uint32_t>(data.size()));
        const std::size_t start = out.size();
        out.insert(out.end(), type.begin(), type.end());
        out.insert(out.end(), data.begin(), data.end());
        put32(out,
            static_cast<std::uint32_t>(
                crc32(0, out.data() + start, static_cast<uInt>(data.size() + 4))));
    };
    TBytes ihdr;
    put32(ihdr, static_cast<std::uint32_t>(width));
    put32(ihdr, static_cast<std::uint32_t>(height));
    ihdr.insert(ihdr.end(),
        { static_cast<std::uint8_t>(bitDepth), static_cast<std::uint8_t>(colorType), 0, 0, 0 });
    chunk("IHDR", ihdr);
    for (const TPngChunk& c : before)
        chunk(c.type, c.data);
    const std::size_t rowBytes = rows.size() / static_cast<std::size_t>(height);
    TBytes filtered;
    for (int y = 0; y < height; ++y) {
        filtered.push_back(0);
        filtered.insert(
            filtered.end(), rows.begin() + y * rowBytes, rows.begin() + (y + 1) * rowBytes);
    }
    uLongf size = compressBound(static_cast<uLong>(filtered.size()));
    TBytes compressed(size);
    compress(compressed.data(), &size, filtered.data(), static_cast<uLong>(filtered.size()));
    compressed.resize(size);
    chunk("IDAT", compressed);
    for (const TPngChunk& c : after)
        chunk(c.type, c.data);
    chunk("IEND", {});
    return out;
}

TBytes Inflate(const TBytes& compressed)
{
    z_stream z {};
    if (inflateInit(&z) != Z_OK)
        throw std::runtime_error("inflateInit");
    TBytes out;
    std::uint8_t buffer[1 << 15];
    z.next_in = const_cast<std::uint8_t*>(compressed.data());
    z.avail_in = static_cast<uInt>(compressed.size());
    int status = Z_OK;
    do {
        z.next_out = buffer;
        z.avail_out = sizeof buffer;
        status = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
    } while (status == Z_OK);
    inflateEnd(&z);
    if (status != Z_STREAM_END)
        throw std::runtime_error("inflate failed");
    return out;
}

TBitmap NoiseBitmap(int width, int height, unsigned seed)
{
    std::mt19937 random(seed);
    TBitmap bitmap(width, height, 24);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* p = bitmap.ScanLine(y);
        for (int x = 0; x < width * 3; ++x)
            p[x] = static_cast<std::uint8_t>(random());
    }
    return bitmap;
}

TBitmap RoughBitmap(int width, int height, unsigned seed)
{
    std::mt19937 random(seed);
    TBitmap bitmap(width, height, 24);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < 3 * width; ++x) {
            const unsigned r = random();
            row[x] = (r & 3) == 0 ? 0 : (r & 3) == 1 ? 255 : static_cast<std::uint8_t>(r >> 8);
        }
    }
    return bitmap;
}

TBytes PixelBytes(const TBitmap& bitmap)
{
    TBytes bytes;
    for (int y = 0; y < bitmap.Height(); ++y)
        bytes.insert(bytes.end(), bitmap.ScanLine(y), bitmap.ScanLine(y) + 3 * bitmap.Width());
    return bytes;
}

TBitmap SolidBitmap(int width, int height, TRgb colour)
{
    TBitmap bitmap(width, height, 24);
    bitmap.Fill(colour);
    return bitmap;
}

TPicture Load(const std::filesystem::path& path)
{
    TPicture picture;
    LoadFromFile(picture, path);
    return picture;
}

TPicture LoadBytes(const TTempDir& dir, const std::string& name, const TBytes& bytes)
{
    WriteBytes(dir / name, bytes);
    return Load(dir / name);
}

TBitmap ToBitmap(TPicture& picture)
{
    TBitmap bitmap(picture.Width(), picture.Height(), 24);
    bitmap.Fill(TRgb { 255, 255, 255 });
    picture.DrawOnto(bitmap);
    return bitmap;
}

std::uint32_t BigEndian32(const TBytes& bytes, std::size_t at)
{
    return (static_cast<std::uint32_t>(bytes[at]) << 24) | (bytes[at + 1] << 16)
        | (bytes[at + 2] << 8) | bytes[at + 3];
}

std::uint32_t LittleEndian32(const TBytes& bytes, std::size_t at)
{
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16)
        | (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

std::uint16_t LittleEndian16(const TBytes& bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

void Put16(TBytes& out, std::uint32_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(TBytes& out, std::uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

} // namespace parvula::imaging::test
