// The orientation a camera records in a JPEG's EXIF data, and turning a picture upright by it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "imaging/imagefiles.h"

namespace parvula::imaging {

// The EXIF orientation tag of a JPEG file's bytes: 1 to 8, and 1 (as stored) when the file has
// no tag or its EXIF data is damaged. Reads only inside the bytes given.
int JpegOrientation(std::span<const std::uint8_t> bytes);
// The orientation tag of an EXIF block (a TIFF structure, with or without the "Exif\0\0" mark
// of a JPEG segment before it): 1 to 8, and 1 when it has none or is damaged.
int ExifBlockOrientation(std::span<const std::uint8_t> exif);
// The orientation of a picture: its JPEG tag for a JPEG image, the tag a WebP's EXIF chunk or a
// TIFF's first directory records, 1 for every other kind.
int PictureOrientation(const TPicture& picture);

// The picture's width and height as a viewer shows them under the orientation.
void UprightSize(int orientation, int width, int height, int& uprightWidth, int& uprightHeight);

// The stored pixel (sx, sy) of a width x height picture that shows at (x, y) once it is turned
// upright by the orientation.
void StoredPosition(int orientation, int width, int height, int x, int y, int& sx, int& sy);

// The bitmap turned and mirrored so that it shows as a viewer shows its source (orientation 2
// to 8); a new 24-bit bitmap. Orientation 1 and unknown values give an unchanged copy.
TBitmap Upright(const TBitmap& source, int orientation);
// Replaces the picture by its upright view drawn on white (a 24-bit bitmap) when the
// orientation is 2 to 8; otherwise leaves it exactly as it is. A picture whose rows stream (a
// JPEG) is turned row by row as it decodes, so only the upright bitmap is held.
void TurnUpright(TPicture& picture, int orientation);

} // namespace parvula::imaging
