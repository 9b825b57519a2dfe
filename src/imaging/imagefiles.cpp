// TPicture, loading by extension, the conversion to a bitmap and the encoders.
#include "imaging/imagefiles.h"

#include <algorithm>
#include <fstream>

#include "imaging/formats.h"
#include "imaging/imagefiles_internal.h"
#include "imaging/limits.h"

namespace parvula::imaging {

void DrawBitmapOnto(const TBitmap& source, TBitmap& target)
{
    const int w = std::min(source.Width(), target.Width());
    const int h = std::min(source.Height(), target.Height());
    const bool keyed = source.Transparent() && source.Width() > 0 && source.Height() > 0;
    const TRgb key = keyed ? source.TransparentColor() : TRgb {};
    const int bytes = target.BitsPerPixel() / 8;
    for (int y = 0; y < h; ++y) {
        std::uint8_t* dst = target.ScanLine(y);
        for (int x = 0; x < w; ++x, dst += bytes) {
            const TRgb c = source.PixelColor(x, y);
            if (keyed && c == key)
                continue;
            dst[0] = c.b;
            dst[1] = c.g;
            dst[2] = c.r;
        }
    }
}

TPicture::TPicture() = default;
TPicture::~TPicture() = default;
TPicture::TPicture(TPicture&&) noexcept = default;
TPicture& TPicture::operator=(TPicture&&) noexcept = default;

TGraphicKind TPicture::Kind() const { return m_graphic ? m_graphic->Kind() : TGraphicKind::Empty; }

int TPicture::Width() const { return m_graphic ? m_graphic->Width() : 0; }

int TPicture::Height() const { return m_graphic ? m_graphic->Height() : 0; }

TBitmap* TPicture::Bitmap()
{
    if (Kind() != TGraphicKind::Bitmap)
        return nullptr;
    return &static_cast<TBitmapGraphic*>(m_graphic.get())->Bitmap();
}

const TBitmap* TPicture::Bitmap() const
{
    if (Kind() != TGraphicKind::Bitmap)
        return nullptr;
    return &static_cast<const TBitmapGraphic*>(m_graphic.get())->Bitmap();
}

void TPicture::Assign(TBitmap bitmap)
{
    m_graphic = std::make_unique<TBitmapGraphic>(std::move(bitmap));
}

void TPicture::SetTransparentMark(bool on)
{
    if (TBitmap* bitmap = Bitmap())
        bitmap->SetTransparent(on);
}

void TPicture::KeepStoredColours()
{
    if (m_graphic)
        m_graphic->KeepStoredColours();
}

void TPicture::DrawOnto(TBitmap& target) const
{
    if (!m_graphic)
        return;
    if (target.BitsPerPixel() != 24 && target.BitsPerPixel() != 32)
        throw EError(TCode::DrawTargetDepth);
    m_graphic->DrawOnto(target);
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) { m_graphic = std::move(graphic); }

namespace {

    using errors::PathText;

    EError TooLargeError(const std::filesystem::path& path)
    {
        return EError(
            TCode::FileTooLarge, PathText(path), { std::to_string(MaxFileBytes / (1024 * 1024)) });
    }

    TBytes ReadWholeFile(const std::filesystem::path& path)
    {
        std::error_code ec;
        const auto status = std::filesystem::status(path, ec);
        if (ec || !std::filesystem::exists(status))
            throw EError(TCode::FileNotFound, PathText(path));
        if (!std::filesystem::is_regular_file(status))
            throw EError(TCode::NotAFile, PathText(path));
        const std::uintmax_t size = std::filesystem::file_size(path, ec);
        if (!ec && size > MaxFileBytes)
            throw TooLargeError(path);
        std::ifstream in(path, std::ios::binary);
        if (!in)
            throw EError(TCode::FileCannotOpen, PathText(path));
        // Straight into place in one read for the size the file has; then on in blocks, in case
        // it grows while we read it, stopping at the limit.
        TBytes bytes(ec ? 0 : static_cast<std::size_t>(size));
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        bytes.resize(static_cast<std::size_t>(in.gcount()));
        std::vector<char> block(1 << 16);
        while (in) {
            in.read(block.data(), static_cast<std::streamsize>(block.size()));
            const std::streamsize got = in.gcount();
            bytes.insert(bytes.end(), block.begin(), block.begin() + got);
            if (bytes.size() > MaxFileBytes)
                throw TooLargeError(path);
        }
        if (in.bad())
            throw EError(TCode::FileCannotRead, PathText(path));
        return bytes;
    }

    // The path with the extension its format is written under (".jpeg" becomes ".jpg").
    std::filesystem::path WithOutputExtension(std::filesystem::path path, TGraphicKind kind)
    {
        path.replace_extension("." + std::string(FormatOfKind(kind)->outputName));
        return path;
    }

    // The bitmap a picture of another kind converts to: the display format, white, the graphic
    // drawn on it. An empty picture gives a white 200 x 40 bitmap.
    TBitmap ConvertedBitmap(const TPicture& picture)
    {
        if (picture.Empty()) {
            TBitmap white(200, 40, DisplayBitsPerPixel);
            white.Fill(TRgb { 255, 255, 255 });
            return white;
        }
        TBitmap bitmap(picture.Width(), picture.Height(), DisplayBitsPerPixel);
        bitmap.Fill(TRgb { 255, 255, 255 });
        picture.DrawOnto(bitmap);
        return bitmap;
    }

    // Makes the picture hold a bitmap (the conversion) and returns it.
    TBitmap& EnsureBitmap(TPicture& picture)
    {
        if (!picture.Bitmap())
            picture.Assign(ConvertedBitmap(picture));
        return *picture.Bitmap();
    }

} // namespace

TBitmap ConvertToBitmap(const TPicture& picture) { return ConvertedBitmap(picture); }

void ConvertPictureToBitmap(TPicture& picture) { EnsureBitmap(picture); }

TSharedBytes TSharedBytes::Own(TBytes bytes)
{
    auto owned = std::make_shared<const TBytes>(std::move(bytes));
    const std::span<const std::uint8_t> view(*owned);
    return TSharedBytes { std::move(owned), view, {} };
}

namespace {

    // Known before the file is read, so an unknown extension is reported as such.
    const TFormat& FormatToRead(const std::filesystem::path& path)
    {
        const std::string extension = ExtensionOf(path);
        if (const TFormat* format = FormatByExtension(extension))
            return *format;
        throw EError(TCode::UnknownExtension, errors::PathText(path), { extension });
    }

} // namespace

namespace {

    // A reader knows only the bytes: its error is given the file's path here, which the messages
    // that name the file show.
    std::unique_ptr<TGraphic> ReadNamed(
        const TFormat& format, TSharedBytes bytes, const std::filesystem::path& path)
    {
        try {
            return format.read(std::move(bytes));
        } catch (const EError& e) {
            if (!e.Path().empty())
                throw;
            throw EError(e.Code(), errors::PathText(path), e.Details());
        }
    }

} // namespace

void LoadFromFile(TPicture& picture, const std::filesystem::path& path)
{
    const TFormat& format = FormatToRead(path);
    picture.SetGraphic(ReadNamed(format, TSharedBytes::Own(ReadWholeFile(path)), path));
}

void LoadFromBytes(TPicture& picture, const std::filesystem::path& path,
    std::shared_ptr<const void> owner, std::span<const std::uint8_t> bytes,
    std::function<void(std::size_t)> letGo)
{
    const TFormat& format = FormatToRead(path);
    if (bytes.size() > MaxFileBytes)
        throw TooLargeError(path);
    // Only a graphic that decodes in place may hold on to memory that is not its own.
    if (!format.decodesInPlace)
        picture.SetGraphic(
            ReadNamed(format, TSharedBytes::Own(TBytes(bytes.begin(), bytes.end())), path));
    else
        picture.SetGraphic(
            ReadNamed(format, TSharedBytes { std::move(owner), bytes, std::move(letGo) }, path));
}

std::unique_ptr<TRowReader> OpenRowReader(const TPicture& picture)
{
    const TFormat* format = FormatOfKind(picture.Kind());
    if (!format || !format->openRows)
        return nullptr;
    return format->openRows(*picture.Graphic());
}

std::optional<TEncodedFile> EncodeBmp(TPicture& picture, const std::filesystem::path& path)
{
    const std::filesystem::path target = WithOutputExtension(path, TGraphicKind::Bitmap);
    if (const TBitmap* bitmap = picture.Bitmap())
        return TEncodedFile { target, EncodeBmpBytes(*bitmap) };
    // The picture itself stays as it is; only the file holds the converted pixels.
    return TEncodedFile { target, EncodeBmpBytes(ConvertedBitmap(picture)) };
}

std::optional<TEncodedFile> EncodeJpeg(
    TPicture& picture, const std::filesystem::path& path, int quality)
{
    if (picture.Empty())
        return std::nullopt;
    if (quality < 1 || quality > 100)
        quality = 100;
    const std::filesystem::path target = WithOutputExtension(path, TGraphicKind::Jpeg);
    if (picture.Kind() == TGraphicKind::Jpeg && quality == 100)
        return TEncodedFile { target, picture.Graphic()->EncodeSelf() };
    TBitmap& bitmap = EnsureBitmap(picture);
    return TEncodedFile { target, EncodeJpegBytes(bitmap, quality) };
}

std::optional<TEncodedFile> EncodePng(TPicture& picture, const std::filesystem::path& path)
{
    if (picture.Empty())
        return std::nullopt;
    const std::filesystem::path target = WithOutputExtension(path, TGraphicKind::Png);
    if (picture.Kind() == TGraphicKind::Png)
        return TEncodedFile { target, picture.Graphic()->EncodeSelf() };
    return TEncodedFile { target, EncodePngBytes(EnsureBitmap(picture)) };
}

std::optional<TEncodedFile> EncodeGif(TPicture& picture, const std::filesystem::path& path)
{
    if (picture.Empty())
        return std::nullopt;
    const std::filesystem::path target = WithOutputExtension(path, TGraphicKind::Gif);
    // A PNG image converts like every other kind: transparency ends up on white.
    TBitmap& bitmap = EnsureBitmap(picture);
    if (!bitmap.IsPaletted())
        bitmap.ConvertTo24();
    return TEncodedFile { target, EncodeGifBytes(bitmap) };
}

std::optional<TEncodedFile> EncodeWebp(
    TPicture& picture, const std::filesystem::path& path, int quality)
{
    if (picture.Empty())
        return std::nullopt;
    if (quality < 1 || quality > 100)
        quality = 100;
    const std::filesystem::path target = WithOutputExtension(path, TGraphicKind::Webp);
    // As for a JPEG: only at quality 100 is a WebP taken over byte for byte.
    if (picture.Kind() == TGraphicKind::Webp && quality == 100)
        return TEncodedFile { target, picture.Graphic()->EncodeSelf() };
    return TEncodedFile { target, EncodeWebpBytes(EnsureBitmap(picture), quality) };
}

std::optional<TEncodedFile> EncodeByExtension(TPicture& picture, const std::filesystem::path& path)
{
    // Re-encoded only when the picture's kind differs from the one the extension names.
    const TFormat* format = FormatOfPath(path);
    if (format && format->Writable() && picture.Kind() != format->kind)
        return format->encode(picture, path, 100);
    if (picture.Empty())
        return std::nullopt;
    return TEncodedFile { path, picture.Graphic()->EncodeSelf() };
}

} // namespace parvula::imaging
