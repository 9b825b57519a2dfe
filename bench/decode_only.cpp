// The floor every full-resolution thumbnailer pays: the format's own library decoding a file
// with its defaults, rows discarded (libjpeg for a JPEG, baseline or progressive; libpng for a
// PNG). Prints one line per file: seconds, width, height, path.
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <png.h>

namespace {

struct TDecoded {
    unsigned width = 0;
    unsigned height = 0;
};

TDecoded DecodeJpeg(const std::vector<unsigned char>& bytes)
{
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr error;
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    std::vector<unsigned char> row(
        static_cast<std::size_t>(cinfo.output_width) * cinfo.output_components);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[1] = { row.data() };
        jpeg_read_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_decompress(&cinfo);
    const TDecoded decoded { cinfo.output_width, cinfo.output_height };
    jpeg_destroy_decompress(&cinfo);
    return decoded;
}

struct TPngSource {
    const std::vector<unsigned char>* bytes;
    std::size_t pos;
};

void ReadPngData(png_structp png, png_bytep out, png_size_t count)
{
    auto* source = static_cast<TPngSource*>(png_get_io_ptr(png));
    if (source->bytes->size() - source->pos < count)
        png_error(png, "short file");
    std::memcpy(out, source->bytes->data() + source->pos, count);
    source->pos += count;
}

struct TPngDecode {
    png_structp png;
    png_infop info;
    TPngSource source;
    unsigned width;
    unsigned height;
    unsigned char* row;
};

// Row by row in the file's own layout, as a thumbnailer that streams reads it. C-style: libpng's
// longjmp skips no destructor.
int PngRows(TPngDecode* d)
{
    if (setjmp(png_jmpbuf(d->png)))
        return 1;
    png_set_read_fn(d->png, &d->source, ReadPngData);
    png_read_info(d->png, d->info);
    const int passes = png_set_interlace_handling(d->png);
    png_read_update_info(d->png, d->info);
    d->width = png_get_image_width(d->png, d->info);
    d->height = png_get_image_height(d->png, d->info);
    d->row = static_cast<unsigned char*>(png_malloc(d->png, png_get_rowbytes(d->png, d->info)));
    for (int pass = 0; pass < passes; ++pass)
        for (unsigned y = 0; y < d->height; ++y)
            png_read_row(d->png, d->row, nullptr);
    png_read_end(d->png, nullptr);
    return 0;
}

TDecoded DecodePng(const std::vector<unsigned char>& bytes)
{
    TPngDecode d {};
    d.source = TPngSource { &bytes, 0 };
    d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    d.info = png_create_info_struct(d.png);
    const bool failed = PngRows(&d) != 0;
    png_free(d.png, d.row);
    png_destroy_read_struct(&d.png, &d.info, nullptr);
    return failed ? TDecoded {} : TDecoded { d.width, d.height };
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::FILE* file = std::fopen(argv[i], "rb");
        if (!file) {
            std::perror(argv[i]);
            return 1;
        }
        // The file is read into memory first, as parvula-cli reads it, so both time the decoder.
        std::vector<unsigned char> bytes;
        unsigned char chunk[1 << 16];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
            bytes.insert(bytes.end(), chunk, chunk + n);
        std::fclose(file);

        const bool png = bytes.size() >= 8 && png_sig_cmp(bytes.data(), 0, 8) == 0;
        const auto start = std::chrono::steady_clock::now();
        const TDecoded decoded = png ? DecodePng(bytes) : DecodeJpeg(bytes);
        const double seconds
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%.6f %u %u %s\n", seconds, decoded.width, decoded.height, argv[i]);
    }
    return 0;
}
