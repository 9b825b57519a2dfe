// Resource limits of the image readers: checked before memory is taken, so a hostile header of a
// few bytes cannot make us reserve gigabytes.
#pragma once

#include <cstdint>

namespace parvula::imaging {

// Pixels of one image or one GIF frame.
inline constexpr std::uint64_t MaxImagePixels = 128ull * 1024 * 1024;
// Pixels on either side of an image or frame.
inline constexpr std::int64_t MaxImageSide = 65535;
// Bytes of one image file; larger files are refused before they are read.
inline constexpr std::uint64_t MaxFileBytes = 512ull * 1024 * 1024;
// libjpeg's working memory (jpeg_memory_mgr::max_memory_to_use) and progressive scans.
inline constexpr long MaxJpegMemory = 1024l * 1024 * 1024;
inline constexpr int MaxJpegScans = 500;
// Frames of a GIF, and the pixels of all its frames together.
inline constexpr int MaxGifFrames = 10000;
inline constexpr std::uint64_t MaxGifTotalPixels = 256ull * 1024 * 1024;
// The largest single buffer libtiff may take (one strip or tile): a whole picture within the
// pixel limit in one strip of four 16-bit samples.
inline constexpr long long MaxTiffSingleAllocation = 1024ll * 1024 * 1024;
// Directory entries of an icon file.
inline constexpr int MaxIconEntries = 1024;

} // namespace parvula::imaging
