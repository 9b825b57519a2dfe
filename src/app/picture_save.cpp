// The picture writers on the encoders and the platform's atomic replacement.
#include "app/picture_save.h"

#include <optional>
#include <string>

#include "imaging/formats.h"
#include "platform/platform_publish.h"

namespace parvula::app {

namespace {

    bool Write(const std::optional<imaging::TEncodedFile>& file)
    {
        if (!file)
            return false;
        try {
            platform::ReplaceFile(file->path, file->bytes);
        } catch (const errors::EError& e) {
            // The platform's words for what went wrong, in the writers' own message.
            throw errors::EError(errors::TCode::FileCannotWrite, errors::PathText(file->path),
                { e.Details().empty() ? std::string() : e.Details().front() });
        }
        return true;
    }

} // namespace

bool SaveByExtension(imaging::TPicture& picture, const std::filesystem::path& path)
{
    if (Write(imaging::EncodeByExtension(picture, path)))
        return true;
    // Nothing to write means an empty picture: a format's writer answers false, while an empty
    // picture "writing itself" under any other extension counts as done.
    const imaging::TFormat* format = imaging::FormatOfPath(path);
    return !(format && format->Writable());
}

bool SaveAsJpeg(imaging::TPicture& picture, const std::filesystem::path& path, int quality)
{
    return Write(imaging::EncodeJpeg(picture, path, quality));
}

bool SaveAsPng(imaging::TPicture& picture, const std::filesystem::path& path)
{
    return Write(imaging::EncodePng(picture, path));
}

bool SaveAsGif(imaging::TPicture& picture, const std::filesystem::path& path)
{
    return Write(imaging::EncodeGif(picture, path));
}

bool SaveAsBmp(imaging::TPicture& picture, const std::filesystem::path& path)
{
    if (path.empty()) {
        imaging::ConvertPictureToBitmap(picture);
        return true;
    }
    return Write(imaging::EncodeBmp(picture, path));
}

} // namespace parvula::app
