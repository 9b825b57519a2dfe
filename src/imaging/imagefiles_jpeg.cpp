// JPEG images: the file's bytes kept and decoded row by row whenever drawn or resampled; the
// encoder for bitmaps.
#include "imaging/imagefiles_internal.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>

#include <jpeglib.h>
#include <jerror.h>

#include "imaging/colourprofile.h"
#include "imaging/limits.h"

namespace parvula::imaging {

namespace {

    // libjpeg's default error_exit ends the process. Ours records the message number and jumps
    // back into the C-style function that called the library; only after that function has
    // returned is the C++ exception thrown, so the jump never skips a destructor.
    struct TJpegError {
        jpeg_error_mgr pub;
        std::jmp_buf jump;
        int code;
        int scanLimitHit;
    };

    void JpegErrorExit(j_common_ptr cinfo)
    {
        TJpegError* error = reinterpret_cast<TJpegError*>(cinfo->err);
        error->code = cinfo->err->msg_code;
        std::longjmp(error->jump, 1);
    }

    // Warnings and trace messages would go to stderr; a damaged but decodable file is no news.
    void JpegOutputMessage(j_common_ptr) { }

    void InitError(TJpegError* error)
    {
        jpeg_std_error(&error->pub);
        error->pub.error_exit = JpegErrorExit;
        error->pub.output_message = JpegOutputMessage;
        error->code = 0;
        error->scanLimitHit = 0;
    }

    struct TJpegDecode {
        jpeg_decompress_struct cinfo;
        TJpegError error;
        jpeg_progress_mgr progress;
        int created;
        const std::uint8_t* data;
        std::size_t size;
        // Told how far the library has read (TSharedBytes::letGo), when set; toldAt: the read
        // position it was last told at.
        const std::function<void(std::size_t)>* letGo;
        std::size_t toldAt;
        // Filled by the header step.
        int width;
        int height;
        int cmyk;
        int adobeInverted;
        int direct; // the library writes 24-bit rows (blue, green, red) itself
        // A CMYK image's profile, set by the caller after the header step; null for the plain
        // rule. Its conversion never throws and never calls back into the library.
        const TCmykConversion* cmykProfile;
        // Set by the caller before the pixel step: 24-bit rows and one scratch row.
        std::uint8_t* row;
    };

    // Each progressive scan re-walks the whole coefficient buffer, so a file of thousands of
    // tiny scans costs minutes; stop at the scan limit.
    // Also called as the library reads on: the bytes it has read are let go every megabyte, a
    // little behind its read position (the library never reads back), so that a large photo's
    // file is not all in memory by its last row. A progressive file is read whole into the
    // library's coefficients as decompression starts, and so let go during that step.
    void JpegProgress(j_common_ptr cinfo)
    {
        if (!cinfo->is_decompressor)
            return;
        j_decompress_ptr dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
        if (dinfo->input_scan_number > MaxJpegScans) {
            reinterpret_cast<TJpegError*>(cinfo->err)->scanLimitHit = 1;
            cinfo->err->error_exit(cinfo);
        }
        static_assert(std::is_standard_layout_v<TJpegDecode>);
        // cinfo is the first member of the decode state.
        TJpegDecode* d = reinterpret_cast<TJpegDecode*>(dinfo);
        if (!d->letGo || !*d->letGo || !dinfo->src)
            return;
        constexpr std::size_t kStep = std::size_t { 1 } << 20;
        const auto read = static_cast<std::size_t>(dinfo->src->next_input_byte - d->data);
        if (read < d->toldAt + kStep)
            return;
        d->toldAt = read;
        try {
            (*d->letGo)(read - kStep / 16);
        } catch (...) {
            // Only memory kept longer: nothing may unwind through the library.
        }
    }

    // Plain C-style steps: only trivially destructible locals between setjmp and the library.
    int JpegReadHeader(TJpegDecode* d)
    {
        InitError(&d->error);
        d->cinfo.err = &d->error.pub;
        if (setjmp(d->error.jump))
            return 1;
        jpeg_create_decompress(&d->cinfo);
        d->created = 1;
        d->cinfo.mem->max_memory_to_use = MaxJpegMemory;
        d->progress.progress_monitor = JpegProgress;
        d->cinfo.progress = &d->progress;
        jpeg_mem_src(&d->cinfo, d->data, static_cast<unsigned long>(d->size));
        jpeg_read_header(&d->cinfo, TRUE);
        d->cmyk = d->cinfo.jpeg_color_space == JCS_CMYK || d->cinfo.jpeg_color_space == JCS_YCCK;
        d->adobeInverted = d->cinfo.saw_Adobe_marker;
#ifdef JCS_EXTENSIONS
        // libjpeg-turbo writes blue, green, red itself, straight into our rows: the same
        // colour conversion as for RGB, only stored in the other order.
        d->cinfo.out_color_space = d->cmyk ? JCS_CMYK : JCS_EXT_BGR;
        d->direct = !d->cmyk;
#else
        d->cinfo.out_color_space = d->cmyk ? JCS_CMYK : JCS_RGB;
#endif
        jpeg_calc_output_dimensions(&d->cinfo);
        d->width = static_cast<int>(d->cinfo.output_width);
        d->height = static_cast<int>(d->cinfo.output_height);
        return 0;
    }

    // The library's row (RGB or CMYK) to a 24-bit row (blue, green, red).
    void ConvertRow(const TJpegDecode* d, std::uint8_t* dst)
    {
        const std::uint8_t* src = d->row;
        if (d->cmyk && d->cmykProfile) {
            d->cmykProfile->ConvertRow(src, dst, d->width);
            return;
        }
        for (int x = 0; x < d->width; ++x, dst += 3) {
            if (d->cmyk) {
                // Adobe writes CMYK inverted (0 = full ink); other writers do not.
                int c = src[0], m = src[1], y = src[2], k = src[3];
                if (!d->adobeInverted) {
                    c = 255 - c;
                    m = 255 - m;
                    y = 255 - y;
                    k = 255 - k;
                }
                dst[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
                dst[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
                dst[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
                src += 4;
            } else {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
                src += 3;
            }
        }
    }

    // The same steps one row at a time, for a caller that keeps only one row: start, then each
    // row (got = 0 when the library gave none), then finish.
    int JpegStart(TJpegDecode* d)
    {
        if (setjmp(d->error.jump))
            return 1;
        jpeg_start_decompress(&d->cinfo);
        return 0;
    }

    // Into row as the library gives it: the caller converts it when the output is not direct.
    int JpegReadRow(TJpegDecode* d, JSAMPROW row, int* got)
    {
        if (setjmp(d->error.jump))
            return 1;
        JSAMPROW rows[1] = { row };
        *got = jpeg_read_scanlines(&d->cinfo, rows, 1) == 1;
        return 0;
    }

    int JpegFinish(TJpegDecode* d)
    {
        if (setjmp(d->error.jump))
            return 1;
        jpeg_finish_decompress(&d->cinfo);
        return 0;
    }

    [[noreturn]] void ThrowJpegError(const TJpegError& error)
    {
        if (error.scanLimitHit)
            throw EError(TCode::JpegScansTooMany, {}, { std::to_string(MaxJpegScans) });
        throw EError(TCode::JpegLibrary, {}, { std::to_string(error.code) });
    }

    // The decompressor's state, destroyed in every case (also when a constructor that holds it
    // throws after the library has allocated).
    struct TJpegDecodeState {
        TJpegDecode value;
        TJpegDecodeState() { std::memset(&value, 0, sizeof value); }
        ~TJpegDecodeState()
        {
            if (value.created)
                jpeg_destroy_decompress(&value.cinfo);
        }
        TJpegDecodeState(const TJpegDecodeState&) = delete;
        TJpegDecodeState& operator=(const TJpegDecodeState&) = delete;
    };

    // The ICC profile of APP2 "ICC_PROFILE" segments before the scan, its chunks put together
    // in sequence order. Empty when there is none, and when the chunks do not make a whole
    // profile (a count that changes, a number missing, twice or beyond the count): a damaged
    // profile is ignored, the picture is then taken as stored. components, when given, receives
    // the frame header's number of components (0 when none comes before the scan).
    TBytes JpegIccProfile(std::span<const std::uint8_t> bytes, int* components = nullptr)
    {
        if (components)
            *components = 0;
        static constexpr std::uint8_t kSignature[12]
            = { 'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0 };
        const std::size_t size = bytes.size();
        const std::uint8_t* data = bytes.data();
        if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
            return {};
        std::vector<std::span<const std::uint8_t>> chunks;
        std::vector<bool> seen;
        std::size_t pos = 2;
        while (pos + 4 <= size && data[pos] == 0xFF) {
            const std::uint8_t marker = data[pos + 1];
            if (marker == 0xFF) { // a fill byte before the marker
                ++pos;
                continue;
            }
            if (marker == 0xDA || marker == 0xD9) // the scan, or the end
                break;
            if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) { // no length
                pos += 2;
                continue;
            }
            const std::size_t length = (std::size_t { data[pos + 2] } << 8) | data[pos + 3];
            if (length < 2 || length > size - pos - 2)
                break;
            const std::uint8_t* segment = data + pos + 4;
            const std::size_t segmentSize = length - 2;
            // SOF0..SOF15 but DHT (C4), JPG (C8) and DAC (CC): precision, height, width, count.
            const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8
                && marker != 0xCC;
            if (frame && segmentSize >= 6 && components)
                *components = segment[5];
            if (marker == 0xE2 && segmentSize >= 14
                && std::memcmp(segment, kSignature, sizeof kSignature) == 0) {
                const std::size_t number = segment[12];
                const std::size_t count = segment[13];
                if (count == 0 || number == 0 || number > count
                    || (!chunks.empty() && count != chunks.size()))
                    return {};
                if (chunks.empty()) {
                    chunks.resize(count);
                    seen.assign(count, false);
                }
                if (seen[number - 1])
                    return {};
                seen[number - 1] = true;
                chunks[number - 1] = { segment + 14, segmentSize - 14 };
            }
            pos += 2 + length;
        }
        TBytes profile;
        for (std::size_t k = 0; k < chunks.size(); ++k) {
            if (!seen[k])
                return {};
            profile.insert(profile.end(), chunks[k].begin(), chunks[k].end());
        }
        return profile;
    }

    // What a JPEG says about its colours: its profile, unless the image is CMYK, whose profile
    // the decoder applies itself (its rows are sRGB already).
    TColourDescription JpegColours(std::span<const std::uint8_t> bytes)
    {
        int components = 0;
        TColourDescription colours;
        colours.icc = JpegIccProfile(bytes, &components);
        if (components == 4)
            colours.icc.clear();
        return colours;
    }

    // Reads the header on construction and the pixels on request. A CMYK image with a CMYK
    // profile is converted through it; without one, by the plain rule.
    class TJpegDecoder {
    public:
        explicit TJpegDecoder(std::span<const std::uint8_t> bytes, bool throughProfile = true,
            const std::function<void(std::size_t)>* letGo = nullptr)
        {
            TJpegDecode& state = m_state.value;
            state.data = bytes.data();
            state.size = bytes.size();
            state.letGo = letGo;
            if (JpegReadHeader(&state) != 0)
                ThrowJpegError(state.error);
            CheckImageSize(state.width, state.height, "JPEG");
            if (state.cmyk && throughProfile) {
                const TBytes icc = JpegIccProfile(bytes);
                if (!icc.empty())
                    m_cmykProfile = CmykConversion(icc, state.adobeInverted != 0);
                state.cmykProfile = m_cmykProfile.get();
            }
        }

        int Width() const { return m_state.value.width; }
        int Height() const { return m_state.value.height; }

        // Row by row: Start once, then ReadRow for each row from the top; the last row also
        // finishes the decompression, so its errors arrive exactly as in Decode.
        void Start()
        {
            TJpegDecode& state = m_state.value;
            m_row.resize(static_cast<std::size_t>(state.width) * 4);
            state.row = m_row.data();
            if (JpegStart(&state) != 0)
                ThrowJpegError(state.error);
        }

        void ReadRow(std::uint8_t* bgr)
        {
            TJpegDecode& state = m_state.value;
            int got = 0;
            if (state.cinfo.output_scanline < state.cinfo.output_height) {
                if (JpegReadRow(&state, state.direct ? bgr : state.row, &got) != 0)
                    ThrowJpegError(state.error);
                if (got && !state.direct)
                    ConvertRow(&state, bgr);
            }
            if (!got || state.cinfo.output_scanline >= state.cinfo.output_height) {
                if (JpegFinish(&state) != 0)
                    ThrowJpegError(state.error);
            }
        }

    private:
        TJpegDecodeState m_state;
        std::vector<std::uint8_t> m_row;
        std::shared_ptr<const TCmykConversion> m_cmykProfile;
    };

    class TJpegGraphic final : public TGraphic {
    public:
        TJpegGraphic(TSharedBytes bytes, int width, int height)
            : m_bytes(std::move(bytes))
            , m_width(width)
            , m_height(height)
        {
        }
        TGraphicKind Kind() const override { return TGraphicKind::Jpeg; }
        int Width() const override { return m_width; }
        int Height() const override { return m_height; }
        TBytes EncodeSelf() const override
        {
            return TBytes(m_bytes.view.begin(), m_bytes.view.end());
        }
        std::span<const std::uint8_t> StoredBytes() const override { return m_bytes.view; }
        TColourDescription Colours() const override
        {
            return m_storedColours ? TColourDescription {} : JpegColours(m_bytes.view);
        }
        void KeepStoredColours() override { m_storedColours = true; }
        bool ThroughProfile() const { return !m_storedColours; }

        // Decoded row by row straight onto the target, every time: no decoded copy of a photo
        // is kept beside the bitmap it is drawn on.
        void DrawOnto(TBitmap& target) const override
        {
            TJpegDecoder decoder(m_bytes.view, ThroughProfile(), &m_bytes.letGo);
            CheckSameSize(decoder.Width(), decoder.Height());
            decoder.Start();
            std::vector<std::uint8_t> row(static_cast<std::size_t>(m_width) * 3);
            const int w = std::min(m_width, target.Width());
            const int h = std::min(m_height, target.Height());
            const int pixelBytes = target.BitsPerPixel() / 8;
            for (int y = 0; y < m_height; ++y) {
                decoder.ReadRow(row.data());
                if (y >= h)
                    continue;
                std::uint8_t* out = target.ScanLine(y);
                for (int x = 0; x < w; ++x)
                    std::memcpy(
                        out + static_cast<std::size_t>(x) * pixelBytes, row.data() + 3 * x, 3);
            }
        }

        std::span<const std::uint8_t> Bytes() const { return m_bytes.view; }
        const std::function<void(std::size_t)>& LetGo() const { return m_bytes.letGo; }

        // Bytes held elsewhere (a mapped file) may have changed since the header was read:
        // rows of another size would not fit the picture.
        void CheckSameSize(int width, int height) const
        {
            if (width != m_width || height != m_height)
                throw EError(TCode::JpegChangedWhileRead);
        }

    private:
        TSharedBytes m_bytes;
        int m_width;
        int m_height;
        bool m_storedColours = false;
    };

    // A JPEG image's rows straight from the decompressor. A JPEG is opaque, so its rows are what
    // drawing it on white gives.
    class TJpegRowReader final : public TRowReader {
    public:
        explicit TJpegRowReader(const TJpegGraphic& graphic)
            : m_decoder(graphic.Bytes(), graphic.ThroughProfile(), &graphic.LetGo())
            , m_width(graphic.Width())
            , m_height(graphic.Height())
        {
            graphic.CheckSameSize(m_decoder.Width(), m_decoder.Height());
            m_decoder.Start();
        }
        int Width() const override { return m_width; }
        int Height() const override { return m_height; }
        void ReadRow(std::uint8_t* bgr) override
        {
            if (m_next >= m_height)
                throw EError(TCode::JpegNoMoreRows);
            m_decoder.ReadRow(bgr);
            ++m_next;
        }

    private:
        TJpegDecoder m_decoder;
        int m_width;
        int m_height;
        int m_next = 0;
    };

    // Our own memory destination: libjpeg's jpeg_mem_dest frees its first buffer when it grows
    // but publishes the new one only at the end, so after an error the caller would hold a freed
    // pointer. Here the current buffer is always in the struct, and the caller frees it.
    struct TJpegMemoryDest {
        jpeg_destination_mgr pub;
        unsigned char* buffer;
        std::size_t capacity;
        std::size_t length;
    };

    constexpr std::size_t kFirstOutputBytes = 64 * 1024;

    void MemoryDestInit(j_compress_ptr cinfo)
    {
        auto* dest = reinterpret_cast<TJpegMemoryDest*>(cinfo->dest);
        dest->buffer = static_cast<unsigned char*>(std::malloc(kFirstOutputBytes));
        if (!dest->buffer)
            ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
        dest->capacity = kFirstOutputBytes;
        dest->pub.next_output_byte = dest->buffer;
        dest->pub.free_in_buffer = dest->capacity;
    }

    boolean MemoryDestGrow(j_compress_ptr cinfo)
    {
        auto* dest = reinterpret_cast<TJpegMemoryDest*>(cinfo->dest);
        // libjpeg calls this only with the whole buffer full.
        const std::size_t used = dest->capacity;
        auto* grown = static_cast<unsigned char*>(std::realloc(dest->buffer, used * 2));
        if (!grown)
            ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
        dest->buffer = grown;
        dest->capacity = used * 2;
        dest->pub.next_output_byte = dest->buffer + used;
        dest->pub.free_in_buffer = dest->capacity - used;
        return TRUE;
    }

    void MemoryDestTerm(j_compress_ptr cinfo)
    {
        auto* dest = reinterpret_cast<TJpegMemoryDest*>(cinfo->dest);
        dest->length = dest->capacity - dest->pub.free_in_buffer;
    }

    struct TJpegEncode {
        jpeg_compress_struct cinfo;
        TJpegError error;
        TJpegMemoryDest dest;
        int created;
        const TBitmap* bitmap;
        int quality;
        std::uint8_t* row;
    };

    int JpegCompress(TJpegEncode* e)
    {
        InitError(&e->error);
        e->cinfo.err = &e->error.pub;
        if (setjmp(e->error.jump))
            return 1;
        jpeg_create_compress(&e->cinfo);
        e->created = 1;
        e->dest.pub.init_destination = MemoryDestInit;
        e->dest.pub.empty_output_buffer = MemoryDestGrow;
        e->dest.pub.term_destination = MemoryDestTerm;
        e->cinfo.dest = &e->dest.pub;
        e->cinfo.image_width = static_cast<JDIMENSION>(e->bitmap->Width());
        e->cinfo.image_height = static_cast<JDIMENSION>(e->bitmap->Height());
        e->cinfo.input_components = 3;
        e->cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&e->cinfo);
        // TRUE forces baseline-compatible tables (every quantiser fits 8 bits).
        jpeg_set_quality(&e->cinfo, e->quality, TRUE);
        jpeg_start_compress(&e->cinfo, TRUE);
        const int width = e->bitmap->Width();
        while (e->cinfo.next_scanline < e->cinfo.image_height) {
            const std::uint8_t* src = e->bitmap->ScanLine(static_cast<int>(e->cinfo.next_scanline));
            for (int x = 0; x < width; ++x) {
                e->row[3 * x] = src[3 * x + 2];
                e->row[3 * x + 1] = src[3 * x + 1];
                e->row[3 * x + 2] = src[3 * x];
            }
            JSAMPROW rows[1] = { e->row };
            jpeg_write_scanlines(&e->cinfo, rows, 1);
        }
        jpeg_finish_compress(&e->cinfo);
        return 0;
    }

} // namespace

std::unique_ptr<TGraphic> ReadJpeg(TBytes bytes)
{
    return ReadJpeg(TSharedBytes::Own(std::move(bytes)));
}

std::unique_ptr<TGraphic> ReadJpeg(TSharedBytes bytes)
{
    int width = 0;
    int height = 0;
    {
        // Only the header: no CMYK profile is looked at for it.
        TJpegDecoder decoder(bytes.view, false);
        width = decoder.Width();
        height = decoder.Height();
    }
    return std::make_unique<TJpegGraphic>(std::move(bytes), width, height);
}

std::unique_ptr<TRowReader> OpenJpegRows(const TGraphic& graphic)
{
    if (const auto* jpeg = dynamic_cast<const TJpegGraphic*>(&graphic))
        return std::make_unique<TJpegRowReader>(*jpeg);
    return nullptr;
}

TBytes EncodeJpegBytes(const TBitmap& bitmap, int quality)
{
    std::optional<TBitmap> converted;
    if (bitmap.BitsPerPixel() != 24) {
        converted = bitmap;
        converted->ConvertTo24();
    }
    const TBitmap& rgb = converted ? *converted : bitmap;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(rgb.Width()) * 3 + 3);
    TJpegEncode e;
    std::memset(&e, 0, sizeof e);
    e.bitmap = &rgb;
    e.quality = quality;
    e.row = row.data();
    const int failed = JpegCompress(&e);
    TBytes out;
    if (!failed && e.dest.buffer)
        out.assign(e.dest.buffer, e.dest.buffer + e.dest.length);
    if (e.created)
        jpeg_destroy_compress(&e.cinfo);
    std::free(e.dest.buffer);
    if (failed)
        ThrowJpegError(e.error);
    return out;
}

} // namespace parvula::imaging
