// The floor for the photo formats: each library decoding a file from memory at its defaults into
// the 8-bit samples parvula's reader asks it for, pixels discarded. Prints one line per file:
// seconds, width, height, path. HEIC/HEIF through libheif, AVIF through libavif, WebP through
// libwebp, TIFF through libtiff's RGBA reading.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <avif/avif.h>
#include <libheif/heif.h>
#include <tiffio.h>
#include <webp/decode.h>

namespace {

std::vector<unsigned char> ReadAll(const char* path)
{
    std::vector<unsigned char> bytes;
    std::FILE* file = std::fopen(path, "rb");
    if (!file)
        return bytes;
    unsigned char chunk[1 << 16];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(file);
    return bytes;
}

bool EndsWith(const std::string& s, const char* tail)
{
    const std::size_t n = std::strlen(tail);
    if (s.size() < n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != tail[i])
            return false;
    return true;
}

bool DecodeHeif(const std::vector<unsigned char>& bytes, int& w, int& h)
{
    heif_context* context = heif_context_alloc();
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;
    bool ok
        = heif_context_read_from_memory_without_copy(context, bytes.data(), bytes.size(), nullptr)
                .code
            == heif_error_Ok
        && heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok;
    if (ok) {
        const bool alpha = heif_image_handle_has_alpha_channel(handle);
        ok = heif_decode_image(handle, &image, heif_colorspace_RGB,
                 alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, nullptr)
                 .code
            == heif_error_Ok;
        w = heif_image_handle_get_width(handle);
        h = heif_image_handle_get_height(handle);
    }
    heif_image_release(image);
    heif_image_handle_release(handle);
    heif_context_free(context);
    return ok;
}

bool DecodeAvif(const std::vector<unsigned char>& bytes, int& w, int& h)
{
    avifDecoder* decoder = avifDecoderCreate();
    decoder->maxThreads = 1;
    bool ok = avifDecoderSetIOMemory(decoder, bytes.data(), bytes.size()) == AVIF_RESULT_OK
        && avifDecoderParse(decoder) == AVIF_RESULT_OK
        && avifDecoderNextImage(decoder) == AVIF_RESULT_OK;
    if (ok) {
        avifRGBImage rgb;
        avifRGBImageSetDefaults(&rgb, decoder->image);
        rgb.depth = 8;
        rgb.format = decoder->image->alphaPlane ? AVIF_RGB_FORMAT_BGRA : AVIF_RGB_FORMAT_BGR;
        avifRGBImageAllocatePixels(&rgb);
        ok = avifImageYUVToRGB(decoder->image, &rgb) == AVIF_RESULT_OK;
        avifRGBImageFreePixels(&rgb);
        w = static_cast<int>(decoder->image->width);
        h = static_cast<int>(decoder->image->height);
    }
    avifDecoderDestroy(decoder);
    return ok;
}

bool DecodeWebp(const std::vector<unsigned char>& bytes, int& w, int& h)
{
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK)
        return false;
    w = features.width;
    h = features.height;
    const int channels = features.has_alpha ? 4 : 3;
    std::vector<unsigned char> pixels(static_cast<std::size_t>(w) * h * channels);
    const int stride = w * channels;
    return (features.has_alpha ? WebPDecodeBGRAInto(
                bytes.data(), bytes.size(), pixels.data(), pixels.size(), stride)
                               : WebPDecodeBGRInto(bytes.data(), bytes.size(), pixels.data(),
                                   pixels.size(), stride))
        != nullptr;
}

bool DecodeTiff(const char* path, int& w, int& h)
{
    TIFF* tiff = TIFFOpen(path, "r");
    if (!tiff)
        return false;
    std::uint32_t width = 0, height = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    std::vector<std::uint32_t> raster(static_cast<std::size_t>(width) * height);
    const bool ok
        = TIFFReadRGBAImageOriented(tiff, width, height, raster.data(), ORIENTATION_TOPLEFT, 1);
    TIFFClose(tiff);
    w = static_cast<int>(width);
    h = static_cast<int>(height);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string path = argv[i];
        const std::vector<unsigned char> bytes = ReadAll(argv[i]);
        if (bytes.empty()) {
            std::perror(argv[i]);
            return 1;
        }
        int w = 0, h = 0;
        const auto start = std::chrono::steady_clock::now();
        bool ok = false;
        if (EndsWith(path, ".heic") || EndsWith(path, ".heif"))
            ok = DecodeHeif(bytes, w, h);
        else if (EndsWith(path, ".avif"))
            ok = DecodeAvif(bytes, w, h);
        else if (EndsWith(path, ".webp"))
            ok = DecodeWebp(bytes, w, h);
        else if (EndsWith(path, ".tif") || EndsWith(path, ".tiff"))
            ok = DecodeTiff(argv[i], w, h);
        const double seconds
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!ok) {
            std::fprintf(stderr, "cannot decode %s\n", argv[i]);
            return 1;
        }
        std::printf("%.6f %d %d %s\n", seconds, w, h, argv[i]);
    }
    return 0;
}
