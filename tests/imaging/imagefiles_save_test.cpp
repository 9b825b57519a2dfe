// Loading by extension, the conversion to a bitmap, SaveByExtension's table and the writers'
// handling of existing files and failures.
#include <gtest/gtest.h>

#include "imaging/imagefiles.h"
#include "imaging/imaging_support.h"

using namespace parvula::imaging;
using namespace parvula::imaging::test;

namespace {

const TRgb White { 255, 255, 255 };

// One small picture of every kind, written into the folder and loaded from there.
struct TKinds {
    explicit TKinds(const TTempDir& dir)
    {
        TBitmap colours = NoiseBitmap(6, 4, 2);
        TPicture source;
        source.Assign(colours);
        SaveAsJpeg(source, dir / "src.jpg", 80);
        source.Assign(colours);
        SaveAsGif(source, dir / "src.gif");
        WriteBytes(dir / "src.png", MakePng(6, 4, 8, 6, TBytes(6 * 4 * 4, 200)));
        // An icon of one 6 x 4 image: a DIB whose 8 rows hold the 4 colour rows and then,
        // all zero, the mask (opaque).
        TPicture dib;
        dib.Assign(TBitmap(6, 8, 24));
        const TBytes bmp = EncodeBmp(dib, dir / "x.bmp")->bytes;
        TBytes ico = { 0, 0, 1, 0, 1, 0, 6, 4, 0, 0, 1, 0, 24, 0 };
        for (const std::uint32_t v : { static_cast<std::uint32_t>(bmp.size() - 14), 22u })
            for (int b = 0; b < 4; ++b)
                ico.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
        ico.insert(ico.end(), bmp.begin() + 14, bmp.end());
        WriteBytes(dir / "src.ico", ico);
        bitmapBytes = EncodeBmp(source, dir / "x.bmp")->bytes;
    }
    TBytes bitmapBytes;
};

TPicture OfKind(const TTempDir& dir, TGraphicKind kind)
{
    switch (kind) {
    case TGraphicKind::Jpeg:
        return Load(dir / "src.jpg");
    case TGraphicKind::Png:
        return Load(dir / "src.png");
    case TGraphicKind::Gif:
        return Load(dir / "src.gif");
    case TGraphicKind::Icon:
        return Load(dir / "src.ico");
    case TGraphicKind::Bitmap: {
        TPicture picture;
        picture.Assign(NoiseBitmap(6, 4, 2));
        return picture;
    }
    default:
        return TPicture();
    }
}

std::string Signature(const TBytes& bytes)
{
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M')
        return "bmp";
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8)
        return "jpeg";
    if (bytes.size() >= 4 && bytes[1] == 'P' && bytes[2] == 'N' && bytes[3] == 'G')
        return "png";
    if (bytes.size() >= 3 && bytes[0] == 'G' && bytes[1] == 'I' && bytes[2] == 'F')
        return "gif";
    if (bytes.size() >= 4 && bytes[0] == 0 && bytes[2] == 1)
        return "ico";
    return "?";
}

} // namespace

TEST(SaveByExtension, EveryRowOfTheTable)
{
    struct Case {
        TGraphicKind kind;
        const char* target;
        const char* written; // the file that appears
        const char* format;
        bool sameBytesAsSource;
        TGraphicKind kindAfter;
    };
    using K = TGraphicKind;
    const std::vector<Case> cases = {
        { K::Bitmap, "x.bmp", "x.bmp", "bmp", false, K::Bitmap },
        { K::Jpeg, "x.bmp", "x.bmp", "bmp", false, K::Jpeg },
        { K::Png, "x.BMP", "x.bmp", "bmp", false, K::Png },
        { K::Bitmap, "x.jpg", "x.jpg", "jpeg", false, K::Bitmap },
        { K::Png, "x.jpeg", "x.jpg", "jpeg", false, K::Bitmap },
        { K::Jpeg, "x.jpeg", "x.jpeg", "jpeg", true, K::Jpeg },
        { K::Jpeg, "x.jpg", "x.jpg", "jpeg", true, K::Jpeg },
        { K::Bitmap, "x.png", "x.png", "png", false, K::Bitmap },
        { K::Gif, "x.png", "x.png", "png", false, K::Bitmap },
        { K::Png, "x.png", "x.png", "png", false, K::Png },
        { K::Bitmap, "x.gif", "x.gif", "gif", false, K::Bitmap },
        { K::Icon, "x.gif", "x.gif", "gif", false, K::Bitmap },
        { K::Gif, "x.gif", "x.gif", "gif", false, K::Gif },
        { K::Bitmap, "x.ico", "x.ico", "bmp", false, K::Bitmap },
        { K::Icon, "x.ico", "x.ico", "ico", true, K::Icon },
        { K::Jpeg, "x.tif", "x.tif", "jpeg", true, K::Jpeg },
        { K::Gif, "x", "x", "gif", false, K::Gif },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(
            std::string(c.target) + " from kind " + std::to_string(static_cast<int>(c.kind)));
        TTempDir dir;
        TKinds kinds(dir);
        TPicture picture = OfKind(dir, c.kind);
        const std::filesystem::path out = dir / "out";
        std::filesystem::create_directory(out);
        EXPECT_TRUE(SaveByExtension(picture, out / c.target));
        EXPECT_EQ(TTempDir::Names(out), std::vector<std::string> { c.written });
        const TBytes bytes = ReadBytes(out / c.written);
        EXPECT_EQ(Signature(bytes), c.format);
        if (c.sameBytesAsSource) {
            const char* source = c.kind == K::Jpeg ? "src.jpg" : "src.ico";
            EXPECT_EQ(bytes, ReadBytes(dir / source));
        }
        EXPECT_EQ(picture.Kind(), c.kindAfter);
        if (c.kind == K::Bitmap && std::string(c.format) == "bmp") {
            EXPECT_EQ(bytes, kinds.bitmapBytes);
        }
        // Whatever was written reads back to the picture's size under its format's reader.
        std::filesystem::path probe
            = out / ("probe." + std::string(c.format == std::string("jpeg") ? "jpg" : c.format));
        std::filesystem::copy_file(out / c.written, probe);
        TPicture back = Load(probe);
        EXPECT_EQ(back.Width(), 6);
        EXPECT_EQ(back.Height(), 4);
    }
}

TEST(SaveByExtension, EmptyPicture)
{
    TTempDir dir;
    TPicture empty;
    EXPECT_TRUE(SaveByExtension(empty, dir / "x.bmp"));
    TPicture white = Load(dir / "x.bmp");
    ASSERT_NE(white.Bitmap(), nullptr);
    EXPECT_EQ(white.Width(), 200);
    EXPECT_EQ(white.Height(), 40);
    EXPECT_EQ(white.Bitmap()->BitsPerPixel(), 24);
    EXPECT_EQ(white.Bitmap()->PixelColor(199, 39), White);
    EXPECT_TRUE(empty.Empty());

    for (const char* name : { "x.jpg", "x.jpeg", "x.png", "x.gif" })
        EXPECT_FALSE(SaveByExtension(empty, dir / name)) << name;
    EXPECT_TRUE(SaveByExtension(empty, dir / "x.ico"));
    EXPECT_EQ(dir.Names(), std::vector<std::string> { "x.bmp" });
    EXPECT_FALSE(SaveAsPng(empty, dir / "y.png"));
    EXPECT_FALSE(SaveAsGif(empty, dir / "y.gif"));
    EXPECT_FALSE(EncodeJpeg(empty, dir / "y.jpg", 90).has_value());
}

TEST(Writers, ReplaceAnExistingFileAndLeaveNoTemporaryFile)
{
    TTempDir dir;
    TPicture picture;
    picture.Assign(NoiseBitmap(5, 5, 8));
    for (const char* name : { "a.bmp", "a.jpg", "a.png", "a.gif" })
        WriteBytes(dir / name, TBytes(100000, 'x'));
    EXPECT_TRUE(SaveAsBmp(picture, dir / "a.bmp"));
    EXPECT_TRUE(SaveAsJpeg(picture, dir / "a.jpg", 90));
    EXPECT_TRUE(SaveAsPng(picture, dir / "a.png"));
    EXPECT_TRUE(SaveAsGif(picture, dir / "a.gif"));
    EXPECT_EQ(dir.Names(), (std::vector<std::string> { "a.bmp", "a.gif", "a.jpg", "a.png" }));
    EXPECT_EQ(Signature(ReadBytes(dir / "a.bmp")), "bmp");
    EXPECT_EQ(Signature(ReadBytes(dir / "a.jpg")), "jpeg");
    EXPECT_EQ(Signature(ReadBytes(dir / "a.png")), "png");
    EXPECT_EQ(Signature(ReadBytes(dir / "a.gif")), "gif");
}

TEST(Writers, FailuresNameThePathAndLeaveNothingBehind)
{
    TTempDir dir;
    TPicture picture;
    picture.Assign(NoiseBitmap(5, 5, 8));
    // The target's folder is missing; its "folder" is a file; the target is a folder.
    WriteBytes(dir / "file", { 1 });
    std::filesystem::create_directory(dir / "taken.png");
    for (const std::filesystem::path& target :
        { dir / "missing" / "a.png", dir / "file" / "a.png", dir / "taken.png" }) {
        SCOPED_TRACE(target.string());
        try {
            SaveAsPng(picture, target);
            ADD_FAILURE() << "written";
        } catch (const EImageError& error) {
            EXPECT_NE(std::string(error.what()).find(target.filename().string()), std::string::npos)
                << error.what();
        }
    }
    EXPECT_EQ(dir.Names(), (std::vector<std::string> { "file", "taken.png" }));
    EXPECT_TRUE(std::filesystem::is_empty(dir / "taken.png"));
}

TEST(Writers, EncodersReplaceTheExtension)
{
    TTempDir dir;
    TPicture picture;
    picture.Assign(SolidBitmap(2, 2, White));
    EXPECT_EQ(EncodeJpeg(picture, dir / "a.b.jpeg", 50)->path, dir / "a.b.jpg");
    EXPECT_EQ(EncodePng(picture, dir / "a.PNG")->path, dir / "a.png");
    EXPECT_EQ(EncodeGif(picture, dir / "noext")->path, dir / "noext.gif");
    EXPECT_EQ(EncodeBmp(picture, dir / "a.jpg")->path, dir / "a.bmp");
    EXPECT_EQ(EncodeByExtension(picture, dir / "a.ico")->path, dir / "a.ico");
    EXPECT_TRUE(dir.Names().empty()) << "encoders write nothing";
}

TEST(LoadFromFile, ChoosesTheReaderByExtensionAlone)
{
    TTempDir dir;
    TKinds kinds(dir);
    std::filesystem::copy_file(dir / "src.jpg", dir / "photo.JPG");
    EXPECT_EQ(Load(dir / "photo.JPG").Kind(), TGraphicKind::Jpeg);
    std::filesystem::copy_file(dir / "src.png", dir / "png.jpg");
    std::filesystem::copy_file(dir / "src.png", dir / "photo.tga");
    std::filesystem::copy_file(dir / "src.png", dir / "photo.TGA");
    std::filesystem::copy_file(dir / "src.png", dir / "noext");

    TPicture picture;
    picture.Assign(SolidBitmap(3, 1, White));
    struct Case {
        const char* name;
        TCode code;
        const char* message; // the text the user reads, where it is fixed word for word
    };
    for (const Case c :
        { Case { "png.jpg", TCode::JpegLibrary, "JPEG-Fehler #" },
            Case { "photo.tga", TCode::UnknownExtension, "Unbekannte Bilddateierweiterung (.tga)" },
            Case { "photo.TGA", TCode::UnknownExtension, "Unbekannte Bilddateierweiterung (.TGA)" },
            Case { "noext", TCode::UnknownExtension, "Unbekannte Bilddateierweiterung (.)" },
            Case { "absent.png", TCode::FileNotFound, "absent.png" } }) {
        SCOPED_TRACE(c.name);
        try {
            LoadFromFile(picture, dir / c.name);
            ADD_FAILURE() << "loaded";
        } catch (const EImageError& error) {
            EXPECT_EQ(error.Code(), c.code) << error.what();
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
        // A failed load keeps the previous graphic.
        ASSERT_NE(picture.Bitmap(), nullptr);
        EXPECT_EQ(picture.Width(), 3);
    }
    // A folder or other non-file under an image name fails cleanly.
    std::filesystem::create_directory(dir / "folder.png");
    EXPECT_THROW(LoadFromFile(picture, dir / "folder.png"), EImageError);
}

TEST(Conversion, DrawsOnWhiteAndReplacesTheGraphic)
{
    TTempDir dir;
    // A PNG half transparent red over white, converted by SaveAsBmp with an empty path.
    TPicture picture = LoadBytes(dir, "h.png", MakePng(2, 1, 8, 6, { 255, 0, 0, 128, 0, 0, 0, 0 }));
    EXPECT_TRUE(SaveAsBmp(picture, {}));
    ASSERT_NE(picture.Bitmap(), nullptr);
    const TBitmap& bitmap = *picture.Bitmap();
    EXPECT_EQ(bitmap.BitsPerPixel(), 24);
    EXPECT_FALSE(bitmap.Transparent());
    EXPECT_EQ(bitmap.PixelColor(0, 0), (TRgb { 127, 127, 255 }));
    EXPECT_EQ(bitmap.PixelColor(1, 0), White);
    EXPECT_TRUE(dir.Names() == std::vector<std::string> { "h.png" });

    // A bitmap stays as it is, mark and depth included.
    TBitmap marked(2, 2, 8);
    marked.SetTransparent(true);
    picture.Assign(marked);
    EXPECT_TRUE(SaveAsBmp(picture, {}));
    EXPECT_EQ(picture.Bitmap()->BitsPerPixel(), 8);
    EXPECT_TRUE(picture.Bitmap()->Transparent());

    // The transparency mark means nothing for other kinds.
    TPicture png = Load(dir / "h.png");
    png.SetTransparentMark(true);
    EXPECT_EQ(png.Kind(), TGraphicKind::Png);
}
