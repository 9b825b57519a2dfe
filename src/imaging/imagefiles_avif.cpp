// AVIF images through libavif: the primary image (a sequence's first frame) at 8 bits a sample,
// cropped, turned and mirrored by its 'clap', 'irot' and 'imir' properties; its ICC or coded
// colour description.
#include "imaging/imagefiles_internal.h"

#include <cstring>
#include <vector>

#include <avif/avif.h>

#include "imaging/codec_library.h"
#include "imaging/imagefiles_pixels.h"
#include "imaging/limits.h"

namespace parvula::imaging {

namespace {

    constexpr const char* kFormat = "AVIF";

// The functions of libavif this file calls.
// clang-format off
#define PARVULA_AVIF_FUNCTIONS(F) \
    F(CropRectConvertCleanApertureBox) \
    F(DecoderCreate) \
    F(DecoderDestroy) \
    F(DecoderNextImage) \
    F(DecoderParse) \
    F(DecoderSetIOMemory) \
    F(ImageCreateEmpty) \
    F(ImageDestroy) \
    F(ImageSetViewRect) \
    F(ImageYUVToRGB) \
    F(RGBImageSetDefaults)
    // clang-format on

#define PARVULA_CODEC_PREFIX(name) avif##name
    struct TAvifFunctions {
        PARVULA_CODEC_TABLE(PARVULA_AVIF_FUNCTIONS)
    };
#undef PARVULA_CODEC_PREFIX

    // libavif's functions; reading an AVIF file fails when the library (or a function of it)
    // is missing.
    const TAvifFunctions& LibAvif()
    {
        const TAvifFunctions* functions = CodecFunctions<TAvifFunctions>(PARVULA_LIBAVIF_FILE);
        if (!functions)
            FailLibraryMissing(kFormat, PARVULA_LIBAVIF_FILE);
        return *functions;
    }

    [[noreturn]] void Fail(TCode code) { throw EError(code, {}, { kFormat }); }

    // libavif's result as one of our causes; its own text is never shown.
    [[noreturn]] void FailWith(avifResult result)
    {
        switch (result) {
        case AVIF_RESULT_INVALID_FTYP:
            Fail(TCode::PhotoNotFormat);
        case AVIF_RESULT_NO_CONTENT:
        case AVIF_RESULT_NO_AV1_ITEMS_FOUND:
        case AVIF_RESULT_NO_IMAGES_REMAINING:
            Fail(TCode::PhotoNoImage);
        case AVIF_RESULT_OUT_OF_MEMORY:
            Fail(TCode::PhotoNoMemory);
        case AVIF_RESULT_UNSUPPORTED_DEPTH:
        case AVIF_RESULT_NO_CODEC_AVAILABLE:
        case AVIF_RESULT_NOT_IMPLEMENTED:
            Fail(TCode::PhotoUnsupported);
        case AVIF_RESULT_BMFF_PARSE_FAILED:
        case AVIF_RESULT_TRUNCATED_DATA:
        case AVIF_RESULT_INVALID_IMAGE_GRID:
        case AVIF_RESULT_ISPE_SIZE_MISMATCH:
        case AVIF_RESULT_COLOR_ALPHA_SIZE_MISMATCH:
        case AVIF_RESULT_IO_ERROR:
            Fail(TCode::PhotoDamaged);
        default:
            Fail(TCode::PhotoUndecodable);
        }
    }

    void Check(avifResult result)
    {
        if (result != AVIF_RESULT_OK)
            FailWith(result);
    }

    struct TImage {
        const TAvifFunctions& avif;
        avifImage* image = nullptr;
        ~TImage()
        {
            if (image)
                avif.ImageDestroy(image);
        }
    };
    struct TDecoder {
        const TAvifFunctions& avif;
        avifDecoder* decoder = avif.DecoderCreate();
        ~TDecoder()
        {
            if (decoder)
                avif.DecoderDestroy(decoder);
        }
    };

    // libavif leaves 'clap', 'irot' and 'imir' to its caller; libheif applies them for a HEIC,
    // so an AVIF shows the same way. The file says: first turn anticlockwise by angle x 90 degrees,
    // then mirror (mode 0 swaps top and bottom, 1 left and right).
    void CopyTransformed(const std::vector<std::uint8_t>& stored, int width, int height,
        int channels, int angle, int mirror, TPixelGraphic& out)
    {
        const int outWidth = out.Width();
        const int outHeight = out.Height();
        for (int y = 0; y < outHeight; ++y) {
            std::uint8_t* row = out.Row(y);
            for (int x = 0; x < outWidth; ++x) {
                // Undo the mirror first (it was applied last), then the turn.
                int mx = x;
                int my = y;
                if (mirror == 0)
                    my = outHeight - 1 - y;
                else if (mirror == 1)
                    mx = outWidth - 1 - x;
                int sx = mx;
                int sy = my;
                switch (angle) {
                case 1:
                    sx = width - 1 - my;
                    sy = mx;
                    break;
                case 2:
                    sx = width - 1 - mx;
                    sy = height - 1 - my;
                    break;
                case 3:
                    sx = my;
                    sy = height - 1 - mx;
                    break;
                default:
                    break;
                }
                std::memcpy(row + static_cast<std::size_t>(x) * channels,
                    stored.data()
                        + (static_cast<std::size_t>(sy) * width + static_cast<std::size_t>(sx))
                            * channels,
                    static_cast<std::size_t>(channels));
            }
        }
    }

} // namespace

std::unique_ptr<TGraphic> ReadAvif(TSharedBytes bytes)
{
    const std::span<const std::uint8_t> view = bytes.view;
    if (view.size() < 12 || std::memcmp(view.data() + 4, "ftyp", 4) != 0)
        Fail(TCode::PhotoNotFormat);
    const TAvifFunctions& avif = LibAvif();
    TDecoder decoder { avif };
    if (!decoder.decoder)
        Fail(TCode::PhotoNoMemory);
    avifDecoder* d = decoder.decoder;
    // The library's own limits no wider than ours, so the AV1 decoder refuses a frame larger
    // than its header said too.
    d->imageSizeLimit = static_cast<std::uint32_t>(MaxImagePixels);
    d->imageDimensionLimit = static_cast<std::uint32_t>(MaxImageSide);
    d->maxThreads = 1;
    d->ignoreXMP = AVIF_TRUE;
    Check(avif.DecoderSetIOMemory(d, view.data(), view.size()));
    // libavif refuses a size beyond its limits with a result that does not say so.
    if (const avifResult parsed = avif.DecoderParse(d); parsed != AVIF_RESULT_OK) {
        CheckDeclaredSpatialExtents(view, kFormat);
        FailWith(parsed);
    }
    CheckPhotoSize(d->image->width, d->image->height, kFormat);
    int storedWidth = static_cast<int>(d->image->width);
    int storedHeight = static_cast<int>(d->image->height);
    Check(avif.DecoderNextImage(d));
    // A frame of another size than the file declared is not trusted with our rows.
    if (static_cast<int>(d->image->width) != storedWidth
        || static_cast<int>(d->image->height) != storedHeight)
        Fail(TCode::PhotoDamaged);
    const avifImage* image = d->image;
    // The clean aperture ('clap') first, as libheif crops a HEIC: a view of the decoded planes.
    // A box libavif finds against the rules is passed over, and the whole picture shows.
    TImage cropped { avif };
    avifCropRect crop { 0, 0, d->image->width, d->image->height };
    if ((image->transformFlags & AVIF_TRANSFORM_CLAP)
        && avif.CropRectConvertCleanApertureBox(
            &crop, &image->clap, image->width, image->height, image->yuvFormat, &d->diag)
        && crop.width > 0 && crop.height > 0
        && (crop.width != image->width || crop.height != image->height)) {
        cropped.image = avif.ImageCreateEmpty();
        if (!cropped.image)
            Fail(TCode::PhotoNoMemory);
        Check(avif.ImageSetViewRect(cropped.image, image, &crop));
        image = cropped.image;
        storedWidth = static_cast<int>(crop.width);
        storedHeight = static_cast<int>(crop.height);
    }

    const bool alpha = image->alphaPlane != nullptr;
    const int channels = alpha ? 4 : 3;
    const avifImage* decoded = d->image; // the view carries no properties of the file's own
    const int angle = (decoded->transformFlags & AVIF_TRANSFORM_IROT) ? decoded->irot.angle & 3 : 0;
    const int mirror
        = (decoded->transformFlags & AVIF_TRANSFORM_IMIR) ? decoded->imir.mode & 1 : -1;
    const bool turned = angle != 0 || mirror >= 0;
    const bool swapped = angle == 1 || angle == 3;

    avifRGBImage rgb;
    avif.RGBImageSetDefaults(&rgb, image);
    rgb.depth = 8;
    rgb.format = alpha ? AVIF_RGB_FORMAT_BGRA : AVIF_RGB_FORMAT_BGR;
    rgb.rowBytes = static_cast<std::uint32_t>(storedWidth) * channels;

    auto graphic = std::make_unique<TPixelGraphic>(TGraphicKind::Avif,
        swapped ? storedHeight : storedWidth, swapped ? storedWidth : storedHeight, channels,
        TAlphaKind::Straight, std::move(bytes), TSampleOrder::Bgr);
    std::vector<std::uint8_t> stored;
    if (turned) {
        stored.resize(static_cast<std::size_t>(rgb.rowBytes) * storedHeight);
        rgb.pixels = stored.data();
    } else {
        rgb.pixels = graphic->Pixels();
    }
    Check(avif.ImageYUVToRGB(image, &rgb));
    if (turned)
        CopyTransformed(stored, storedWidth, storedHeight, channels, angle, mirror, *graphic);

    TColourDescription colours;
    if (decoded->icc.data && decoded->icc.size > 0)
        colours.icc.assign(decoded->icc.data, decoded->icc.data + decoded->icc.size);
    colours.primaries = static_cast<int>(decoded->colorPrimaries);
    colours.transfer = static_cast<int>(decoded->transferCharacteristics);
    graphic->SetColours(std::move(colours));
    return graphic;
}

} // namespace parvula::imaging
