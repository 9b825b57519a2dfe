// WebP images through libwebp: lossy, lossless and alpha, an animation's first frame; the ICC
// profile and the EXIF orientation from their chunks; and the lossy writer.
#include "imaging/imagefiles_internal.h"

#include <cstring>
#include <string>

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>

#include "imaging/imagefiles_pixels.h"
#include "imaging/orientation.h"

namespace parvula::imaging {

namespace {

    constexpr const char* kFormat = "WebP";

    [[noreturn]] void Fail(TCode code) { throw EError(code, {}, { kFormat }); }

    // libwebp's status as one of our causes.
    [[noreturn]] void FailWith(VP8StatusCode status)
    {
        switch (status) {
        case VP8_STATUS_OUT_OF_MEMORY:
            Fail(TCode::PhotoNoMemory);
        case VP8_STATUS_UNSUPPORTED_FEATURE:
            Fail(TCode::PhotoUnsupported);
        case VP8_STATUS_NOT_ENOUGH_DATA:
        case VP8_STATUS_BITSTREAM_ERROR:
            Fail(TCode::PhotoDamaged);
        default:
            Fail(TCode::PhotoUndecodable);
        }
    }

    struct TDemux {
        WebPDemuxer* demux = nullptr;
        ~TDemux() { WebPDemuxDelete(demux); }
    };
    struct TAnimDecoder {
        WebPAnimDecoder* decoder = nullptr;
        ~TAnimDecoder() { WebPAnimDecoderDelete(decoder); }
    };

    // The profile and the orientation from the extended format's chunks; a file whose chunks
    // the demuxer cannot walk has decoded already, so it simply carries none.
    void ReadChunks(const WebPData& data, TPixelGraphic& graphic)
    {
        TDemux demux { WebPDemux(&data) };
        if (!demux.demux)
            return;
        const std::uint32_t flags = WebPDemuxGetI(demux.demux, WEBP_FF_FORMAT_FLAGS);
        WebPChunkIterator chunk;
        if ((flags & ICCP_FLAG) && WebPDemuxGetChunk(demux.demux, "ICCP", 1, &chunk)) {
            TColourDescription colours;
            colours.icc.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
            graphic.SetColours(std::move(colours));
            WebPDemuxReleaseChunkIterator(&chunk);
        }
        if ((flags & EXIF_FLAG) && WebPDemuxGetChunk(demux.demux, "EXIF", 1, &chunk)) {
            graphic.SetStoredOrientation(
                ExifBlockOrientation(std::span(chunk.chunk.bytes, chunk.chunk.size)));
            WebPDemuxReleaseChunkIterator(&chunk);
        }
    }

    // The first frame as the animation decoder composes it on its canvas (transparent where the
    // frame does not cover it).
    void DecodeFirstFrame(const WebPData& data, TPixelGraphic& graphic)
    {
        WebPAnimDecoderOptions options;
        if (!WebPAnimDecoderOptionsInit(&options))
            Fail(TCode::PhotoUndecodable);
        options.color_mode = MODE_BGRA;
        options.use_threads = 0;
        TAnimDecoder anim { WebPAnimDecoderNew(&data, &options) };
        if (!anim.decoder)
            Fail(TCode::PhotoDamaged);
        WebPAnimInfo info;
        if (!WebPAnimDecoderGetInfo(anim.decoder, &info)
            || info.canvas_width != static_cast<std::uint32_t>(graphic.Width())
            || info.canvas_height != static_cast<std::uint32_t>(graphic.Height()))
            Fail(TCode::PhotoDamaged);
        std::uint8_t* frame = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderHasMoreFrames(anim.decoder)
            || !WebPAnimDecoderGetNext(anim.decoder, &frame, &timestamp) || !frame)
            Fail(TCode::PhotoDamaged);
        std::memcpy(graphic.Pixels(), frame, graphic.RowBytes() * graphic.Height());
    }

} // namespace

std::unique_ptr<TGraphic> ReadWebp(TSharedBytes bytes)
{
    const std::span<const std::uint8_t> view = bytes.view;
    if (view.size() < 12 || std::memcmp(view.data(), "RIFF", 4) != 0
        || std::memcmp(view.data() + 8, "WEBP", 4) != 0)
        Fail(TCode::PhotoNotFormat);
    WebPBitstreamFeatures features;
    const VP8StatusCode status = WebPGetFeatures(view.data(), view.size(), &features);
    if (status != VP8_STATUS_OK)
        FailWith(status);
    // The declared canvas, checked before anything is decoded or reserved.
    CheckPhotoSize(features.width, features.height, kFormat);
    const bool alpha = features.has_alpha || features.has_animation;
    const WebPData data { view.data(), view.size() };
    auto graphic = std::make_unique<TPixelGraphic>(TGraphicKind::Webp, features.width,
        features.height, alpha ? 4 : 3, TAlphaKind::Straight, std::move(bytes), TSampleOrder::Bgr);
    if (features.has_animation) {
        DecodeFirstFrame(data, *graphic);
    } else {
        const std::size_t size = graphic->RowBytes() * graphic->Height();
        const int stride = static_cast<int>(graphic->RowBytes());
        const std::uint8_t* done = alpha
            ? WebPDecodeBGRAInto(data.bytes, data.size, graphic->Pixels(), size, stride)
            : WebPDecodeBGRInto(data.bytes, data.size, graphic->Pixels(), size, stride);
        if (!done)
            Fail(TCode::PhotoDamaged);
    }
    ReadChunks(data, *graphic);
    return graphic;
}

TBytes EncodeWebpBytes(const TBitmap& bitmap, int quality)
{
    const int w = bitmap.Width();
    const int h = bitmap.Height();
    if (w > WEBP_MAX_DIMENSION || h > WEBP_MAX_DIMENSION || w < 1 || h < 1)
        throw EError(TCode::WebpTooLargeToWrite, {},
            { std::to_string(w), std::to_string(h), std::to_string(WEBP_MAX_DIMENSION) });
    // Marked transparent, the transparent colour becomes alpha 0 and everything else opaque;
    // libwebp keeps alpha losslessly at its defaults, so the mark survives the lossy colours.
    const bool keyed = bitmap.Transparent();
    const TRgb key = keyed ? bitmap.TransparentColor() : TRgb {};
    const int channels = keyed ? 4 : 3;
    const std::size_t stride = static_cast<std::size_t>(w) * channels;
    std::vector<std::uint8_t> pixels(stride * static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y) {
        std::uint8_t* out = pixels.data() + stride * static_cast<std::size_t>(y);
        for (int x = 0; x < w; ++x, out += channels) {
            const TRgb c = bitmap.PixelColor(x, y);
            out[0] = c.r;
            out[1] = c.g;
            out[2] = c.b;
            if (keyed)
                out[3] = c == key ? 0 : 255;
        }
    }
    std::uint8_t* encoded = nullptr;
    const float factor = static_cast<float>(quality);
    const std::size_t size = keyed
        ? WebPEncodeRGBA(pixels.data(), w, h, static_cast<int>(stride), factor, &encoded)
        : WebPEncodeRGB(pixels.data(), w, h, static_cast<int>(stride), factor, &encoded);
    if (size == 0 || !encoded) {
        WebPFree(encoded);
        throw EError(TCode::WebpEncodeFailed);
    }
    TBytes out(encoded, encoded + size);
    WebPFree(encoded);
    return out;
}

} // namespace parvula::imaging
