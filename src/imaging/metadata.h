// The metadata of a source (EXIF, XMP, IPTC) carried over into the encoded bytes of its output.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace parvula::imaging {

// What an output carries of its source's metadata.
enum class TMetadataCopy {
    None, // what the writer writes, nothing added
    All, // EXIF, XMP and IPTC
    NoLocation, // the same without GPS data and the location fields of XMP and IPTC
};

// What the output's pixels are, beside the source's.
struct TMetadataOptions {
    TMetadataCopy copy = TMetadataCopy::None;
    // The picture was turned as its orientation says: the copy says orientation 1.
    bool turnedUpright = true;
    // The picture's numbers were converted from the source's colour profile to sRGB: the copy's
    // colour space then says sRGB, so no viewer reads the thumbnail as in the source's. A picture
    // left as stored (no profile, an unusable one, "Colours as stored") keeps what its tags say.
    bool convertedToSrgb = false;
};

// The output's bytes with the source's metadata, as options.copy says. Only JPEG, PNG and WebP
// outputs take metadata; every other output is returned as it is. In the copy the embedded EXIF
// thumbnail is dropped and the pixel sizes are the output's own. An output that is the source's
// own bytes keeps what it carries (its orientation and thumbnail still describe it), less the
// location for NoLocation.
// Metadata that cannot be read or written gives the output without it (the run goes on); only
// a location that cannot be removed from the source's own bytes throws EError
// (MetadataLocationKept, naming sourcePath), since writing them would hand it on.
std::vector<std::uint8_t> WithMetadata(std::span<const std::uint8_t> source,
    std::vector<std::uint8_t> output, const TMetadataOptions& options,
    const std::filesystem::path& sourcePath);

} // namespace parvula::imaging
