// The cost of copying a photo's metadata into its thumbnail, beside the thumbnail job itself:
// FitToBox into 200 x 200 and JPEG quality 90, then WithMetadata with "all" and "all but
// location" (each the median of 15 copies). Prints one line per file: the job's seconds, the two
// copies' seconds, the thumbnail's bytes without and with metadata, path.
// Usage: parvula-bench-metadata FILE...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <vector>

#include "imaging/imagefiles.h"
#include "imaging/metadata.h"
#include "imaging/picstretch1.h"

namespace {

using TClock = std::chrono::steady_clock;

double Since(TClock::time_point start)
{
    return std::chrono::duration<double>(TClock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    using namespace parvula::imaging;
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE...\n", argv[0]);
        return 2;
    }
    try {
        for (int i = 1; i < argc; ++i) {
            std::ifstream in(argv[i], std::ios::binary);
            const std::vector<std::uint8_t> source(
                (std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            TPicture picture;
            LoadFromFile(picture, argv[i]);
            const auto start = TClock::now();
            FitToBox(picture, { 200, 200, true, TFitDirection::BothWays, FilterOfListIndex(6) });
            const std::vector<std::uint8_t> thumbnail
                = EncodeJpeg(picture, "thumbnail.jpg", 90)->bytes;
            const double job = Since(start);
            double copies[2] = {};
            std::size_t withMetadata = 0;
            for (int c = 0; c < 2; ++c) {
                std::vector<double> times;
                for (int r = 0; r < 15; ++r) {
                    const auto copyStart = TClock::now();
                    const auto bytes = WithMetadata(source, thumbnail,
                        { c == 0 ? TMetadataCopy::All : TMetadataCopy::NoLocation }, argv[i]);
                    times.push_back(Since(copyStart));
                    withMetadata = c == 0 ? bytes.size() : withMetadata;
                }
                std::nth_element(times.begin(), times.begin() + 7, times.end());
                copies[c] = times[7];
            }
            std::printf("%.6f %.6f %.6f %zu %zu %s\n", job, copies[0], copies[1], thumbnail.size(),
                withMetadata, argv[i]);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
