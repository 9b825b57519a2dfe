// libFuzzer target: the whole way of one thumbnail as a worker makes it, on arbitrary bytes:
// loaded from memory by every format that takes them, its colour profile read, turned upright,
// fitted with a kernel (a JPEG streams its rows into the resampler), converted to sRGB, tinted
// now and then, encoded in an output format.
// The input is the file itself, so the corpus's pictures are seeds as they are; the box, the
// kernel and the output format come from its size and last byte.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "imaging/colourprofile.h"
#include "imaging/formats.h"
#include "imaging/imagefiles.h"
#include "imaging/orientation.h"
#include "imaging/pic1.h"
#include "imaging/picstretch1.h"

using namespace parvula::imaging;

namespace {

void MakeThumbnail(TPicture& picture, std::uint32_t choice)
{
    const TColourDescription colours = PictureColours(picture);
    const int orientation = PictureOrientation(picture);
    if (orientation != 1)
        TurnUpright(picture, orientation);
    TFitOptions fit;
    fit.maxWidth = static_cast<int>(choice % 48);
    fit.maxHeight = static_cast<int>((choice >> 6) % 48);
    fit.direction = (choice & 0x1000) ? TFitDirection::ShrinkOnly : TFitDirection::BothWays;
    // Mostly a kernel: only a kernel takes the streamed rows.
    fit.filter = static_cast<TFilter>(1 + (choice >> 13) % (KernelCount - 1));
    if ((choice & 0x70000) == 0)
        fit.filter = TFilter::None;
    FitToBox(picture, fit);
    if (TBitmap* bitmap = picture.Bitmap())
        (void)ConvertToSrgb(*bitmap, colours);
    if (choice & 0x80000) {
        TTintOptions tint;
        tint.colour = static_cast<std::int32_t>(choice & 0xFFFFFF);
        tint.tolerance = 30;
        tint.greyFirst = true;
        MonoTint(picture, tint);
        picture.SetTransparentMark(true);
    }
    const std::vector<std::string> outputs = OutputFormatNames();
    const std::string& output = outputs[(choice >> 20) % outputs.size()];
    const TFormat* format = FormatByOutputName(output);
    (void)format->encode(picture, "thumbnail." + output, 50 + static_cast<int>(choice >> 26));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::uint32_t choice = static_cast<std::uint32_t>(size) * 2654435761U
        ^ (size ? static_cast<std::uint32_t>(data[size - 1]) * 0x01010101U : 0U);
    // The bytes stay where libFuzzer put them, as a mapped file stays where it lies.
    const std::shared_ptr<const void> owner;
    const std::span<const std::uint8_t> bytes(data, size);
    for (const TFormat& format : Formats()) {
        TPicture picture;
        try {
            LoadFromBytes(picture, "input." + std::string(format.extensions.front()), owner, bytes);
        } catch (const EImageError&) {
            continue; // not this format's file
        }
        try {
            MakeThumbnail(picture, choice);
        } catch (const EImageError&) {
        }
    }
    return 0;
}
