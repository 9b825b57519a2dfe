// The message table: the texts the user reads word for word, the placeholders, and which codes
// are usage errors.
#include "errors/messages.h"

#include <gtest/gtest.h>

#include "errors/errors.h"

namespace parvula::errors {
namespace {

    TEST(Messages, TextsAsTheUserReadsThem)
    {
        const struct {
            TCode code;
            const char* path;
            std::vector<std::string> details;
            const char* text;
        } cases[] = {
            { TCode::UnknownExtension, "/p/photo.tga", { "tga" },
                "Unbekannte Bilddateierweiterung (.tga)" },
            { TCode::JpegLibrary, "", { "42" }, "JPEG-Fehler #42" },
            { TCode::SourceBitmapTooSmall, "", {}, "Source bitmap too small" },
            { TCode::Created, "", { "12" }, "Created: 12" },
            { TCode::ProfileSaveAs, "", { "Web" }, "Save as Web" },
            { TCode::ProfileDelete, "", { "Web" }, "Delete profil Web" },
            { TCode::ListInsert, "", {}, "Zeile kann nicht eingefügt werden" },
            { TCode::SettingsCannotWrite, "/home/u/.config/Parvula/parvula.ini", {},
                "In /home/u/.config/Parvula/parvula.ini kann nicht geschrieben werden" },
            { TCode::StyleNotFound, "", { "Ruby Graphite" },
                "Stil 'Ruby Graphite' nicht gefunden" },
            // The path and several values, each in its place.
            { TCode::NoFreeName, "/p/tn_a.jpg", { "9999" },
                "No free output name for /p/tn_a.jpg (the numbers up to _9999 are taken)" },
            { TCode::GifFrameBeyondFile, "", { "2", "640", "480", "17" },
                "GIF: Bild 2 (640 x 480) ist größer, als die restlichen 17 Bytes der Datei "
                "enthalten können" },
            // A missing value leaves its placeholder empty; a "%" that is no placeholder stays.
            { TCode::FileCannotWrite, "/p/x.png", {},
                "Die Datei \"/p/x.png\" kann nicht geschrieben werden: " },
            { TCode::UsageNeedsNumber, "", { "--width", "50%" },
                "--width needs a whole number, not \"50%\"" },
        };
        for (const auto& c : cases) {
            EXPECT_EQ(MessageText(c.code, c.path, c.details), c.text);
            const EError error(c.code, c.path, c.details);
            EXPECT_STREQ(error.what(), c.text);
            EXPECT_EQ(error.Code(), c.code);
            EXPECT_EQ(error.Path(), c.path);
            EXPECT_EQ(error.Details(), c.details);
        }
    }

    // parvula-cli ends with status 2 exactly for these.
    TEST(Messages, UsageErrorsAreTheCommandLinesOwn)
    {
        for (const TCode code : { TCode::UsageNeedsNumber, TCode::UsageUnknownFormat,
                 TCode::UsageNoPaths, TCode::UsageNoSection, TCode::UsageNoSuchPath })
            EXPECT_TRUE(IsUsageError(code)) << MessageTemplate(code);
        for (const TCode code : { TCode::FileNotFound, TCode::NoFreeName, TCode::CannotWriteOutput,
                 TCode::SettingsCannotWrite, TCode::ListInsert, TCode::CliStopped })
            EXPECT_FALSE(IsUsageError(code)) << MessageTemplate(code);
    }

} // namespace
} // namespace parvula::errors
