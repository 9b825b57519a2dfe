// HEIC and HEIF images through libheif: the primary image with the file's own rotation, mirroring
// and cropping applied by the library, 8 bits a sample; its ICC or coded colour description.
#include "imaging/imagefiles_internal.h"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <libheif/heif.h>

#include "imaging/codec_library.h"
#include "imaging/imagefiles_pixels.h"
#include "imaging/limits.h"

namespace parvula::imaging {

namespace {

    constexpr const char* kFormat = "HEIF";
    constexpr int kMostHeifSide = 11585; // 11585 x 11585 is just below 128 megapixels
    static_assert(static_cast<std::uint64_t>(kMostHeifSide) * kMostHeifSide <= MaxImagePixels);

// The functions of libheif this file calls.
// clang-format off
#define PARVULA_HEIF_FUNCTIONS(F) \
    F(context_alloc) \
    F(context_free) \
    F(context_get_number_of_top_level_images) \
    F(context_get_primary_image_handle) \
    F(context_read_from_memory_without_copy) \
    F(context_set_maximum_image_size_limit) \
    F(decode_image) \
    F(image_get_bits_per_pixel_range) \
    F(image_get_height) \
    F(image_get_plane_readonly) \
    F(image_get_width) \
    F(image_handle_get_height) \
    F(image_handle_get_ispe_height) \
    F(image_handle_get_ispe_width) \
    F(image_handle_get_list_of_metadata_block_IDs) \
    F(image_handle_get_metadata) \
    F(image_handle_get_metadata_content_type) \
    F(image_handle_get_metadata_size) \
    F(image_handle_get_metadata_type) \
    F(image_handle_get_nclx_color_profile) \
    F(image_handle_get_number_of_metadata_blocks) \
    F(image_handle_get_raw_color_profile) \
    F(image_handle_get_raw_color_profile_size) \
    F(image_handle_get_width) \
    F(image_handle_has_alpha_channel) \
    F(image_handle_is_premultiplied_alpha) \
    F(image_handle_release) \
    F(image_release) \
    F(nclx_color_profile_free)
    // clang-format on

#define PARVULA_CODEC_PREFIX(name) heif_##name
    struct THeifFunctions {
        PARVULA_CODEC_TABLE(PARVULA_HEIF_FUNCTIONS)
    };
#undef PARVULA_CODEC_PREFIX

    // libheif's functions, or nullptr when the library (or a function of it) is missing.
    const THeifFunctions* HeifFunctions()
    {
        return CodecFunctions<THeifFunctions>(PARVULA_LIBHEIF_FILE);
    }

    const THeifFunctions& LibHeif()
    {
        const THeifFunctions* functions = HeifFunctions();
        if (!functions)
            FailLibraryMissing(kFormat, PARVULA_LIBHEIF_FILE);
        return *functions;
    }

    [[noreturn]] void Fail(TCode code) { throw EError(code, {}, { kFormat }); }

    // libheif's error as one of our causes; its own text is never shown.
    [[noreturn]] void FailWith(const heif_error& error)
    {
        switch (error.code) {
        case heif_error_Unsupported_filetype:
            Fail(TCode::PhotoNotFormat);
        case heif_error_Unsupported_feature:
            Fail(TCode::PhotoUnsupported);
        case heif_error_Memory_allocation_error:
            // Also libheif's own size limit, which our check before decoding meets first.
            Fail(TCode::PhotoNoMemory);
        case heif_error_Decoder_plugin_error:
            Fail(TCode::PhotoUndecodable);
        case heif_error_Invalid_input:
            Fail(error.subcode == heif_suberror_No_ftyp_box ? TCode::PhotoNotFormat
                                                            : TCode::PhotoDamaged);
        default:
            Fail(TCode::PhotoUndecodable);
        }
    }

    void Check(const heif_error& error)
    {
        if (error.code != heif_error_Ok)
            FailWith(error);
    }

    // A size beyond libheif's limit is told as the size it is when a box declares it, else as
    // the limit on a side.
    void CheckLimits(const heif_error& error, std::span<const std::uint8_t> bytes)
    {
        if (error.code == heif_error_Ok || error.subcode != heif_suberror_Security_limit_exceeded)
            return;
        CheckDeclaredSpatialExtents(bytes, kFormat);
        throw EError(TCode::PhotoSideLimit, {}, { kFormat, std::to_string(kMostHeifSide) });
    }

    struct TContext {
        const THeifFunctions& heif;
        heif_context* context = heif.context_alloc();
        ~TContext() { heif.context_free(context); }
    };
    struct THandle {
        const THeifFunctions& heif;
        heif_image_handle* handle = nullptr;
        ~THandle() { heif.image_handle_release(handle); }
    };
    struct TImage {
        const THeifFunctions& heif;
        heif_image* image = nullptr;
        ~TImage() { heif.image_release(image); }
    };

    TColourDescription ColoursOf(const THeifFunctions& heif, const heif_image_handle* handle)
    {
        TColourDescription colours;
        const std::size_t size = heif.image_handle_get_raw_color_profile_size(handle);
        if (size > 0) {
            colours.icc.resize(size);
            if (heif.image_handle_get_raw_color_profile(handle, colours.icc.data()).code
                != heif_error_Ok)
                colours.icc.clear();
        }
        heif_color_profile_nclx* nclx = nullptr;
        if (heif.image_handle_get_nclx_color_profile(handle, &nclx).code == heif_error_Ok && nclx) {
            colours.primaries = static_cast<int>(nclx->color_primaries);
            colours.transfer = static_cast<int>(nclx->transfer_characteristics);
        }
        heif.nclx_color_profile_free(nclx);
        return colours;
    }

} // namespace

std::unique_ptr<TGraphic> ReadHeif(TSharedBytes bytes)
{
    const std::span<const std::uint8_t> view = bytes.view;
    // An ISO base media file starts with a box whose type is "ftyp".
    if (view.size() < 12 || std::memcmp(view.data() + 4, "ftyp", 4) != 0)
        Fail(TCode::PhotoNotFormat);
    const THeifFunctions& heif = LibHeif();
    TContext context { heif };
    if (!context.context)
        Fail(TCode::PhotoNoMemory);
    // libheif checks every picture it builds (the primary image, its tiles, its alpha, a grid's
    // or an overlay's canvas, whose size no 'ispe' declares) against one limit a side, before it
    // takes the memory. Only a side of at most the square root of our pixel limit keeps any of
    // them within that limit.
    heif.context_set_maximum_image_size_limit(context.context, kMostHeifSide);
    const heif_error read = heif.context_read_from_memory_without_copy(
        context.context, view.data(), view.size(), nullptr);
    CheckLimits(read, view);
    Check(read);
    if (heif.context_get_number_of_top_level_images(context.context) < 1)
        Fail(TCode::PhotoNoImage);
    THandle handle { heif };
    Check(heif.context_get_primary_image_handle(context.context, &handle.handle));
    const int width = heif.image_handle_get_width(handle.handle);
    const int height = heif.image_handle_get_height(handle.handle);
    CheckPhotoSize(width, height, kFormat);
    // The stored size before rotation and cropping is what the decoder takes first.
    const int storedWidth = heif.image_handle_get_ispe_width(handle.handle);
    const int storedHeight = heif.image_handle_get_ispe_height(handle.handle);
    if (storedWidth > 0 || storedHeight > 0)
        CheckPhotoSize(storedWidth, storedHeight, kFormat);
    const bool alpha = heif.image_handle_has_alpha_channel(handle.handle) != 0;

    TImage image { heif };
    const heif_error decoded = heif.decode_image(handle.handle, &image.image, heif_colorspace_RGB,
        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, nullptr);
    CheckLimits(decoded, view);
    Check(decoded);
    int stride = 0;
    const std::uint8_t* plane
        = heif.image_get_plane_readonly(image.image, heif_channel_interleaved, &stride);
    const int decodedWidth = heif.image_get_width(image.image, heif_channel_interleaved);
    const int decodedHeight = heif.image_get_height(image.image, heif_channel_interleaved);
    // The handle's size is the size after the transformations; a decoder that gives another
    // is not trusted with our rows.
    if (!plane || decodedWidth != width || decodedHeight != height
        || heif.image_get_bits_per_pixel_range(image.image, heif_channel_interleaved) != 8)
        Fail(TCode::PhotoUndecodable);

    auto graphic = std::make_unique<TPixelGraphic>(TGraphicKind::Heif, width, height, alpha ? 4 : 3,
        heif.image_handle_is_premultiplied_alpha(handle.handle) ? TAlphaKind::Premultiplied
                                                                : TAlphaKind::Straight,
        std::move(bytes));
    const std::size_t rowBytes = graphic->RowBytes();
    if (stride < 0 || static_cast<std::size_t>(stride) < rowBytes)
        Fail(TCode::PhotoUndecodable);
    for (int y = 0; y < height; ++y)
        std::memcpy(graphic->Row(y), plane + static_cast<std::size_t>(stride) * y, rowBytes);
    graphic->SetColours(ColoursOf(heif, handle.handle));
    return graphic;
}

THeifMetadata HeifMetadata(std::span<const std::uint8_t> bytes)
{
    THeifMetadata found;
    const THeifFunctions* functions = HeifFunctions();
    if (!functions)
        return found;
    const THeifFunctions& heif = *functions;
    TContext context { heif };
    if (!context.context
        || heif.context_read_from_memory_without_copy(
                   context.context, bytes.data(), bytes.size(), nullptr)
                .code
            != heif_error_Ok)
        return found;
    THandle primary { heif };
    if (heif.context_get_primary_image_handle(context.context, &primary.handle).code
        != heif_error_Ok)
        return found;
    const int count = heif.image_handle_get_number_of_metadata_blocks(primary.handle, nullptr);
    if (count <= 0)
        return found;
    std::vector<heif_item_id> ids(static_cast<std::size_t>(count));
    ids.resize(static_cast<std::size_t>(heif.image_handle_get_list_of_metadata_block_IDs(
        primary.handle, nullptr, ids.data(), count)));
    for (const heif_item_id id : ids) {
        const std::string_view type = heif.image_handle_get_metadata_type(primary.handle, id);
        const char* content = heif.image_handle_get_metadata_content_type(primary.handle, id);
        const bool isXmp
            = type == "mime" && content && std::string_view(content) == "application/rdf+xml";
        if ((type != "Exif" || !found.exif.empty()) && (!isXmp || !found.xmp.empty()))
            continue;
        TBytes data(heif.image_handle_get_metadata_size(primary.handle, id));
        if (data.empty()
            || heif.image_handle_get_metadata(primary.handle, id, data.data()).code
                != heif_error_Ok)
            continue;
        if (isXmp) {
            found.xmp.assign(reinterpret_cast<const char*>(data.data()), data.size());
            continue;
        }
        // Four bytes of offset from their end to the TIFF header come first.
        if (data.size() < 4)
            continue;
        const std::uint64_t offset
            = (std::uint64_t { data[0] } << 24) | (data[1] << 16) | (data[2] << 8) | data[3];
        if (offset >= data.size() - 4)
            continue;
        found.exif.assign(data.begin() + 4 + static_cast<std::ptrdiff_t>(offset), data.end());
    }
    return found;
}

} // namespace parvula::imaging
