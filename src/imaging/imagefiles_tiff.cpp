// TIFF images through libtiff's RGBA reading: strips and tiles, 8 and 16 bits, grey, palette, RGB,
// RGBA and CMYK, the first page; the ICC profile and the orientation tag.
#include "imaging/imagefiles_internal.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include <tiffio.h>

#include "imaging/imagefiles_pixels.h"
#include "imaging/limits.h"

namespace parvula::imaging {

namespace {

    constexpr const char* kFormat = "TIFF";

    [[noreturn]] void Fail(TCode code) { throw EError(code, {}, { kFormat }); }

    // The file's bytes as libtiff's client I/O: reads stay inside them, writes are refused.
    struct TMemoryFile {
        std::span<const std::uint8_t> bytes;
        std::uint64_t at = 0;
        bool failed = false; // libtiff reported an error, whose text stays here
    };

    tmsize_t ReadProc(thandle_t handle, void* out, tmsize_t count)
    {
        auto* file = static_cast<TMemoryFile*>(handle);
        if (count <= 0 || file->at >= file->bytes.size())
            return 0;
        const std::uint64_t n = std::min<std::uint64_t>(
            static_cast<std::uint64_t>(count), file->bytes.size() - file->at);
        std::memcpy(out, file->bytes.data() + file->at, static_cast<std::size_t>(n));
        file->at += n;
        return static_cast<tmsize_t>(n);
    }
    tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return -1; }
    toff_t SeekProc(thandle_t handle, toff_t offset, int whence)
    {
        auto* file = static_cast<TMemoryFile*>(handle);
        std::uint64_t base = 0;
        if (whence == SEEK_CUR)
            base = file->at;
        else if (whence == SEEK_END)
            base = file->bytes.size();
        // A seek beyond the end is allowed (reads there give nothing); an overflow is not.
        if (offset > UINT64_MAX - base)
            return static_cast<toff_t>(-1);
        file->at = base + offset;
        return file->at;
    }
    int CloseProc(thandle_t) { return 0; }
    toff_t SizeProc(thandle_t handle) { return static_cast<TMemoryFile*>(handle)->bytes.size(); }
    // The bytes are in memory already: libtiff reads its strips and tiles from them as from a
    // mapped file (its copying path for tiles of 4.5 refuses some a mapped read takes). It never
    // writes into a file opened for reading.
    int MapProc(thandle_t handle, void** base, toff_t* size)
    {
        auto* file = static_cast<TMemoryFile*>(handle);
        *base = const_cast<std::uint8_t*>(file->bytes.data());
        *size = file->bytes.size();
        return 1;
    }
    void UnmapProc(thandle_t, void*, toff_t) { }

    // libtiff's texts go nowhere: an error only marks the file, a warning is dropped. Returning
    // 1 keeps libtiff's own handler from printing them.
    int ErrorHandler(TIFF*, void* user, const char*, const char*, va_list)
    {
        static_cast<TMemoryFile*>(user)->failed = true;
        return 1;
    }
    int WarningHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

    struct TOptions {
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        ~TOptions() { TIFFOpenOptionsFree(options); }
    };
    struct TTiff {
        TIFF* tiff = nullptr;
        ~TTiff()
        {
            if (tiff)
                TIFFClose(tiff);
        }
    };
    struct TRgbaImage {
        TIFFRGBAImage image;
        bool begun = false;
        ~TRgbaImage()
        {
            if (begun)
                TIFFRGBAImageEnd(&image);
        }
    };

    // The strips or tiles must hold enough bytes for the rows the directory declares before
    // the picture's memory is taken: stored data at most, compressed data expanding at most
    // kMostExpansion times (beyond what deflate, LZW or JPEG reach on a real picture).
    void CheckDataPresent(TIFF* tiff, std::uint64_t fileSize)
    {
        constexpr std::uint64_t kMostExpansion = 4096;
        const bool tiled = TIFFIsTiled(tiff) != 0;
        const std::uint32_t count = tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
        const std::uint64_t each = tiled ? TIFFTileSize64(tiff) : TIFFStripSize64(tiff);
        if (count == 0 || each == 0)
            Fail(TCode::PhotoDamaged);
        std::uint64_t present = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint64_t offset = TIFFGetStrileOffset(tiff, i);
            const std::uint64_t bytes = TIFFGetStrileByteCount(tiff, i);
            if (offset < fileSize)
                present += std::min(bytes, fileSize - offset);
        }
        std::uint16_t compression = COMPRESSION_NONE;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
        const std::uint64_t most = compression == COMPRESSION_NONE ? 1 : kMostExpansion;
        // The last strip or tile may be shorter than the others.
        const std::uint64_t needed = each * (count - 1);
        if (present < needed / most)
            Fail(TCode::PhotoDamaged);
    }

} // namespace

std::unique_ptr<TGraphic> ReadTiff(TSharedBytes bytes)
{
    const std::span<const std::uint8_t> view = bytes.view;
    static const std::uint8_t kLittle[4] = { 'I', 'I', 42, 0 };
    static const std::uint8_t kBig[4] = { 'M', 'M', 0, 42 };
    static const std::uint8_t kBigLittle[4] = { 'I', 'I', 43, 0 };
    static const std::uint8_t kBigBig[4] = { 'M', 'M', 0, 43 };
    if (view.size() < 8
        || (std::memcmp(view.data(), kLittle, 4) != 0 && std::memcmp(view.data(), kBig, 4) != 0
            && std::memcmp(view.data(), kBigLittle, 4) != 0
            && std::memcmp(view.data(), kBigBig, 4) != 0))
        Fail(TCode::PhotoNotFormat);

    TMemoryFile file { view };
    TOptions options;
    if (!options.options)
        Fail(TCode::PhotoNoMemory);
    // No single buffer of libtiff's beyond what the largest picture within the limits needs
    // for one strip or tile of 16-bit samples; a directory claiming more fails before it is
    // taken.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.options, MaxTiffSingleAllocation);
    TIFFOpenOptionsSetErrorHandlerExtR(options.options, ErrorHandler, &file);
    TIFFOpenOptionsSetWarningHandlerExtR(options.options, WarningHandler, &file);
    TTiff tiff { TIFFClientOpenExt("", "r", &file, ReadProc, WriteProc, SeekProc, CloseProc,
        SizeProc, MapProc, UnmapProc, options.options) };
    if (!tiff.tiff)
        Fail(TCode::PhotoDamaged);

    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (!TIFFGetField(tiff.tiff, TIFFTAG_IMAGEWIDTH, &width)
        || !TIFFGetField(tiff.tiff, TIFFTAG_IMAGELENGTH, &height))
        Fail(TCode::PhotoDamaged);
    CheckPhotoSize(width, height, kFormat);
    CheckDataPresent(tiff.tiff, view.size());

    char message[1024] = "";
    if (!TIFFRGBAImageOK(tiff.tiff, message))
        Fail(file.failed ? TCode::PhotoDamaged : TCode::PhotoUnsupported);
    TRgbaImage rgba;
    // Stop at the first damaged strip or tile instead of drawing what is left as black.
    if (!TIFFRGBAImageBegin(&rgba.image, tiff.tiff, 1, message))
        Fail(file.failed ? TCode::PhotoDamaged : TCode::PhotoUnsupported);
    rgba.begun = true;
    // The rows as stored: asked for the file's own orientation, libtiff flips nothing, and the
    // tag is honoured like a JPEG's, by "Upright".
    const int orientation = rgba.image.orientation;
    rgba.image.req_orientation = rgba.image.orientation;
    const bool alpha = rgba.image.alpha != 0;

    auto graphic = std::make_unique<TPixelGraphic>(TGraphicKind::Tiff, static_cast<int>(width),
        static_cast<int>(height), 4, alpha ? TAlphaKind::Premultiplied : TAlphaKind::None,
        std::move(bytes));
    auto* raster = reinterpret_cast<std::uint32_t*>(graphic->Pixels());
    if (!TIFFRGBAImageGet(&rgba.image, raster, width, height))
        Fail(TCode::PhotoDamaged);
    // libtiff packs red in the low byte of each 32-bit word: in memory order that is red first
    // only on a little-endian machine.
    if constexpr (std::endian::native == std::endian::big) {
        const std::size_t count = static_cast<std::size_t>(width) * height;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t v = raster[i];
            std::uint8_t* p = graphic->Pixels() + 4 * i;
            p[0] = static_cast<std::uint8_t>(TIFFGetR(v));
            p[1] = static_cast<std::uint8_t>(TIFFGetG(v));
            p[2] = static_cast<std::uint8_t>(TIFFGetB(v));
            p[3] = static_cast<std::uint8_t>(TIFFGetA(v));
        }
    }

    if (orientation >= 1 && orientation <= 8)
        graphic->SetStoredOrientation(orientation);
    std::uint32_t profileSize = 0;
    void* profile = nullptr;
    if (TIFFGetField(tiff.tiff, TIFFTAG_ICCPROFILE, &profileSize, &profile) && profile
        && profileSize > 0) {
        TColourDescription colours;
        const auto* p = static_cast<const std::uint8_t*>(profile);
        colours.icc.assign(p, p + profileSize);
        graphic->SetColours(std::move(colours));
    }
    return graphic;
}

} // namespace parvula::imaging
