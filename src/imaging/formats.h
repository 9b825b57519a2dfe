// The one table of image file formats: what each is read from, what it is written as, how it is
// decoded. Everything that needs to know a format asks here; a new format is a row and a codec.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/imagefiles.h"

namespace parvula::imaging {

struct TSharedBytes;

struct TFormat {
    TGraphicKind kind;
    // Lower-case extensions without the dot that select this format's reader, the output name
    // first when the format is written.
    std::span<const std::string_view> extensions;
    // The name it is written under (the extension of its output files); empty when it is read
    // only.
    std::string_view outputName;
    // Where it stands in the window's list of output formats (after the empty item, 1 first);
    // 0 for a format that is not written.
    int outputListPlace;
    // Its writer takes the run's quality (a lossy format); it keeps a picture of its own kind
    // byte for byte only at quality 100.
    bool takesQuality;
    // Its writer honours a bitmap's transparency mark, so the tint marks its output transparent.
    bool writesTransparency;
    // Its graphic decodes from the file's bytes where they lie (a mapped file) whenever it is
    // drawn, instead of taking them in at once.
    bool decodesInPlace;

    // A graphic from the file's bytes; throws EImageError for a file it cannot read. The bytes
    // stay valid as long as their owner lives.
    std::unique_ptr<TGraphic> (*read)(TSharedBytes bytes);
    // The encoder for a picture of any kind under path (nullopt for an empty picture); null for
    // a format that is not written. Quality matters to lossy formats only.
    std::optional<TEncodedFile> (*encode)(
        TPicture& picture, const std::filesystem::path& path, int quality);
    // Rows for the resampler, handed over one after another while they are decoded, from a
    // graphic of this kind; null when its rows do not stream.
    std::unique_ptr<TRowReader> (*openRows)(const TGraphic& graphic);
    // For a photo format that is read but not written: the output name its photos are written
    // as when the run keeps "the source's own format" (a HEIC photo becomes a JPEG). Empty keeps
    // the source's extension, which an icon has always done.
    std::string_view writtenAs = {};

    bool Writable() const { return encode != nullptr; }
    bool StreamsRows() const { return openRows != nullptr; }
};

// Every format, in the order of the accepted-extensions list.
std::span<const TFormat> Formats();

// The format whose reader an extension (without dot, any letter case) selects, or nullptr.
const TFormat* FormatByExtension(std::string_view extension);
// The format of a path's extension (after the file name's last "."), or nullptr.
const TFormat* FormatOfPath(const std::filesystem::path& path);
// The format written under an output name ("jpg"), or nullptr.
const TFormat* FormatByOutputName(std::string_view name);
const TFormat* FormatOfKind(TGraphicKind kind);

// The part of a path's file name after its last ".", as written; empty when there is none.
std::string ExtensionOf(const std::filesystem::path& path);

// Every extension that is read, comma-separated in table order: "bmp,jpg,jpeg,…".
std::string AcceptedExtensions();
// The output names in the window's list order, without the empty item: "bmp", "jpg", ….
std::vector<std::string> OutputFormatNames();
// The output name an extension is written under ("jpeg" gives "jpg", "heic" the "jpg" its row
// names); the extension itself when no format reads it or its row names no output.
std::string OutputNameOfExtension(std::string_view extension);

} // namespace parvula::imaging
