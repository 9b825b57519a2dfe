// GIF images: giflib read record by record with every frame and index checked, the first frame
// drawn, and the writers (a GIF writing itself, and one frame from a bitmap).
#include "imaging/imagefiles_internal.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include <gif_lib.h>

#include "imaging/gifreduce.h"
#include "imaging/limits.h"

namespace parvula::imaging {

namespace {

    constexpr int GraphicControlCode = 0xF9;

    // giflib's own texts are English and terse; the user reads ours.
    TCode GifErrorCode(int code)
    {
        switch (code) {
        case E_GIF_ERR_OPEN_FAILED:
        case D_GIF_ERR_OPEN_FAILED:
            return TCode::GifCannotOpen;
        case E_GIF_ERR_WRITE_FAILED:
        case E_GIF_ERR_DISK_IS_FULL:
            return TCode::GifWriteFailed;
        case E_GIF_ERR_HAS_SCRN_DSCR:
        case E_GIF_ERR_HAS_IMAG_DSCR:
        case E_GIF_ERR_NOT_WRITEABLE:
            return TCode::GifWriteOrder;
        case E_GIF_ERR_NO_COLOR_MAP:
        case D_GIF_ERR_NO_COLOR_MAP:
            return TCode::GifNoColourTable;
        case E_GIF_ERR_DATA_TOO_BIG:
        case D_GIF_ERR_DATA_TOO_BIG:
            return TCode::GifDataTooBig;
        case E_GIF_ERR_NOT_ENOUGH_MEM:
        case D_GIF_ERR_NOT_ENOUGH_MEM:
            return TCode::GifNoMemory;
        case E_GIF_ERR_CLOSE_FAILED:
        case D_GIF_ERR_CLOSE_FAILED:
            return TCode::GifCannotClose;
        case D_GIF_ERR_READ_FAILED:
        case D_GIF_ERR_EOF_TOO_SOON:
            return TCode::GifEndsEarly;
        case D_GIF_ERR_NOT_GIF_FILE:
            return TCode::GifNotGif;
        case D_GIF_ERR_NO_SCRN_DSCR:
            return TCode::GifNoScreenDescriptor;
        case D_GIF_ERR_NO_IMAG_DSCR:
            return TCode::GifNoImageDescriptor;
        case D_GIF_ERR_WRONG_RECORD:
            return TCode::GifUnknownRecord;
        case D_GIF_ERR_NOT_READABLE:
            return TCode::GifNotReadable;
        case D_GIF_ERR_IMAGE_DEFECT:
            return TCode::GifImageDefect;
        default:
            return TCode::GifUnknownError;
        }
    }

    [[noreturn]] void FailGif(int code) { throw EError(GifErrorCode(code)); }

    struct TGifSource {
        const std::uint8_t* data;
        std::size_t size;
        std::size_t pos;
    };

    int GifRead(GifFileType* gif, GifByteType* out, int count)
    {
        TGifSource* source = static_cast<TGifSource*>(gif->UserData);
        const std::size_t n
            = std::min(static_cast<std::size_t>(count < 0 ? 0 : count), source->size - source->pos);
        // An empty file has no buffer at all: memcpy must not see its null pointer.
        if (n > 0)
            std::memcpy(out, source->data + source->pos, n);
        source->pos += n;
        return static_cast<int>(n);
    }

    int GifWrite(GifFileType* gif, const GifByteType* data, int count)
    {
        TBytes* out = static_cast<TBytes*>(gif->UserData);
        out->insert(out->end(), data, data + count);
        return count;
    }

    struct TDecoderCloser {
        void operator()(GifFileType* gif) const
        {
            int error = 0;
            DGifCloseFile(gif, &error);
        }
    };

    struct TMapFree {
        void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
    };
    using TColourMap = std::unique_ptr<ColorMapObject, TMapFree>;

    // An extension record: function code and its data blocks.
    struct TExtension {
        int code = 0;
        std::vector<TBytes> blocks;
    };

    struct TFrame {
        int left = 0;
        int top = 0;
        int width = 0;
        int height = 0;
        std::vector<GifColorType> colours; // the local colour table; empty when none
        std::vector<TExtension> extensions; // the records between the previous frame and this one
        TBytes pixels; // rows top to bottom, interlacing undone
    };

    // Any colour count rounded up to a power of two of at least 2, as a colour table needs.
    int TableSize(std::size_t count)
    {
        int size = 2;
        while (static_cast<std::size_t>(size) < count)
            size *= 2;
        return size;
    }

    TColourMap MakeMap(const std::vector<GifColorType>& colours)
    {
        if (colours.empty())
            return nullptr;
        std::vector<GifColorType> padded(colours);
        padded.resize(
            static_cast<std::size_t>(TableSize(colours.size())), GifColorType { 0, 0, 0 });
        TColourMap map(GifMakeMapObject(static_cast<int>(padded.size()), padded.data()));
        if (!map)
            throw EError(TCode::GifColourMap);
        return map;
    }

    // Builds a GIF in memory through giflib's record writer.
    class TGifWriter {
    public:
        explicit TGifWriter(bool gif89)
        {
            int error = 0;
            m_gif = EGifOpen(&m_bytes, GifWrite, &error);
            if (!m_gif)
                FailGif(error);
            EGifSetGifVersion(m_gif, gif89);
        }
        ~TGifWriter()
        {
            if (m_gif) {
                int error = 0;
                EGifCloseFile(m_gif, &error);
            }
        }
        TGifWriter(const TGifWriter&) = delete;
        TGifWriter& operator=(const TGifWriter&) = delete;

        void Screen(int width, int height, int colourResolution, int background, int aspect,
            const std::vector<GifColorType>& colours)
        {
            const TColourMap map = MakeMap(colours);
            m_gif->AspectByte = static_cast<GifByteType>(aspect);
            Check(EGifPutScreenDesc(m_gif, width, height, colourResolution, background, map.get()));
        }

        void Extension(const TExtension& extension)
        {
            Check(EGifPutExtensionLeader(m_gif, extension.code));
            for (const TBytes& block : extension.blocks)
                Check(EGifPutExtensionBlock(m_gif, static_cast<int>(block.size()), block.data()));
            Check(EGifPutExtensionTrailer(m_gif));
        }

        // colours: the frame's local table, or another one to write in its place.
        void Frame(const TFrame& frame, const std::vector<GifColorType>& colours)
        {
            for (const TExtension& extension : frame.extensions)
                Extension(extension);
            const TColourMap map = MakeMap(colours);
            // giflib forgets, without freeing, the previous frame's local table when a frame
            // has none; free it first.
            if (!map && m_gif->Image.ColorMap) {
                GifFreeMapObject(m_gif->Image.ColorMap);
                m_gif->Image.ColorMap = nullptr;
            }
            Check(EGifPutImageDesc(
                m_gif, frame.left, frame.top, frame.width, frame.height, false, map.get()));
            // giflib masks the pixels of the line it is given in place, so hand it a copy.
            TBytes line(static_cast<std::size_t>(frame.width));
            for (int y = 0; y < frame.height; ++y) {
                std::memcpy(line.data(),
                    frame.pixels.data() + static_cast<std::size_t>(y) * frame.width, line.size());
                Check(EGifPutLine(m_gif, line.data(), frame.width));
            }
        }

        TBytes Finish()
        {
            int error = 0;
            GifFileType* gif = m_gif;
            m_gif = nullptr;
            if (EGifCloseFile(gif, &error) != GIF_OK)
                FailGif(error);
            return std::move(m_bytes);
        }

    private:
        void Check(int status)
        {
            if (status != GIF_OK)
                FailGif(m_gif->Error);
        }

        TBytes m_bytes;
        GifFileType* m_gif = nullptr;
    };

    // The frame's transparent colour index from its graphic control record, or -1.
    int TransparentIndex(const TFrame& frame)
    {
        int transparent = -1;
        for (const TExtension& extension : frame.extensions)
            if (extension.code == GraphicControlCode && !extension.blocks.empty()
                && extension.blocks[0].size() >= 4 && (extension.blocks[0][0] & 1))
                transparent = extension.blocks[0][3];
        return transparent;
    }

    class TGifGraphic final : public TGraphic {
    public:
        int m_width = 0;
        int m_height = 0;
        int m_colourResolution = 8;
        int m_background = 0;
        int m_aspect = 0;
        std::vector<GifColorType> m_colours; // the global colour table; empty when none
        std::vector<TFrame> m_frames;
        std::vector<TExtension> m_trailing; // records after the last frame

        TGraphicKind Kind() const override { return TGraphicKind::Gif; }
        int Width() const override { return m_width; }
        int Height() const override { return m_height; }

        // Only the first frame, clipped to the logical screen; transparent pixels and indices
        // beyond the colour table are not drawn.
        void DrawOnto(TBitmap& target) const override
        {
            const int bottom = std::min(m_height, target.Height());
            const int right = std::min(m_width, target.Width());
            const int pixelBytes = target.BitsPerPixel() / 8;
            for (int y = 0; y < bottom; ++y)
                DrawRow(y, target.ScanLine(y), right, pixelBytes);
        }

        // Row y of the screen's first frame onto a row of pixelBytes-byte pixels, its first
        // right pixels: the frame's visible pixels copied, the rest (outside the frame, the
        // transparent index, an index beyond the colour table) left as they are.
        void DrawRow(int y, std::uint8_t* row, int right, int pixelBytes) const
        {
            const TFrame& frame = m_frames.front();
            const int fy = y - frame.top;
            if (fy < 0 || fy >= frame.height)
                return;
            const std::vector<GifColorType>& colours
                = frame.colours.empty() ? m_colours : frame.colours;
            const int transparent = TransparentIndex(frame);
            const std::uint8_t* src
                = frame.pixels.data() + static_cast<std::size_t>(fy) * frame.width;
            for (int fx = 0; fx < frame.width; ++fx) {
                const int x = frame.left + fx;
                if (x >= right)
                    break;
                const int index = src[fx];
                if (index == transparent || static_cast<std::size_t>(index) >= colours.size())
                    continue;
                std::uint8_t* dst = row + static_cast<std::size_t>(x) * pixelBytes;
                dst[0] = colours[index].Blue;
                dst[1] = colours[index].Green;
                dst[2] = colours[index].Red;
            }
        }

        TBytes EncodeSelf() const override
        {
            bool extensions = !m_trailing.empty();
            for (const TFrame& frame : m_frames)
                extensions = extensions || !frame.extensions.empty();
            TGifWriter writer(extensions);
            writer.Screen(m_width, m_height, m_colourResolution, m_background, m_aspect, m_colours);
            // A file may have neither a global nor a local table (its pixels then draw nothing),
            // but giflib writes no frame without one: such a frame gets the smallest table.
            static const std::vector<GifColorType> blackWhite { { 0, 0, 0 }, { 255, 255, 255 } };
            for (const TFrame& frame : m_frames)
                writer.Frame(
                    frame, frame.colours.empty() && m_colours.empty() ? blackWhite : frame.colours);
            for (const TExtension& extension : m_trailing)
                writer.Extension(extension);
            return writer.Finish();
        }
    };

    std::vector<GifColorType> CopyColours(const ColorMapObject* map)
    {
        if (!map || map->ColorCount <= 0 || !map->Colors)
            return {};
        return std::vector<GifColorType>(map->Colors, map->Colors + std::min(map->ColorCount, 256));
    }

    void ReadFrame(GifFileType* gif, TGifGraphic& graphic, std::uint64_t& totalPixels)
    {
        if (graphic.m_frames.size() >= static_cast<std::size_t>(MaxGifFrames))
            throw EError(TCode::GifFramesTooMany, {}, { std::to_string(MaxGifFrames) });
        if (DGifGetImageDesc(gif) != GIF_OK)
            FailGif(gif->Error);
        const GifImageDesc& desc = gif->Image;
        if (desc.Width <= 0 || desc.Height <= 0)
            throw EError(TCode::GifFrameSize, {},
                { std::to_string(graphic.m_frames.size() + 1), std::to_string(desc.Width),
                    std::to_string(desc.Height) });
        CheckImageSize(desc.Width, desc.Height, "GIF");
        totalPixels
            += static_cast<std::uint64_t>(desc.Width) * static_cast<std::uint64_t>(desc.Height);
        if (totalPixels > MaxGifTotalPixels)
            throw EError(
                TCode::GifPixelsTooMany, {}, { std::to_string(MaxGifTotalPixels / (1024 * 1024)) });

        // An LZW code takes at least 2 bits and stands for at most 4,096 pixels: a frame larger
        // than the rest of the file can hold is refused before its pixels take memory.
        const TGifSource* source = static_cast<const TGifSource*>(gif->UserData);
        const std::uint64_t remaining = source->size - source->pos;
        if (static_cast<std::uint64_t>(desc.Width) * static_cast<std::uint64_t>(desc.Height)
            > remaining * 4 * 4096)
            throw EError(TCode::GifFrameBeyondFile, {},
                { std::to_string(graphic.m_frames.size() + 1), std::to_string(desc.Width),
                    std::to_string(desc.Height), std::to_string(remaining) });

        TFrame frame;
        frame.left = desc.Left;
        frame.top = desc.Top;
        frame.width = desc.Width;
        frame.height = desc.Height;
        frame.colours = CopyColours(desc.ColorMap);
        frame.pixels.resize(
            static_cast<std::size_t>(desc.Width) * static_cast<std::size_t>(desc.Height));
        const bool interlaced = desc.Interlace;
        // Interlaced rows arrive in four passes: every 8th row from 0, every 8th from 4, every
        // 4th from 2, every 2nd from 1.
        static constexpr int Start[4] = { 0, 4, 2, 1 };
        static constexpr int Step[4] = { 8, 8, 4, 2 };
        for (int pass = 0; pass < (interlaced ? 4 : 1); ++pass) {
            const int start = interlaced ? Start[pass] : 0;
            const int step = interlaced ? Step[pass] : 1;
            for (int y = start; y < frame.height; y += step) {
                GifPixelType* row = frame.pixels.data() + static_cast<std::size_t>(y) * frame.width;
                if (DGifGetLine(gif, row, frame.width) != GIF_OK)
                    FailGif(gif->Error);
            }
        }
        graphic.m_frames.push_back(std::move(frame));
    }

    TExtension ReadExtension(GifFileType* gif)
    {
        TExtension extension;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &extension.code, &block) != GIF_OK)
            FailGif(gif->Error);
        while (block) {
            extension.blocks.emplace_back(block + 1, block + 1 + block[0]);
            if (DGifGetExtensionNext(gif, &block) != GIF_OK)
                FailGif(gif->Error);
        }
        return extension;
    }

    // The first frame's rows drawn on white, one at a time: the rows of drawing the picture on
    // white, without a full-size bitmap beside the decoded frames.
    class TGifRowReader final : public TRowReader {
    public:
        explicit TGifRowReader(const TGifGraphic& graphic)
            : m_graphic(graphic)
        {
        }
        int Width() const override { return m_graphic.Width(); }
        int Height() const override { return m_graphic.Height(); }
        void ReadRow(std::uint8_t* bgr) override
        {
            if (m_next >= m_graphic.Height())
                throw EError(TCode::JpegNoMoreRows);
            std::memset(bgr, 255, static_cast<std::size_t>(m_graphic.Width()) * 3);
            m_graphic.DrawRow(m_next++, bgr, m_graphic.Width(), 3);
        }

    private:
        const TGifGraphic& m_graphic;
        int m_next = 0;
    };

} // namespace

std::unique_ptr<TRowReader> OpenGifRows(const TGraphic& graphic)
{
    const auto* gif = dynamic_cast<const TGifGraphic*>(&graphic);
    if (!gif)
        return nullptr;
    return std::make_unique<TGifRowReader>(*gif);
}

std::unique_ptr<TGraphic> ReadGif(std::span<const std::uint8_t> bytes)
{
    TGifSource source { bytes.data(), bytes.size(), 0 };
    int error = 0;
    std::unique_ptr<GifFileType, TDecoderCloser> gif(DGifOpen(&source, GifRead, &error));
    if (!gif)
        FailGif(error);
    if (gif->SWidth <= 0 || gif->SHeight <= 0)
        throw EError(TCode::GifScreenSize, {},
            { std::to_string(gif->SWidth), std::to_string(gif->SHeight) });
    CheckImageSize(gif->SWidth, gif->SHeight, "GIF");

    auto graphic = std::make_unique<TGifGraphic>();
    graphic->m_width = gif->SWidth;
    graphic->m_height = gif->SHeight;
    graphic->m_colourResolution = gif->SColorResolution;
    graphic->m_background = gif->SBackGroundColor;
    graphic->m_aspect = gif->AspectByte;
    graphic->m_colours = CopyColours(gif->SColorMap);

    std::vector<TExtension> pending;
    std::uint64_t totalPixels = 0;
    for (bool done = false; !done;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &type) != GIF_OK)
            FailGif(gif->Error);
        switch (type) {
        case IMAGE_DESC_RECORD_TYPE:
            ReadFrame(gif.get(), *graphic, totalPixels);
            graphic->m_frames.back().extensions = std::move(pending);
            pending.clear();
            break;
        case EXTENSION_RECORD_TYPE:
            pending.push_back(ReadExtension(gif.get()));
            break;
        case TERMINATE_RECORD_TYPE:
            done = true;
            break;
        default:
            throw EError(TCode::GifUnknownRecord);
        }
    }
    if (graphic->m_frames.empty())
        throw EError(TCode::GifNoImage);
    graphic->m_trailing = std::move(pending);
    return graphic;
}

TBytes EncodeGifBytes(const TBitmap& bitmap)
{
    TFrame frame;
    frame.width = bitmap.Width();
    frame.height = bitmap.Height();
    frame.pixels.resize(
        static_cast<std::size_t>(frame.width) * static_cast<std::size_t>(frame.height));
    std::vector<TRgb> palette;
    std::size_t searchable = 0;
    if (bitmap.IsPaletted()) {
        palette = bitmap.Palette();
        searchable = palette.size();
        std::size_t used = 0;
        for (int y = 0; y < frame.height; ++y)
            for (int x = 0; x < frame.width; ++x) {
                const int index = bitmap.PixelIndex(x, y);
                used = std::max(used, static_cast<std::size_t>(index) + 1);
                frame.pixels[static_cast<std::size_t>(y) * frame.width + x]
                    = static_cast<std::uint8_t>(index);
            }
        // A pixel whose index lies past a short palette shows black, as it is drawn here.
        if (palette.size() < used)
            palette.resize(used, TRgb {});
    } else {
        std::optional<TBitmap> converted;
        if (bitmap.BitsPerPixel() != 24) {
            converted = bitmap;
            converted->ConvertTo24();
        }
        TReducedImage reduced = ReduceToPalette(converted ? *converted : bitmap);
        palette = reduced.bitmap.Palette();
        searchable = static_cast<std::size_t>(reduced.colourCount);
        for (int y = 0; y < frame.height; ++y)
            std::memcpy(frame.pixels.data() + static_cast<std::size_t>(y) * frame.width,
                reduced.bitmap.ScanLine(y), static_cast<std::size_t>(frame.width));
    }
    for (const TRgb& c : palette)
        frame.colours.push_back(GifColorType { c.r, c.g, c.b });
    if (frame.colours.empty())
        frame.colours.push_back(GifColorType { 0, 0, 0 });

    if (bitmap.Transparent() && frame.width > 0 && frame.height > 0) {
        // From the last entry down: the highest index of that colour becomes transparent.
        const TRgb key = bitmap.TransparentColor();
        for (std::size_t i = searchable; i-- > 0;) {
            if (palette[i] == key) {
                frame.extensions.push_back(TExtension { GraphicControlCode,
                    { TBytes { 0x01, 0x00, 0x00, static_cast<std::uint8_t>(i) } } });
                break;
            }
        }
    }

    TGifWriter writer(!frame.extensions.empty());
    writer.Screen(frame.width, frame.height, 8, 0, 0, {});
    writer.Frame(frame, frame.colours);
    return writer.Finish();
}

} // namespace parvula::imaging
