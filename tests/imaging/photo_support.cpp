// The photo tests' helpers.
#include "photo_support.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <lcms2.h>

#include "imaging/imagefiles_internal.h"

namespace parvula::imaging::test {

bool HaveTool(const std::string& name)
{
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

::testing::AssertionResult RunTool(const std::string& command)
{
    const std::filesystem::path log = std::filesystem::temp_directory_path()
        / ("parvula-tool-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-"
            + std::to_string(reinterpret_cast<std::uintptr_t>(&command)) + ".log");
    const int status = std::system((command + " >" + Quoted(log) + " 2>&1").c_str());
    const TBytes output = std::filesystem::exists(log) ? ReadBytes(log) : TBytes();
    std::filesystem::remove(log);
    if (status == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
        << command << " failed: " << std::string(output.begin(), output.end());
}

std::string Quoted(const std::filesystem::path& path)
{
    std::string quoted = "'";
    for (const char c : path.string()) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

TBytes PatternPng(int width, int height, bool alpha, unsigned seed)
{
    const int channels = alpha ? 4 : 3;
    TBytes rows(static_cast<std::size_t>(width) * height * channels);
    unsigned state = seed * 2654435761u + 1;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            const int noise = static_cast<int>((state >> 16) & 31) - 16;
            std::uint8_t* p
                = &rows[(static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x))
                    * channels];
            const bool edge = (x / 8 + y / 8) % 2 == 0 && x > width / 2;
            p[0] = static_cast<std::uint8_t>(std::clamp(x * 255 / width + noise, 0, 255));
            p[1] = static_cast<std::uint8_t>(std::clamp(y * 255 / height + noise, 0, 255));
            p[2] = static_cast<std::uint8_t>(edge ? 230 : 40);
            if (alpha)
                p[3] = static_cast<std::uint8_t>(y < height / 4 ? 0 : (y < height / 2 ? 128 : 255));
        }
    return MakePng(width, height, 8, alpha ? 6 : 2, rows);
}

TBytes SrgbProfile()
{
    cmsHPROFILE profile = cmsCreate_sRGBProfile();
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    TBytes bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
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

::testing::AssertionResult SameDrawing(const TPicture& a, const TPicture& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return ::testing::AssertionFailure() << "sizes " << a.Width() << " x " << a.Height()
                                             << " and " << b.Width() << " x " << b.Height();
    const TBitmap da = ConvertToBitmap(a);
    const TBitmap db = ConvertToBitmap(b);
    for (int y = 0; y < da.Height(); ++y)
        for (int x = 0; x < da.Width(); ++x)
            if (!(da.PixelColor(x, y) == db.PixelColor(x, y))) {
                const TRgb ca = da.PixelColor(x, y);
                const TRgb cb = db.PixelColor(x, y);
                return ::testing::AssertionFailure()
                    << "pixel " << x << "," << y << ": " << int(ca.r) << "/" << int(ca.g) << "/"
                    << int(ca.b) << " against " << int(cb.r) << "/" << int(cb.g) << "/"
                    << int(cb.b);
            }
    return ::testing::AssertionSuccess();
}

void ExpectLoadFails(const TTempDir& dir, const std::string& name, const TBytes& bytes, TCode code,
    const std::string& prefix)
{
    SCOPED_TRACE(name);
    WriteBytes(dir / name, bytes);
    TPicture picture;
    picture.Assign(SolidBitmap(3, 2, TRgb { 1, 2, 3 }));
    try {
        LoadFromFile(picture, dir / name);
        ADD_FAILURE() << "loaded";
    } catch (const EImageError& e) {
        EXPECT_EQ(e.Code(), code) << e.what();
        EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
        EXPECT_EQ(std::string(e.what()).rfind(prefix, 0), 0u) << e.what();
    }
    EXPECT_EQ(picture.Kind(), TGraphicKind::Bitmap);
}

} // namespace parvula::imaging::test
