// The thumbnail job inside one process, without start-up and file reading: FitToBox into
// 200 x 200 and JPEG quality 90 on a picture already loaded (a JPEG or PNG is decoded only by the
// fit), turned upright by its orientation as parvula-cli does.
// Prints one line per file: seconds, path. Usage: parvula-bench-fit FILTER-INDEX FILE...
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "imaging/imagefiles.h"
#include "imaging/orientation.h"
#include "imaging/picstretch1.h"

int main(int argc, char** argv)
{
    using namespace parvula::imaging;
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FILTER-INDEX FILE...\n", argv[0]);
        return 2;
    }
    const int filter = std::atoi(argv[1]);
    try {
        for (int i = 2; i < argc; ++i) {
            TPicture picture;
            LoadFromFile(picture, argv[i]);
            const auto start = std::chrono::steady_clock::now();
            // Upright, as parvula-cli fits by default.
            TFitOptions options { 200, 200, true, TFitDirection::BothWays,
                FilterOfListIndex(filter) };
            options.orientation = PictureOrientation(picture);
            FitToBox(picture, options);
            const auto encoded = EncodeJpeg(picture, "thumbnail.jpg", 90);
            const double seconds
                = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::printf("%.6f %zu %s\n", seconds, encoded ? encoded->bytes.size() : 0, argv[i]);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
