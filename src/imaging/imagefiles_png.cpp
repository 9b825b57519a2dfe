// PNG images: decoding through libpng, the drawing rules for alpha and colour keys, and our own
// writer (chunks, Sub filter, zlib level 7, IDAT chunks of 65535 bytes).
#include "imaging/imagefiles_internal.h"

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include <png.h>
#include <zlib.h>

#include "imaging/limits.h"

namespace parvula::imaging {

namespace {

    constexpr std::uint8_t PngSignature[8] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    constexpr std::size_t IdatChunkBytes = 65535;

    std::uint32_t BigEndian32(const std::uint8_t* p)
    {
        return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16)
            | (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
    }

    // The bytes of all IDAT chunks present in the file from the chunk at offset from on (a cut
    // chunk counts what is there).
    std::uint64_t ImageDataBytes(std::span<const std::uint8_t> bytes, std::uint64_t from = 8)
    {
        std::uint64_t total = 0;
        for (std::uint64_t at = from; at + 8 <= bytes.size();) {
            const std::uint64_t length = BigEndian32(bytes.data() + at);
            if (std::memcmp(bytes.data() + at + 4, "IDAT", 4) == 0)
                total += std::min<std::uint64_t>(length, bytes.size() - at - 8);
            at += 12 + length;
        }
        return total;
    }

    void PutBigEndian32(TBytes& out, std::uint32_t v)
    {
        out.push_back(static_cast<std::uint8_t>(v >> 24));
        out.push_back(static_cast<std::uint8_t>(v >> 16));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
        out.push_back(static_cast<std::uint8_t>(v));
    }

    void PutChunk(TBytes& out, const char* type, const std::uint8_t* data, std::size_t size)
    {
        PutBigEndian32(out, static_cast<std::uint32_t>(size));
        const std::size_t start = out.size();
        out.insert(out.end(), type, type + 4);
        if (size > 0)
            out.insert(out.end(), data, data + size);
        const uLong crc = crc32(0L, out.data() + start, static_cast<uInt>(size + 4));
        PutBigEndian32(out, static_cast<std::uint32_t>(crc));
    }

    // A chunk as read, kept to be written back when the picture writes itself.
    struct TChunk {
        std::array<char, 4> type;
        TBytes data;
        bool afterImageData;
    };

    // The unfiltered rows of an image in its own colour type and bit depth.
    struct TPngRaster {
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        int bitDepth = 8;
        int colorType = 2;
        std::size_t rowBytes = 0;
        TBytes rows;
    };

    int Channels(int colorType)
    {
        switch (colorType) {
        case 0:
        case 3:
            return 1;
        case 4:
            return 2;
        case 2:
            return 3;
        default:
            return 4;
        }
    }

    // Row y of an image being written, into row (the raster's rowBytes).
    using TPngRowSource = std::function<void(std::uint32_t y, std::uint8_t* row)>;

    // IHDR, the chunks before the image data, the image data compressed anew (Sub filter on every
    // row, zlib level 7, cut into chunks of 65535 bytes), the chunks after it, IEND. The image has
    // raster's size and layout and its rows come from rows, one at a time: neither a second copy
    // of the image nor of its compressed data is made.
    TBytes WritePng(
        const TPngRaster& raster, const TPngRowSource& rows, const std::vector<TChunk>& chunks)
    {
        TBytes out(PngSignature, PngSignature + 8);
        std::uint8_t ihdr[13];
        const std::uint32_t size[2] = { raster.width, raster.height };
        for (int k = 0; k < 2; ++k)
            for (int b = 0; b < 4; ++b)
                ihdr[4 * k + b] = static_cast<std::uint8_t>(size[k] >> (24 - 8 * b));
        ihdr[8] = static_cast<std::uint8_t>(raster.bitDepth);
        ihdr[9] = static_cast<std::uint8_t>(raster.colorType);
        ihdr[10] = 0;
        ihdr[11] = 0;
        ihdr[12] = 0; // rows are always written without interlace
        PutChunk(out, "IHDR", ihdr, sizeof ihdr);
        for (const TChunk& chunk : chunks)
            if (!chunk.afterImageData)
                PutChunk(out, chunk.type.data(), chunk.data.data(), chunk.data.size());

        z_stream z;
        std::memset(&z, 0, sizeof z);
        if (deflateInit(&z, 7) != Z_OK)
            throw EError(TCode::PngZlibInit);
        // The compressed stream goes into IDAT chunks of IdatChunkBytes as it fills them.
        TBytes pending;
        pending.reserve(IdatChunkBytes);
        const auto put = [&](const std::uint8_t* data, std::size_t count) {
            while (count > 0) {
                const std::size_t take = std::min(count, IdatChunkBytes - pending.size());
                pending.insert(pending.end(), data, data + take);
                data += take;
                count -= take;
                if (pending.size() == IdatChunkBytes) {
                    PutChunk(out, "IDAT", pending.data(), pending.size());
                    pending.clear();
                }
            }
        };
        TBytes row(raster.rowBytes);
        TBytes filtered(raster.rowBytes + 1);
        std::uint8_t buffer[1 << 15];
        // Sub looks back one whole pixel, or one byte when pixels are smaller than a byte.
        const std::size_t pixelBytes = std::max<std::size_t>(
            1, static_cast<std::size_t>(Channels(raster.colorType)) * raster.bitDepth / 8);
        int status = Z_OK;
        for (std::uint32_t y = 0; y <= raster.height; ++y) {
            const bool last = y == raster.height;
            if (!last) {
                rows(y, row.data());
                filtered[0] = 1;
                for (std::size_t i = 0; i < raster.rowBytes; ++i)
                    filtered[i + 1] = static_cast<std::uint8_t>(
                        row[i] - (i >= pixelBytes ? row[i - pixelBytes] : 0));
                z.next_in = filtered.data();
                z.avail_in = static_cast<uInt>(filtered.size());
            }
            do {
                z.next_out = buffer;
                z.avail_out = sizeof buffer;
                status = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
                put(buffer, sizeof buffer - z.avail_out);
            } while (status == Z_OK && (z.avail_in > 0 || z.avail_out == 0 || last));
        }
        deflateEnd(&z);
        if (status != Z_STREAM_END)
            throw EError(TCode::PngZlibCompress);
        if (!pending.empty())
            PutChunk(out, "IDAT", pending.data(), pending.size());

        for (const TChunk& chunk : chunks)
            if (chunk.afterImageData)
                PutChunk(out, chunk.type.data(), chunk.data.data(), chunk.data.size());
        PutChunk(out, "IEND", nullptr, 0);
        return out;
    }

    // The file of a whole decoded raster.
    TBytes WritePng(const TPngRaster& raster, const std::vector<TChunk>& chunks)
    {
        return WritePng(
            raster,
            [&](std::uint32_t y, std::uint8_t* row) {
                std::memcpy(row, raster.rows.data() + raster.rowBytes * y, raster.rowBytes);
            },
            chunks);
    }

    // libpng reports errors by longjmp; as with the JPEG decoder, the jump stays inside the small
    // C-style step functions below and the exception is thrown after they return.
    struct TPngDecode {
        png_structp png;
        png_infop info;
        const std::uint8_t* data;
        std::size_t size;
        std::size_t pos;
        // Our reader ran out of bytes (the file is cut short); any other failure is libpng's
        // finding in the data, whose English text is not shown.
        int cutShort;
        png_uint_32 width;
        png_uint_32 height;
        int bitDepth;
        int colorType;
        int interlace;
        std::size_t rowBytes;
        png_color palette[256];
        int paletteSize;
        png_byte alpha[256];
        int alphaSize;
        int hasKey;
        png_color_16 key;
        png_bytepp rows;
    };

    void PngReadData(png_structp png, png_bytep out, png_size_t count)
    {
        TPngDecode* d = static_cast<TPngDecode*>(png_get_io_ptr(png));
        if (d->size - d->pos < count) {
            d->cutShort = 1;
            png_error(png, "");
        }
        std::memcpy(out, d->data + d->pos, count);
        d->pos += count;
    }

    void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

    void PngWarning(png_structp, png_const_charp) { }

    int PngReadHeader(TPngDecode* d)
    {
        if (setjmp(png_jmpbuf(d->png)))
            return 1;
        png_set_read_fn(d->png, d, PngReadData);
        // libpng's own size limit fails with a message that names no limit: let every valid
        // header through and stop here, before png_read_update_info reserves the row buffers;
        // the caller then names the limit.
        png_set_user_limits(d->png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
        png_read_info(d->png, d->info);
        png_get_IHDR(d->png, d->info, &d->width, &d->height, &d->bitDepth, &d->colorType,
            &d->interlace, nullptr, nullptr);
        if (d->width > MaxImageSide || d->height > MaxImageSide
            || static_cast<std::uint64_t>(d->width) * d->height > MaxImagePixels)
            return 2;
        if (d->interlace != PNG_INTERLACE_NONE)
            png_set_interlace_handling(d->png);
        png_read_update_info(d->png, d->info);
        d->rowBytes = png_get_rowbytes(d->png, d->info);
        png_colorp palette = nullptr;
        if (png_get_PLTE(d->png, d->info, &palette, &d->paletteSize) && palette) {
            if (d->paletteSize > 256)
                d->paletteSize = 256;
            std::memcpy(d->palette, palette, sizeof(png_color) * d->paletteSize);
        }
        png_bytep alpha = nullptr;
        int alphaSize = 0;
        png_color_16p key = nullptr;
        if (png_get_tRNS(d->png, d->info, &alpha, &alphaSize, &key)) {
            if (d->colorType == PNG_COLOR_TYPE_PALETTE && alpha) {
                d->alphaSize = alphaSize > 256 ? 256 : alphaSize;
                std::memcpy(d->alpha, alpha, d->alphaSize);
            } else if (key) {
                d->hasKey = 1;
                d->key = *key;
            }
        }
        return 0;
    }

    int PngReadRows(TPngDecode* d)
    {
        if (setjmp(png_jmpbuf(d->png)))
            return 1;
        png_read_image(d->png, d->rows);
        png_read_end(d->png, nullptr);
        return 0;
    }

    // One row of a non-interlaced image, as png_read_image would give it.
    int PngReadOneRow(TPngDecode* d, png_bytep row)
    {
        if (setjmp(png_jmpbuf(d->png)))
            return 1;
        png_read_row(d->png, row, nullptr);
        return 0;
    }

    int PngReadEnd(TPngDecode* d)
    {
        if (setjmp(png_jmpbuf(d->png)))
            return 1;
        png_read_end(d->png, nullptr);
        return 0;
    }

    // What the header says, kept by the graphic; the rows are decoded from the file's bytes
    // whenever they are needed.
    struct TPngHeader {
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        int bitDepth = 8;
        int colorType = 2;
        bool interlaced = false;
        std::size_t rowBytes = 0;
        std::vector<TRgb> palette;
        std::vector<std::uint8_t> alpha;
        bool hasKey = false;
        std::uint16_t key[3] = { 0, 0, 0 }; // grey in [0]; red, green, blue otherwise
    };

    // One pass of libpng over a file's bytes: the header on construction, then either every
    // row at once or the rows one after another from the top.
    class TPngReader {
    public:
        // letGo, when set, hears how far row-by-row reading has gone through the bytes.
        // imageDataBytes: the bytes of all IDAT chunks when they are known, so that a large
        // file is not walked through (and so brought into memory) once more before decoding.
        explicit TPngReader(std::span<const std::uint8_t> bytes,
            const std::function<void(std::size_t)>* letGo = nullptr,
            std::optional<std::uint64_t> imageDataBytes = std::nullopt)
            : m_letGo(letGo && *letGo ? letGo : nullptr)
        {
            std::memset(&m_state, 0, sizeof m_state);
            m_state.png
                = png_create_read_struct(PNG_LIBPNG_VER_STRING, &m_state, PngError, PngWarning);
            if (m_state.png)
                m_state.info = png_create_info_struct(m_state.png);
            if (!m_state.png || !m_state.info) {
                png_destroy_read_struct(&m_state.png, &m_state.info, nullptr);
                throw EError(TCode::PngLibpngInit);
            }
            m_state.data = bytes.data();
            m_state.size = bytes.size();
            try {
                if (PngReadHeader(&m_state) == 1)
                    Fail();
                CheckImageSize(m_state.width, m_state.height, "PNG");
                // Deflate expands data at most 1032 times: image data too short for the rows
                // the header declares is refused before the rows take their memory.
                const std::uint64_t compressed
                    = imageDataBytes ? *imageDataBytes : ImageDataBytes(bytes);
                const std::uint64_t packed
                    = (static_cast<std::uint64_t>(m_state.width) * m_state.bitDepth + 7) / 8
                    * m_state.height;
                if (packed > (compressed + 1) * 1032)
                    throw EError(TCode::PngDataTooShort, {},
                        { std::to_string(compressed), std::to_string(m_state.width),
                            std::to_string(m_state.height) });
            } catch (...) {
                png_destroy_read_struct(&m_state.png, &m_state.info, nullptr);
                throw;
            }
        }
        ~TPngReader() { png_destroy_read_struct(&m_state.png, &m_state.info, nullptr); }
        TPngReader(const TPngReader&) = delete;
        TPngReader& operator=(const TPngReader&) = delete;

        TPngHeader Header() const
        {
            TPngHeader header;
            header.width = m_state.width;
            header.height = m_state.height;
            header.bitDepth = m_state.bitDepth;
            header.colorType = m_state.colorType;
            header.interlaced = m_state.interlace != PNG_INTERLACE_NONE;
            header.rowBytes = m_state.rowBytes;
            for (int k = 0; k < m_state.paletteSize; ++k)
                header.palette.push_back(TRgb {
                    m_state.palette[k].blue, m_state.palette[k].green, m_state.palette[k].red });
            header.alpha.assign(m_state.alpha, m_state.alpha + m_state.alphaSize);
            header.hasKey = m_state.hasKey != 0;
            if (m_state.colorType == PNG_COLOR_TYPE_GRAY) {
                header.key[0] = m_state.key.gray;
            } else {
                header.key[0] = m_state.key.red;
                header.key[1] = m_state.key.green;
                header.key[2] = m_state.key.blue;
            }
            return header;
        }

        // Every row, in the image's own colour type and bit depth.
        TPngRaster ReadAll()
        {
            TPngRaster raster;
            raster.width = m_state.width;
            raster.height = m_state.height;
            raster.bitDepth = m_state.bitDepth;
            raster.colorType = m_state.colorType;
            raster.rowBytes = m_state.rowBytes;
            raster.rows.resize(raster.rowBytes * raster.height);
            std::vector<png_bytep> rows(raster.height);
            for (std::uint32_t y = 0; y < raster.height; ++y)
                rows[y] = raster.rows.data() + raster.rowBytes * y;
            m_state.rows = rows.data();
            if (PngReadRows(&m_state) != 0)
                Fail();
            return raster;
        }

        // The next row of a non-interlaced image (rowBytes bytes); after the last one the rest
        // of the file is read as a whole decode reads it, so its errors arrive the same way.
        void ReadRow(std::uint8_t* row)
        {
            if (PngReadOneRow(&m_state, row) != 0)
                Fail();
            if (++m_rowsRead == m_state.height && PngReadEnd(&m_state) != 0)
                Fail();
            // libpng copies what it reads into its own buffers: the bytes before the read
            // position are not read again in this pass. Told every megabyte, with some room.
            constexpr std::size_t kStep = std::size_t { 1 } << 20;
            if (m_letGo && m_state.pos >= m_toldAt + kStep) {
                m_toldAt = m_state.pos;
                (*m_letGo)(m_state.pos - kStep / 16);
            }
        }

    private:
        [[noreturn]] void Fail()
        {
            throw EError(m_state.cutShort ? TCode::PngTruncated : TCode::PngLibrary);
        }

        TPngDecode m_state;
        std::uint32_t m_rowsRead = 0;
        const std::function<void(std::size_t)>* m_letGo;
        std::size_t m_toldAt = 0;
    };

    class TPngGraphic final : public TGraphic {
    public:
        TPngGraphic(TSharedBytes bytes, TPngHeader header, std::uint64_t imageDataBytes)
            : m_bytes(std::move(bytes))
            , m_header(std::move(header))
            , m_imageDataBytes(imageDataBytes)
        {
        }

        std::vector<TChunk> m_chunks;

        TGraphicKind Kind() const override { return TGraphicKind::Png; }
        TColourDescription Colours() const override;
        int Width() const override { return static_cast<int>(m_header.width); }
        int Height() const override { return static_cast<int>(m_header.height); }
        TBytes EncodeSelf() const override
        {
            TPngReader reader(m_bytes.view, nullptr, m_imageDataBytes);
            return WritePng(reader.ReadAll(), m_chunks);
        }

        // Non-interlaced rows are drawn as they are decoded; only an interlaced image, whose
        // passes each cover the whole picture, is decoded whole first.
        void DrawOnto(TBitmap& target) const override
        {
            const int h = std::min(Height(), target.Height());
            const int pixelBytes = target.BitsPerPixel() / 8;
            TPngReader reader(m_bytes.view, &m_bytes.letGo, m_imageDataBytes);
            if (m_header.interlaced) {
                const TPngRaster raster = reader.ReadAll();
                for (int y = 0; y < h; ++y)
                    DrawRow(raster.rows.data() + raster.rowBytes * static_cast<std::size_t>(y),
                        target.ScanLine(y), std::min(Width(), target.Width()), pixelBytes);
                return;
            }
            std::vector<std::uint8_t> row(m_header.rowBytes);
            for (int y = 0; y < Height(); ++y) {
                reader.ReadRow(row.data());
                if (y < h)
                    DrawRow(row.data(), target.ScanLine(y), std::min(Width(), target.Width()),
                        pixelBytes);
            }
        }

        const TSharedBytes& Bytes() const { return m_bytes; }
        const TPngHeader& Header() const { return m_header; }

        // The first w pixels of one row in the file's colour type and depth drawn onto a row of
        // pixelBytes-byte pixels: opaque ones copied, partial alpha blended over what is there,
        // transparent ones (alpha 0, the colour key) left as they are.
        void DrawRow(const std::uint8_t* row, std::uint8_t* target, int w, int pixelBytes) const
        {
            const int depth = m_header.bitDepth;
            const int channels = Channels(m_header.colorType);
            const unsigned maxValue = (1u << depth) - 1;
            auto sample = [&](int x, int c) -> unsigned {
                const std::size_t i = static_cast<std::size_t>(x) * channels + c;
                if (depth == 8)
                    return row[i];
                if (depth == 16)
                    return (row[2 * i] << 8) | row[2 * i + 1];
                const std::size_t bit = i * depth;
                return (row[bit / 8] >> (8 - depth - bit % 8)) & maxValue;
            };
            // Samples of every depth scaled to 8 bits; 16 bits keep their high byte.
            auto eight = [&](unsigned v) -> std::uint8_t {
                if (depth == 16)
                    return static_cast<std::uint8_t>(v >> 8);
                return static_cast<std::uint8_t>(v * 255 / maxValue);
            };
            const std::vector<TRgb>& palette = m_header.palette;
            const std::vector<std::uint8_t>& alphas = m_header.alpha;
            const bool hasKey = m_header.hasKey;
            const std::uint16_t* key = m_header.key;
            // The photos' own layouts without the general sample arithmetic, pixel for pixel
            // what it gives: 8-bit samples stay as they are.
            if (depth == 8 && !hasKey && (m_header.colorType == 2 || m_header.colorType == 6)) {
                const int step = m_header.colorType == 2 ? 3 : 4;
                for (int x = 0; x < w; ++x, row += step, target += pixelBytes) {
                    const int alpha = step == 3 ? 255 : row[3];
                    if (alpha > 0)
                        BlendPixel(target, row[0], row[1], row[2], alpha);
                }
                return;
            }
            for (int x = 0; x < w; ++x) {
                std::uint8_t r = 0, g = 0, b = 0;
                int alpha = 255;
                switch (m_header.colorType) {
                case 0: {
                    const unsigned v = sample(x, 0);
                    if (hasKey && v == key[0])
                        alpha = 0;
                    r = g = b = eight(v);
                    break;
                }
                case 2: {
                    const unsigned vr = sample(x, 0), vg = sample(x, 1), vb = sample(x, 2);
                    if (hasKey && vr == key[0] && vg == key[1] && vb == key[2])
                        alpha = 0;
                    r = eight(vr);
                    g = eight(vg);
                    b = eight(vb);
                    break;
                }
                case 3: {
                    // An index beyond the palette is drawn black, never read past the table.
                    const unsigned index = sample(x, 0);
                    if (index < palette.size()) {
                        r = palette[index].r;
                        g = palette[index].g;
                        b = palette[index].b;
                    }
                    if (index < alphas.size())
                        alpha = alphas[index];
                    break;
                }
                case 4:
                    r = g = b = eight(sample(x, 0));
                    alpha = eight(sample(x, 1));
                    break;
                default:
                    r = eight(sample(x, 0));
                    g = eight(sample(x, 1));
                    b = eight(sample(x, 2));
                    alpha = eight(sample(x, 3));
                    break;
                }
                if (alpha > 0)
                    BlendPixel(target + static_cast<std::size_t>(x) * pixelBytes, r, g, b, alpha);
            }
        }

        std::uint64_t ImageDataSize() const { return m_imageDataBytes; }

    private:
        TSharedBytes m_bytes;
        TPngHeader m_header;
        std::uint64_t m_imageDataBytes;
    };

    // A PNG's rows drawn on white: the rows of drawing the whole image on white, without a drawn
    // copy of it. A non-interlaced image's rows come as libpng decodes them; an interlaced one,
    // whose passes each cover the whole picture, is decoded whole first, and its rows are drawn
    // from there one at a time.
    class TPngRowReader final : public TRowReader {
    public:
        explicit TPngRowReader(const TPngGraphic& graphic)
            : m_graphic(graphic)
            , m_reader(graphic.Bytes().view, &graphic.Bytes().letGo, graphic.ImageDataSize())
            , m_row(graphic.Header().rowBytes)
        {
            const TPngHeader header = m_reader.Header();
            // Bytes held elsewhere (a mapped file) may have changed since they were loaded.
            if (header.width != graphic.Header().width || header.height != graphic.Header().height
                || header.rowBytes != graphic.Header().rowBytes
                || header.interlaced != graphic.Header().interlaced)
                throw EError(TCode::PngTruncated);
            if (header.interlaced) {
                m_raster = m_reader.ReadAll();
                m_row = {};
            }
        }
        int Width() const override { return m_graphic.Width(); }
        int Height() const override { return m_graphic.Height(); }
        void ReadRow(std::uint8_t* bgr) override
        {
            if (m_next >= m_graphic.Height())
                throw EError(TCode::JpegNoMoreRows);
            const std::uint8_t* row = m_row.data();
            if (m_graphic.Header().interlaced)
                row = m_raster.rows.data() + m_raster.rowBytes * static_cast<std::size_t>(m_next);
            else
                m_reader.ReadRow(m_row.data());
            ++m_next;
            std::memset(bgr, 255, static_cast<std::size_t>(m_graphic.Width()) * 3);
            m_graphic.DrawRow(row, bgr, m_graphic.Width(), 3);
        }

    private:
        const TPngGraphic& m_graphic;
        TPngReader m_reader;
        std::vector<std::uint8_t> m_row;
        TPngRaster m_raster; // an interlaced image, decoded whole
        int m_next = 0;
    };

    // Every chunk of a decoded file but IHDR, IDAT and IEND, in order, marked by its side of
    // the image data, from the offsets of the chunks before IEND that are not IDAT and the
    // offset of the first IDAT. libpng has already checked lengths and CRCs of everything up to
    // IEND.
    std::vector<TChunk> CollectChunks(std::span<const std::uint8_t> bytes,
        const std::vector<std::size_t>& others, std::size_t firstImageData)
    {
        std::vector<TChunk> chunks;
        for (const std::size_t pos : others) {
            const std::uint32_t length = BigEndian32(bytes.data() + pos);
            TChunk chunk;
            std::memcpy(chunk.type.data(), bytes.data() + pos + 4, 4);
            if (std::string(chunk.type.data(), 4) == "IHDR")
                continue;
            chunk.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos + 8),
                bytes.begin() + static_cast<std::ptrdiff_t>(pos + 8 + length));
            chunk.afterImageData = pos > firstImageData;
            chunks.push_back(std::move(chunk));
        }
        return chunks;
    }

    // Profiles larger than this are not unpacked: no real one comes near it, and a few bytes of
    // deflate could otherwise claim gigabytes.
    constexpr std::size_t kMostProfileBytes = 16 * 1024 * 1024;

    // An iCCP chunk's profile: a name of 1 to 79 bytes, its zero, compression method 0, then
    // the zlib stream. Empty when any of it is damaged: the picture is then taken as stored.
    TBytes IccpProfile(const TBytes& chunk)
    {
        const auto zero = std::find(chunk.begin(), chunk.end(), 0);
        const std::size_t nameLength = static_cast<std::size_t>(zero - chunk.begin());
        if (nameLength < 1 || nameLength > 79 || chunk.size() < nameLength + 2
            || chunk[nameLength + 1] != 0)
            return {};
        z_stream z;
        std::memset(&z, 0, sizeof z);
        if (inflateInit(&z) != Z_OK)
            return {};
        z.next_in = const_cast<Bytef*>(chunk.data() + nameLength + 2);
        z.avail_in = static_cast<uInt>(chunk.size() - nameLength - 2);
        TBytes profile;
        std::uint8_t buffer[1 << 14];
        int status = Z_OK;
        while (status == Z_OK && profile.size() <= kMostProfileBytes) {
            z.next_out = buffer;
            z.avail_out = sizeof buffer;
            status = inflate(&z, Z_NO_FLUSH);
            profile.insert(profile.end(), buffer, buffer + (sizeof buffer - z.avail_out));
            if (status == Z_BUF_ERROR && z.avail_in == 0)
                break; // the stream is cut short
        }
        inflateEnd(&z);
        if (status != Z_STREAM_END || profile.size() > kMostProfileBytes)
            return {};
        return profile;
    }

    // What the chunks say about the colours, the first that says anything of: cICP (H.273 codes;
    // only full-range RGB describes the stored numbers as they are), iCCP, sRGB. gAMA and cHRM
    // alone are not followed.
    TColourDescription ColoursOfChunks(const std::vector<TChunk>& chunks)
    {
        const auto find = [&](const char* type) -> const TChunk* {
            for (const TChunk& chunk : chunks)
                if (std::memcmp(chunk.type.data(), type, 4) == 0)
                    return &chunk;
            return nullptr;
        };
        TColourDescription colours;
        if (const TChunk* cicp = find("cICP");
            cicp && cicp->data.size() == 4 && cicp->data[2] == 0 && cicp->data[3] == 1) {
            colours.primaries = cicp->data[0];
            colours.transfer = cicp->data[1];
        } else if (const TChunk* iccp = find("iCCP")) {
            colours.icc = IccpProfile(iccp->data);
        } else if (find("sRGB")) {
            colours.primaries = 1;
            colours.transfer = 13;
        }
        return colours;
    }

    TColourDescription TPngGraphic::Colours() const { return ColoursOfChunks(m_chunks); }

} // namespace

std::unique_ptr<TGraphic> ReadPng(std::span<const std::uint8_t> bytes)
{
    return ReadPng(TSharedBytes::Own(TBytes(bytes.begin(), bytes.end())));
}

std::unique_ptr<TGraphic> ReadPng(TSharedBytes shared)
{
    const std::span<const std::uint8_t> bytes = shared.view;
    if (bytes.size() < 8 || std::memcmp(bytes.data(), PngSignature, 8) != 0)
        throw EError(TCode::PngNotPng);
    // Every chunk must lie within the bytes present before libpng sees it: libpng reserves a
    // chunk's declared length before reading it, so a few bytes could otherwise claim gigabytes.
    // The walk notes what the picture keeps, so that the file is walked through only once: each
    // chunk header read maps the pages around it, and a large file's pages are let go as the
    // walk passes them.
    constexpr std::size_t kLetGoStep = std::size_t { 1 } << 20;
    std::uint64_t imageDataBytes = 0;
    std::vector<std::size_t> others;
    std::size_t firstImageData = bytes.size();
    std::size_t toldAt = 0;
    std::size_t end = 8;
    for (std::size_t pos = 8;;) {
        if (bytes.size() - pos < 12)
            throw EError(TCode::PngTruncated);
        const std::uint32_t length = BigEndian32(bytes.data() + pos);
        if (length > 0x7FFFFFFFu || length > bytes.size() - pos - 12)
            throw EError(TCode::PngTruncated);
        if (std::memcmp(bytes.data() + pos + 4, "IEND", 4) == 0) {
            end = pos;
            break;
        }
        if (std::memcmp(bytes.data() + pos + 4, "IDAT", 4) == 0) {
            imageDataBytes += length;
            firstImageData = std::min(firstImageData, pos);
        } else {
            others.push_back(pos);
        }
        pos += 12 + static_cast<std::size_t>(length);
        if (shared.letGo && pos >= toldAt + kLetGoStep) {
            toldAt = pos;
            shared.letGo(pos - kLetGoStep / 16);
        }
    }
    // Image data after IEND counts as well (the limit below is about what deflate can give).
    imageDataBytes += ImageDataBytes(bytes, end);
    // Only the header is read now: the image data is decoded whenever the picture is drawn,
    // written or resampled, straight from these bytes, so a photo is never held decoded whole.
    TPngHeader header;
    {
        const TPngReader reader(bytes, nullptr, imageDataBytes);
        header = reader.Header();
    }
    std::vector<TChunk> chunks = CollectChunks(bytes, others, firstImageData);
    if (shared.letGo)
        shared.letGo(bytes.size());
    auto graphic
        = std::make_unique<TPngGraphic>(std::move(shared), std::move(header), imageDataBytes);
    graphic->m_chunks = std::move(chunks);
    return graphic;
}

std::unique_ptr<TRowReader> OpenPngRows(const TGraphic& graphic)
{
    const auto* png = dynamic_cast<const TPngGraphic*>(&graphic);
    if (!png)
        return nullptr;
    return std::make_unique<TPngRowReader>(*png);
}

TBytes EncodePngBytes(const TBitmap& bitmap)
{
    TPngRaster raster;
    raster.width = static_cast<std::uint32_t>(bitmap.Width());
    raster.height = static_cast<std::uint32_t>(bitmap.Height());
    std::vector<TChunk> chunks;
    const bool paletted = bitmap.BitsPerPixel() < 16;
    const bool keyed = bitmap.Transparent() && bitmap.Width() > 0 && bitmap.Height() > 0;
    const TRgb key = keyed ? bitmap.TransparentColor() : TRgb {};
    if (paletted) {
        raster.bitDepth = bitmap.BitsPerPixel();
        raster.colorType = 3;
        raster.rowBytes = (static_cast<std::size_t>(bitmap.Width()) * raster.bitDepth + 7) / 8;
        const std::size_t entries = std::size_t { 1 } << raster.bitDepth;
        TChunk plte { { 'P', 'L', 'T', 'E' }, {}, false };
        for (std::size_t k = 0; k < entries; ++k) {
            const TRgb c = k < bitmap.Palette().size() ? bitmap.Palette()[k] : TRgb {};
            plte.data.insert(plte.data.end(), { c.r, c.g, c.b });
        }
        chunks.push_back(std::move(plte));
        if (keyed) {
            // Opaque entries up to the first one of the transparent colour, which gets alpha 0.
            const auto& palette = bitmap.Palette();
            const auto found = std::find(palette.begin(), palette.end(), key);
            if (found != palette.end()) {
                TChunk trns { { 't', 'R', 'N', 'S' }, {}, false };
                trns.data.assign(static_cast<std::size_t>(found - palette.begin()), 255);
                trns.data.push_back(0);
                chunks.push_back(std::move(trns));
            }
        }
    } else {
        raster.bitDepth = 8;
        raster.colorType = 2;
        raster.rowBytes = static_cast<std::size_t>(bitmap.Width()) * 3;
        if (keyed)
            chunks.push_back(
                TChunk { { 't', 'R', 'N', 'S' }, { 0, key.r, 0, key.g, 0, key.b }, false });
    }
    // Each row taken from the bitmap as it is written: a full-size picture is never copied.
    const int bytes = bitmap.BitsPerPixel() / 8;
    const auto row = [&](std::uint32_t y, std::uint8_t* dst) {
        const std::uint8_t* src = bitmap.ScanLine(static_cast<int>(y));
        if (paletted) {
            // Packed indices have the same layout in both formats: leftmost pixel in the high bits.
            std::memcpy(dst, src, raster.rowBytes);
            return;
        }
        for (int x = 0; x < bitmap.Width(); ++x, src += bytes, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
    };
    return WritePng(raster, row, chunks);
}

} // namespace parvula::imaging
