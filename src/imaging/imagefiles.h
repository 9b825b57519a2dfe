// The Picture (empty, or one graphic of its kinds), loading by extension and the encoders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "errors/errors.h"
#include "imaging/imagefiles_bitmap.h"

namespace parvula::imaging {

using errors::EError;
using errors::TCode;
// Every reader, writer and codec failure: the program's one error type.
using EImageError = errors::EError;

enum class TGraphicKind { Empty, Bitmap, Jpeg, Png, Gif, Icon, Heif, Avif, Webp, Tiff };

class TGraphic; // one graphic of a kind; defined by the format files

class TPicture {
public:
    TPicture();
    ~TPicture();
    TPicture(TPicture&&) noexcept;
    TPicture& operator=(TPicture&&) noexcept;

    TGraphicKind Kind() const;
    bool Empty() const { return Kind() == TGraphicKind::Empty; }
    int Width() const;
    int Height() const;

    // The bitmap graphic, or nullptr when the picture holds another kind.
    TBitmap* Bitmap();
    const TBitmap* Bitmap() const;
    // Replaces the graphic by a bitmap.
    void Assign(TBitmap bitmap);
    // Switches the transparency mark of a bitmap graphic; no effect on other kinds.
    void SetTransparentMark(bool on);
    // From now on the graphic is decoded with its numbers as stored, without the profile its
    // decoder would apply on the way (a CMYK JPEG's); no effect on other kinds.
    void KeepStoredColours();

    // Draws the graphic at the top-left corner of a 24-bit bitmap by the drawing rules:
    // partial alpha blended over what lies beneath, transparent pixels left untouched.
    void DrawOnto(TBitmap& target) const;

    TGraphic* Graphic() const { return m_graphic.get(); }
    void SetGraphic(std::unique_ptr<TGraphic> graphic);

private:
    std::unique_ptr<TGraphic> m_graphic;
};

// The encoded bytes of one output file and the path the encoder chose for it (encoders replace
// the extension: ".jpeg" is written as ".jpg"). The caller publishes the file.
struct TEncodedFile {
    std::filesystem::path path;
    std::vector<std::uint8_t> bytes;
};

// The pixel rows of a picture as drawn on white, read once from the top, for a caller that does
// not need the whole picture at once. ReadRow fills width * 3 bytes (blue, green, red).
class TRowReader {
public:
    virtual ~TRowReader() = default;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual void ReadRow(std::uint8_t* bgr) = 0;
};

// A row reader for a picture whose rows can be decoded one after another (a JPEG image, a PNG
// image, drawn on white as it decodes; an interlaced PNG is decoded whole when the reader is
// opened; a GIF's first frame, a photo decoded by its library), drawn on white; nullptr for every
// other picture. Decoding errors are thrown by ReadRow (or by the
// opening of an interlaced PNG), with the texts of a whole decode. The picture must outlive the
// reader.
std::unique_ptr<TRowReader> OpenRowReader(const TPicture& picture);

// Loading by extension; on failure the picture keeps its previous graphic.
void LoadFromFile(TPicture& picture, const std::filesystem::path& path);
// The same from a file's bytes already in memory (a mapped file), path naming the file: a JPEG
// or a PNG keeps owner and decodes from the bytes whenever it is drawn, written or resampled;
// the other kinds decode them at once (an icon keeps a copy). Bytes that change under such a
// picture give a wrong picture or an EImageError, never a write out of bounds. letGo, when set,
// is told the offset before which a streaming decoder is done with the bytes for now (a mapped
// file then lets those pages go).
void LoadFromBytes(TPicture& picture, const std::filesystem::path& path,
    std::shared_ptr<const void> owner, std::span<const std::uint8_t> bytes,
    std::function<void(std::size_t)> letGo = {});

// Encoders: nullopt for an empty picture (the writer's false result).
std::optional<TEncodedFile> EncodeByExtension(TPicture& picture, const std::filesystem::path& path);
std::optional<TEncodedFile> EncodeJpeg(
    TPicture& picture, const std::filesystem::path& path, int quality);
std::optional<TEncodedFile> EncodePng(TPicture& picture, const std::filesystem::path& path);
std::optional<TEncodedFile> EncodeGif(TPicture& picture, const std::filesystem::path& path);
std::optional<TEncodedFile> EncodeBmp(TPicture& picture, const std::filesystem::path& path);
// Lossy WebP at the quality (10 to 100; outside 1 to 100 it is 100); a bitmap whose transparency
// mark is on gets alpha 0 where it has the transparent colour.
std::optional<TEncodedFile> EncodeWebp(
    TPicture& picture, const std::filesystem::path& path, int quality);

// The conversion to a bitmap: a picture of another kind then holds a bitmap of the display
// format, white, with its graphic drawn on it (an empty picture: white, 200 x 40). A bitmap
// stays as it is.
void ConvertPictureToBitmap(TPicture& picture);

} // namespace parvula::imaging
