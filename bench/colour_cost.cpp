// The cost of the sRGB conversion in the thumbnail job, and how far converting the thumbnail
// lies from converting every decoded pixel first. Each photo is tagged in memory with the given
// ICC profile (one APP2 segment after SOI), then made into a 200 x 200 Lanczos3 thumbnail.
// Prints one line per file: job seconds, conversion seconds (reading the profile, the sRGB test,
// converting the thumbnail), seconds to convert the whole decoded picture instead, the mean and
// largest difference between the two orders in levels, the percentage of samples that differ
// by more than 10 levels, path.
// Usage: [PARVULA_FILTER=INDEX] parvula-bench-colour PROFILE.icc FILE...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "imaging/colourprofile.h"
#include "imaging/imagefiles.h"
#include "imaging/picstretch1.h"

namespace {

using namespace parvula::imaging;
using TClock = std::chrono::steady_clock;

std::vector<std::uint8_t> ReadFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

std::vector<std::uint8_t> Tagged(
    const std::vector<std::uint8_t>& jpeg, const std::vector<std::uint8_t>& icc)
{
    const std::size_t length = 2 + 14 + icc.size();
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), { 0xFF, 0xE2, std::uint8_t(length >> 8), std::uint8_t(length) });
    const char* signature = "ICC_PROFILE";
    out.insert(out.end(), signature, signature + 12);
    out.insert(out.end(), { 1, 1 });
    out.insert(out.end(), icc.begin(), icc.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

double Since(TClock::time_point start)
{
    return std::chrono::duration<double>(TClock::now() - start).count();
}

TPicture FromBytes(const std::vector<std::uint8_t>& bytes)
{
    auto owned = std::make_shared<const std::vector<std::uint8_t>>(bytes);
    TPicture picture;
    LoadFromBytes(picture, "photo.jpg", owned, *owned);
    return picture;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PROFILE.icc FILE...\n", argv[0]);
        return 2;
    }
    const std::vector<std::uint8_t> icc = ReadFile(argv[1]);
    if (icc.empty() || icc.size() > 65519) {
        std::fprintf(stderr, "%s: no profile that fits one segment\n", argv[1]);
        return 2;
    }
    // PARVULA_FILTER picks another filter by its list index (Lanczos3 is 6).
    const char* filterIndex = std::getenv("PARVULA_FILTER");
    const TFitOptions fit { 200, 200, true, TFitDirection::BothWays,
        filterIndex ? FilterOfListIndex(std::atoi(filterIndex)) : TFilter::Lanczos3 };
    try {
        for (int i = 2; i < argc; ++i) {
            const std::vector<std::uint8_t> bytes = Tagged(ReadFile(argv[i]), icc);

            // The job as the batch runs it: the profile read before fitting, the thumbnail
            // converted after it.
            TPicture picture = FromBytes(bytes);
            const TClock::time_point start = TClock::now();
            TClock::time_point mark = TClock::now();
            const TColourDescription colours = PictureColours(picture);
            const bool convert = !IsSrgb(colours);
            double conversion = Since(mark);
            FitToBox(picture, fit);
            mark = TClock::now();
            if (convert)
                ConvertToSrgb(*picture.Bitmap(), colours);
            conversion += Since(mark);
            const auto encoded = EncodeJpeg(picture, "thumbnail.jpg", 90);
            const double job = Since(start);

            // The other order: every decoded pixel converted, then fitted.
            TPicture whole = FromBytes(bytes);
            ConvertPictureToBitmap(whole);
            mark = TClock::now();
            ConvertToSrgb(*whole.Bitmap(), colours);
            const double wholeConversion = Since(mark);
            FitToBox(whole, fit);

            const TBitmap& a = *picture.Bitmap();
            const TBitmap& b = *whole.Bitmap();
            double sum = 0;
            int most = 0;
            long beyondTen = 0;
            for (int y = 0; y < a.Height(); ++y)
                for (int x = 0; x < a.Width() * 3; ++x) {
                    const int d = std::abs(int(a.ScanLine(y)[x]) - int(b.ScanLine(y)[x]));
                    sum += d;
                    most = std::max(most, d);
                    beyondTen += d > 10;
                }
            const double samples = 3.0 * a.Width() * a.Height();
            std::printf("%.6f %.6f %.6f %.3f %d %.4f %s\n", job, conversion, wholeConversion,
                sum / samples, most, 100.0 * beyondTen / samples, argv[i]);
            std::fflush(stdout);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
