// The format table and the look-ups on it.
#include "imaging/formats.h"

#include <algorithm>
#include <array>
#include <vector>

#include "imaging/imagefiles_internal.h"
#include "imaging/imagefiles_pixels.h"

namespace parvula::imaging {

namespace {

    std::string Lower(std::string_view text)
    {
        std::string lower(text);
        // Only A to Z: an extension with other letters matches no row, as before the table.
        for (char& c : lower)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return lower;
    }

    constexpr std::array<std::string_view, 1> kBmp { "bmp" };
    constexpr std::array<std::string_view, 2> kJpeg { "jpg", "jpeg" };
    constexpr std::array<std::string_view, 1> kGif { "gif" };
    constexpr std::array<std::string_view, 1> kPng { "png" };
    constexpr std::array<std::string_view, 1> kIco { "ico" };
    constexpr std::array<std::string_view, 2> kHeif { "heic", "heif" };
    constexpr std::array<std::string_view, 1> kAvif { "avif" };
    constexpr std::array<std::string_view, 1> kWebp { "webp" };
    constexpr std::array<std::string_view, 2> kTiff { "tif", "tiff" };

    std::unique_ptr<TGraphic> ReadBmpGraphic(TSharedBytes bytes)
    {
        return std::make_unique<TBitmapGraphic>(DecodeBmp(bytes.view));
    }
    std::unique_ptr<TGraphic> ReadJpegGraphic(TSharedBytes bytes)
    {
        return ReadJpeg(std::move(bytes));
    }
    std::unique_ptr<TGraphic> ReadGifGraphic(TSharedBytes bytes) { return ReadGif(bytes.view); }
    std::unique_ptr<TGraphic> ReadPngGraphic(TSharedBytes bytes)
    {
        return ReadPng(std::move(bytes));
    }
    std::unique_ptr<TGraphic> ReadIcoGraphic(TSharedBytes bytes)
    {
        return ReadIco(std::move(bytes));
    }

    std::optional<TEncodedFile> EncodeBmpFile(
        TPicture& picture, const std::filesystem::path& path, int)
    {
        return EncodeBmp(picture, path);
    }
    std::optional<TEncodedFile> EncodeGifFile(
        TPicture& picture, const std::filesystem::path& path, int)
    {
        return EncodeGif(picture, path);
    }
    std::optional<TEncodedFile> EncodePngFile(
        TPicture& picture, const std::filesystem::path& path, int)
    {
        return EncodePng(picture, path);
    }

    // The order of the accepted-extensions list the file list shows and tests.
    const std::array<TFormat, 9> kFormats { {
        // kind, extensions, output name and list place, quality, transparency, decodes in place,
        // reader, writer, rows, written as
        { TGraphicKind::Bitmap, kBmp, "bmp", 1, false, false, false, ReadBmpGraphic, EncodeBmpFile,
            nullptr },
        { TGraphicKind::Jpeg, kJpeg, "jpg", 2, true, false, true, ReadJpegGraphic, EncodeJpeg,
            OpenJpegRows },
        { TGraphicKind::Gif, kGif, "gif", 4, false, true, false, ReadGifGraphic, EncodeGifFile,
            OpenGifRows },
        { TGraphicKind::Png, kPng, "png", 3, false, true, true, ReadPngGraphic, EncodePngFile,
            OpenPngRows },
        { TGraphicKind::Icon, kIco, "", 0, false, false, false, ReadIcoGraphic, nullptr, nullptr },
        // Photos from phones and cameras are written as JPEG, scans (often with alpha or
        // line art) as lossless PNG.
        { TGraphicKind::Heif, kHeif, "", 0, false, false, false, ReadHeif, nullptr, OpenPixelRows,
            "jpg" },
        { TGraphicKind::Avif, kAvif, "", 0, false, false, false, ReadAvif, nullptr, OpenPixelRows,
            "jpg" },
        { TGraphicKind::Webp, kWebp, "webp", 5, true, true, false, ReadWebp, EncodeWebp,
            OpenPixelRows },
        { TGraphicKind::Tiff, kTiff, "", 0, false, false, false, ReadTiff, nullptr, OpenPixelRows,
            "png" },
    } };

} // namespace

std::span<const TFormat> Formats() { return kFormats; }

const TFormat* FormatByExtension(std::string_view extension)
{
    const std::string lower = Lower(extension);
    for (const TFormat& format : kFormats)
        if (std::find(format.extensions.begin(), format.extensions.end(), lower)
            != format.extensions.end())
            return &format;
    return nullptr;
}

std::string ExtensionOf(const std::filesystem::path& path)
{
    const std::u8string text = path.filename().u8string();
    const std::string name(text.begin(), text.end());
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

const TFormat* FormatOfPath(const std::filesystem::path& path)
{
    return FormatByExtension(ExtensionOf(path));
}

const TFormat* FormatByOutputName(std::string_view name)
{
    for (const TFormat& format : kFormats)
        if (format.Writable() && format.outputName == name)
            return &format;
    return nullptr;
}

const TFormat* FormatOfKind(TGraphicKind kind)
{
    for (const TFormat& format : kFormats)
        if (format.kind == kind)
            return &format;
    return nullptr;
}

std::string AcceptedExtensions()
{
    std::string list;
    for (const TFormat& format : kFormats)
        for (const std::string_view extension : format.extensions) {
            if (!list.empty())
                list += ',';
            list += extension;
        }
    return list;
}

std::vector<std::string> OutputFormatNames()
{
    std::vector<const TFormat*> written;
    for (const TFormat& format : kFormats)
        if (format.Writable())
            written.push_back(&format);
    std::sort(written.begin(), written.end(),
        [](const TFormat* a, const TFormat* b) { return a->outputListPlace < b->outputListPlace; });
    std::vector<std::string> names;
    for (const TFormat* format : written)
        names.emplace_back(format->outputName);
    return names;
}

std::string OutputNameOfExtension(std::string_view extension)
{
    for (const TFormat& format : kFormats)
        if (std::find(format.extensions.begin(), format.extensions.end(), extension)
            != format.extensions.end()) {
            if (format.Writable())
                return std::string(format.outputName);
            if (!format.writtenAs.empty())
                return std::string(format.writtenAs);
        }
    return std::string(extension);
}

} // namespace parvula::imaging
