// The floor every full-resolution thumbnailer pays: libjpeg decoding a file with the library's
// defaults, rows discarded. Prints one line per file: seconds, width, height, path.
#include <chrono>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

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

        const auto start = std::chrono::steady_clock::now();
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
        const double seconds
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%.6f %u %u %s\n", seconds, cinfo.output_width, cinfo.output_height, argv[i]);
        jpeg_destroy_decompress(&cinfo);
    }
    return 0;
}
