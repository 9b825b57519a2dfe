// TPicture, loading by extension, the conversion to a bitmap and the writers.
#include "imaging/imagefiles.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <system_error>

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

void TPicture::DrawOnto(TBitmap& target) const
{
    if (!m_graphic)
        return;
    if (target.BitsPerPixel() != 24 && target.BitsPerPixel() != 32)
        throw EImageError("DrawOnto: the target must be a 24- or 32-bit bitmap");
    m_graphic->DrawOnto(target);
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) { m_graphic = std::move(graphic); }

namespace {

    std::string Lower(std::string text)
    {
        std::transform(text.begin(), text.end(), text.begin(),
            [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return text;
    }

    std::string PathText(const std::filesystem::path& path)
    {
        const std::u8string text = path.u8string();
        return std::string(text.begin(), text.end());
    }

    // The part of the file name after its last ".", as written; empty when there is none.
    std::string ExtensionOf(const std::filesystem::path& path)
    {
        const std::string name = PathText(path.filename());
        const std::size_t dot = name.rfind('.');
        return dot == std::string::npos ? std::string() : name.substr(dot + 1);
    }

    EImageError TooLargeError(const std::filesystem::path& path)
    {
        return EImageError("Die Datei \"" + PathText(path) + "\" überschreitet die Grenze von "
            + std::to_string(MaxFileBytes / (1024 * 1024)) + " MiB");
    }

    TBytes ReadWholeFile(const std::filesystem::path& path)
    {
        std::error_code ec;
        const auto status = std::filesystem::status(path, ec);
        if (ec || !std::filesystem::exists(status))
            throw EImageError("Die Datei \"" + PathText(path) + "\" wurde nicht gefunden");
        if (!std::filesystem::is_regular_file(status))
            throw EImageError("\"" + PathText(path) + "\" ist keine Datei");
        const std::uintmax_t size = std::filesystem::file_size(path, ec);
        if (!ec && size > MaxFileBytes)
            throw TooLargeError(path);
        std::ifstream in(path, std::ios::binary);
        if (!in)
            throw EImageError("Die Datei \"" + PathText(path) + "\" kann nicht geöffnet werden");
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
            throw EImageError("Die Datei \"" + PathText(path) + "\" kann nicht gelesen werden");
        return bytes;
    }

    std::filesystem::path WithExtension(std::filesystem::path path, const char* extension)
    {
        path.replace_extension(extension);
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

    std::string ErrnoText(int error) { return std::generic_category().message(error); }

    std::FILE* OpenExclusive(const std::filesystem::path& path)
    {
#ifdef _WIN32
        return _wfopen(path.c_str(), L"wbx");
#else
        return std::fopen(path.c_str(), "wbx");
#endif
    }

} // namespace

TBitmap ConvertToBitmap(const TPicture& picture) { return ConvertedBitmap(picture); }

void WriteFileReplacing(const TEncodedFile& file)
{
    const std::filesystem::path& target = file.path;
    const std::filesystem::path folder = target.parent_path();
    const std::string failure
        = "Die Datei \"" + PathText(target) + "\" kann nicht geschrieben werden: ";

    // A hidden temporary file beside the target, created exclusively so that no other file
    // (nor a link planted under the name) is ever written through.
    static std::atomic<unsigned> counter { 0 };
    std::random_device random;
    std::filesystem::path temp;
    std::FILE* out = nullptr;
    int lastError = 0;
    for (int attempt = 0; attempt < 100 && !out; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, ".%08x%04x.tmp", random(), counter++ & 0xFFFF);
        temp = folder / name;
        errno = 0;
        out = OpenExclusive(temp);
        lastError = errno;
        if (!out && lastError != EEXIST)
            break;
    }
    if (!out)
        throw EImageError(failure + ErrnoText(lastError));

    bool ok = true;
    int error = 0;
    if (!file.bytes.empty()
        && std::fwrite(file.bytes.data(), 1, file.bytes.size(), out) != file.bytes.size()) {
        ok = false;
        error = errno;
    }
    if (ok && std::fflush(out) != 0) {
        ok = false;
        error = errno;
    }
    // fclose reports the errors of the last buffered writes (a full disk on NFS, for one).
    if (std::fclose(out) != 0 && ok) {
        ok = false;
        error = errno;
    }
    std::error_code ec;
    if (ok) {
        std::filesystem::rename(temp, target, ec);
        if (!ec)
            return;
    }
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
    throw EImageError(failure + (ec ? ec.message() : ErrnoText(error)));
}

TSharedBytes TSharedBytes::Own(TBytes bytes)
{
    auto owned = std::make_shared<const TBytes>(std::move(bytes));
    const std::span<const std::uint8_t> view(*owned);
    return TSharedBytes { std::move(owned), view };
}

namespace {

    enum class TFileKind { Bmp, Jpeg, Png, Gif, Ico };

    // Known before the file is read, so an unknown extension is reported as such.
    TFileKind KindByExtension(const std::filesystem::path& path)
    {
        const std::string extension = ExtensionOf(path);
        const std::string kind = Lower(extension);
        if (kind == "bmp")
            return TFileKind::Bmp;
        if (kind == "jpg" || kind == "jpeg")
            return TFileKind::Jpeg;
        if (kind == "png")
            return TFileKind::Png;
        if (kind == "gif")
            return TFileKind::Gif;
        if (kind == "ico")
            return TFileKind::Ico;
        char text[300];
        std::snprintf(
            text, sizeof text, "Unbekannte Bilddateierweiterung (.%s)", extension.c_str());
        throw EImageError(text);
    }

    // A JPEG keeps the file's bytes (it is decoded when drawn or resampled); the other kinds
    // decode them at once, an icon keeping a copy of its own.
    std::unique_ptr<TGraphic> GraphicOf(TFileKind kind, TSharedBytes bytes)
    {
        switch (kind) {
        case TFileKind::Bmp:
            return std::make_unique<TBitmapGraphic>(DecodeBmp(bytes.view));
        case TFileKind::Jpeg:
            return ReadJpeg(std::move(bytes));
        case TFileKind::Png:
            return ReadPng(bytes.view);
        case TFileKind::Gif:
            return ReadGif(bytes.view);
        case TFileKind::Ico:
            break;
        }
        return ReadIco(TBytes(bytes.view.begin(), bytes.view.end()));
    }

} // namespace

void LoadFromFile(TPicture& picture, const std::filesystem::path& path)
{
    const TFileKind kind = KindByExtension(path);
    if (kind == TFileKind::Ico)
        picture.SetGraphic(ReadIco(ReadWholeFile(path)));
    else
        picture.SetGraphic(GraphicOf(kind, TSharedBytes::Own(ReadWholeFile(path))));
}

void LoadFromBytes(TPicture& picture, const std::filesystem::path& path,
    std::shared_ptr<const void> owner, std::span<const std::uint8_t> bytes)
{
    const TFileKind kind = KindByExtension(path);
    if (bytes.size() > MaxFileBytes)
        throw TooLargeError(path);
    picture.SetGraphic(GraphicOf(kind, TSharedBytes { std::move(owner), bytes }));
}

std::optional<TEncodedFile> EncodeBmp(TPicture& picture, const std::filesystem::path& path)
{
    const std::filesystem::path target = WithExtension(path, ".bmp");
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
    const std::filesystem::path target = WithExtension(path, ".jpg");
    if (picture.Kind() == TGraphicKind::Jpeg && quality == 100)
        return TEncodedFile { target, picture.Graphic()->EncodeSelf() };
    TBitmap& bitmap = EnsureBitmap(picture);
    return TEncodedFile { target, EncodeJpegBytes(bitmap, quality) };
}

std::optional<TEncodedFile> EncodePng(TPicture& picture, const std::filesystem::path& path)
{
    if (picture.Empty())
        return std::nullopt;
    const std::filesystem::path target = WithExtension(path, ".png");
    if (picture.Kind() == TGraphicKind::Png)
        return TEncodedFile { target, picture.Graphic()->EncodeSelf() };
    return TEncodedFile { target, EncodePngBytes(EnsureBitmap(picture)) };
}

std::optional<TEncodedFile> EncodeGif(TPicture& picture, const std::filesystem::path& path)
{
    if (picture.Empty())
        return std::nullopt;
    const std::filesystem::path target = WithExtension(path, ".gif");
    // A PNG image converts like every other kind: transparency ends up on white.
    TBitmap& bitmap = EnsureBitmap(picture);
    if (!bitmap.IsPaletted())
        bitmap.ConvertTo24();
    return TEncodedFile { target, EncodeGifBytes(bitmap) };
}

std::optional<TEncodedFile> EncodeByExtension(TPicture& picture, const std::filesystem::path& path)
{
    const std::string extension = "." + Lower(ExtensionOf(path));
    const TGraphicKind kind = picture.Kind();
    if (extension == ".bmp" && kind != TGraphicKind::Bitmap)
        return EncodeBmp(picture, path);
    if ((extension == ".jpg" || extension == ".jpeg") && kind != TGraphicKind::Jpeg)
        return EncodeJpeg(picture, path, 100);
    if (extension == ".png" && kind != TGraphicKind::Png)
        return EncodePng(picture, path);
    if (extension == ".gif" && kind != TGraphicKind::Gif)
        return EncodeGif(picture, path);
    if (picture.Empty())
        return std::nullopt;
    return TEncodedFile { path, picture.Graphic()->EncodeSelf() };
}

namespace {

    bool Write(const std::optional<TEncodedFile>& file)
    {
        if (!file)
            return false;
        WriteFileReplacing(*file);
        return true;
    }

} // namespace

bool SaveByExtension(TPicture& picture, const std::filesystem::path& path)
{
    if (Write(EncodeByExtension(picture, path)))
        return true;
    // Nothing to write means an empty picture: the JPEG, PNG and GIF writers answer false, while
    // an empty picture "writing itself" under any other extension counts as done.
    const std::string extension = Lower(ExtensionOf(path));
    return extension != "jpg" && extension != "jpeg" && extension != "png" && extension != "gif";
}

bool SaveAsJpeg(TPicture& picture, const std::filesystem::path& path, int quality)
{
    return Write(EncodeJpeg(picture, path, quality));
}

bool SaveAsPng(TPicture& picture, const std::filesystem::path& path)
{
    return Write(EncodePng(picture, path));
}

bool SaveAsGif(TPicture& picture, const std::filesystem::path& path)
{
    return Write(EncodeGif(picture, path));
}

bool SaveAsBmp(TPicture& picture, const std::filesystem::path& path)
{
    if (path.empty()) {
        EnsureBitmap(picture);
        return true;
    }
    return Write(EncodeBmp(picture, path));
}

} // namespace parvula::imaging
