// The picture writers: each encodes with the format's encoder and replaces the file under the
// path the encoder chose (".jpeg" is written as ".jpg") through the platform's atomic
// replacement, so a failed write never leaves a partial file and never destroys the old one.
#pragma once

#include <filesystem>

#include "imaging/imagefiles.h"

namespace parvula::app {

// The format the extension names when the picture is of another kind, else the picture's own
// kind's bytes under the path. False only for an empty picture that a format's writer would have
// written.
bool SaveByExtension(imaging::TPicture& picture, const std::filesystem::path& path);
// False for an empty picture, which writes nothing.
bool SaveAsJpeg(imaging::TPicture& picture, const std::filesystem::path& path, int quality);
bool SaveAsPng(imaging::TPicture& picture, const std::filesystem::path& path);
bool SaveAsGif(imaging::TPicture& picture, const std::filesystem::path& path);
// With an empty path: converts the picture to a bitmap instead of writing. Always true.
bool SaveAsBmp(imaging::TPicture& picture, const std::filesystem::path& path);

} // namespace parvula::app
