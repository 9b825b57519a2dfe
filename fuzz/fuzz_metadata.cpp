// libFuzzer target: a source's metadata (EXIF, XMP, IPTC through exiv2) copied into a JPEG and
// a PNG output, and the location taken out of bytes written back as they are.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "imaging/imagefiles.h"
#include "imaging/metadata.h"

using namespace parvula::imaging;

namespace {

std::vector<std::uint8_t> Output(bool png)
{
    TPicture picture;
    picture.Assign(TBitmap(8, 6, 24));
    return png ? EncodePng(picture, "o.png")->bytes : EncodeJpeg(picture, "o.jpg", 80)->bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::vector<std::uint8_t> jpeg = Output(false);
    static const std::vector<std::uint8_t> png = Output(true);
    const std::span<const std::uint8_t> source(data, size);
    // Every way must end in bytes; only the location that cannot be taken out may throw.
    WithMetadata(source, jpeg, { TMetadataCopy::All }, "f.jpg");
    WithMetadata(source, png, { TMetadataCopy::NoLocation, false, false }, "f.jpg");
    try {
        WithMetadata(source, std::vector<std::uint8_t>(data, data + size),
            { TMetadataCopy::NoLocation }, "f.jpg");
    } catch (const EImageError&) {
    }
    return 0;
}
