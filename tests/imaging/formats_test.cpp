// The format table: every row reads what it writes, the lists the window and the drop show, and
// the look-ups by extension, output name and kind.
#include "imaging/formats.h"

#include <set>

#include <gtest/gtest.h>

#include "imaging/imagefiles_internal.h"
#include "imaging_support.h"

namespace parvula::imaging {
namespace {

    using test::NoiseBitmap;

    TEST(Formats, ListsInTheOrderTheFileListAndTheWindowShowThem)
    {
        EXPECT_EQ(AcceptedExtensions(), "bmp,jpg,jpeg,gif,png,ico,heic,heif,avif,webp,tif,tiff");
        // WebP at the end, so the items before it keep their places.
        EXPECT_EQ(
            OutputFormatNames(), (std::vector<std::string> { "bmp", "jpg", "png", "gif", "webp" }));
    }

    TEST(Formats, EveryExtensionSelectsOneRowIgnoringCase)
    {
        std::set<std::string_view> seen;
        for (const TFormat& format : Formats()) {
            ASSERT_FALSE(format.extensions.empty());
            ASSERT_NE(format.read, nullptr);
            for (const std::string_view extension : format.extensions) {
                EXPECT_TRUE(seen.insert(extension).second) << extension << " is in two rows";
                EXPECT_EQ(FormatByExtension(extension), &format) << extension;
                std::string upper(extension);
                for (char& c : upper)
                    c = static_cast<char>(c - 'a' + 'A');
                EXPECT_EQ(FormatByExtension(upper), &format) << upper;
            }
            EXPECT_EQ(FormatOfKind(format.kind), &format);
            if (format.Writable()) {
                EXPECT_EQ(format.extensions.front(), format.outputName);
                EXPECT_EQ(FormatByOutputName(format.outputName), &format);
            }
        }
        const struct {
            const char* path;
            TGraphicKind kind; // Empty: no format
        } cases[] = {
            { "photo.JPG", TGraphicKind::Jpeg },
            { "holiday.2014.jpeg", TGraphicKind::Jpeg },
            { "icon.Ico", TGraphicKind::Icon },
            { "IMG_0001.HEIC", TGraphicKind::Heif },
            { "x.heif", TGraphicKind::Heif },
            { "x.avif", TGraphicKind::Avif },
            { "x.WebP", TGraphicKind::Webp },
            { "scan.tif", TGraphicKind::Tiff },
            { "scan.TIFF", TGraphicKind::Tiff },
            { "a.png.bmp", TGraphicKind::Bitmap },
            { "photo.tga", TGraphicKind::Empty },
            { "no_extension", TGraphicKind::Empty },
            { "dot.", TGraphicKind::Empty },
            { "x.jpg.", TGraphicKind::Empty },
        };
        for (const auto& c : cases) {
            const TFormat* format = FormatOfPath(c.path);
            EXPECT_EQ(format ? format->kind : TGraphicKind::Empty, c.kind) << c.path;
        }
        EXPECT_EQ(FormatByOutputName("jpeg"), nullptr);
        EXPECT_EQ(FormatByOutputName("ico"), nullptr);
    }

    TEST(Formats, OutputNamesOfExtensions)
    {
        EXPECT_EQ(OutputNameOfExtension("jpeg"), "jpg");
        EXPECT_EQ(OutputNameOfExtension("jpg"), "jpg");
        EXPECT_EQ(OutputNameOfExtension("png"), "png");
        EXPECT_EQ(OutputNameOfExtension("webp"), "webp");
        // Not written: an icon keeps its extension (its bitmap goes out as BMP bytes under it), as
        // it always did; the photo formats read but not written name what they are written as,
        // so a HEIC photo never gets BMP bytes under a ".heic" name.
        EXPECT_EQ(OutputNameOfExtension("ico"), "ico");
        EXPECT_EQ(OutputNameOfExtension("heic"), "jpg");
        EXPECT_EQ(OutputNameOfExtension("heif"), "jpg");
        EXPECT_EQ(OutputNameOfExtension("avif"), "jpg");
        EXPECT_EQ(OutputNameOfExtension("tif"), "png");
        EXPECT_EQ(OutputNameOfExtension("tiff"), "png");
        EXPECT_EQ(OutputNameOfExtension("tga"), "tga");
        // Only the exact lower-case name: the run lowers A to Z before it asks.
        EXPECT_EQ(OutputNameOfExtension("JPEG"), "JPEG");
    }

    // A row's writer and reader belong together: what a row writes, its extension reads back as
    // a picture of the row's kind and size.
    TEST(Formats, EveryWrittenFormatReadsBackWhatItWrites)
    {
        test::TTempDir dir;
        for (const TFormat& format : Formats()) {
            if (!format.Writable())
                continue;
            TPicture picture;
            picture.Assign(NoiseBitmap(13, 7, 5));
            const std::filesystem::path path = dir / ("x." + std::string(format.outputName));
            const std::optional<TEncodedFile> file = format.encode(picture, path, 90);
            ASSERT_TRUE(file) << format.outputName;
            EXPECT_EQ(file->path, path);
            TPicture back;
            const auto bytes = std::make_shared<const TBytes>(file->bytes);
            LoadFromBytes(back, file->path, bytes, *bytes);
            EXPECT_EQ(back.Kind(), format.kind) << format.outputName;
            EXPECT_EQ(back.Width(), 13);
            EXPECT_EQ(back.Height(), 7);

            // An empty picture gives nothing to write, except for the BMP writer, which writes the
            // white bitmap of the conversion.
            TPicture empty;
            EXPECT_EQ(
                format.encode(empty, path, 90).has_value(), format.kind == TGraphicKind::Bitmap)
                << format.outputName;
        }
    }

    // Rows stream exactly for the formats whose row says so, and only a format that decodes in
    // place keeps memory that is not its own.
    TEST(Formats, StreamingAndDecodingInPlaceFollowTheRows)
    {
        test::TTempDir dir;
        for (const TFormat& format : Formats()) {
            if (!format.Writable())
                continue;
            TPicture source;
            source.Assign(NoiseBitmap(9, 6, 2));
            const std::optional<TEncodedFile> file
                = format.encode(source, dir / ("y." + std::string(format.outputName)), 90);
            ASSERT_TRUE(file);
            auto bytes = std::make_shared<TBytes>(file->bytes);
            TPicture picture;
            LoadFromBytes(picture, file->path, bytes, *bytes);
            EXPECT_EQ(OpenRowReader(picture) != nullptr, format.StreamsRows()) << format.outputName;
            const long held = bytes.use_count();
            EXPECT_EQ(held > 1, format.decodesInPlace) << format.outputName;
        }
    }

} // namespace
} // namespace parvula::imaging
