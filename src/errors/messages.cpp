// The message table and the filling in of its placeholders.
#include "errors/messages.h"

#include <array>
#include <cstddef>

namespace parvula::errors {

namespace {

    struct TMessage {
        TCode code;
        std::string_view text; // "%p" the path, "%1" … the details
    };

    // In the order of TCode; MessageTemplate checks each row's code.
    constexpr TMessage kMessages[] = {
        { TCode::FileNotFound, "Die Datei \"%p\" wurde nicht gefunden" },
        { TCode::NotAFile, "\"%p\" ist keine Datei" },
        { TCode::FileTooLarge, "Die Datei \"%p\" überschreitet die Grenze von %1 MiB" },
        { TCode::FileCannotOpen, "Die Datei \"%p\" kann nicht geöffnet werden" },
        { TCode::FileCannotRead, "Die Datei \"%p\" kann nicht gelesen werden" },
        { TCode::FileCannotWrite, "Die Datei \"%p\" kann nicht geschrieben werden: %1" },
        { TCode::UnknownExtension, "Unbekannte Bilddateierweiterung (.%1)" },

        { TCode::ImageSizeInvalid, "%1: ungültige Bildgröße %2 x %3" },
        { TCode::ImageSideTooLarge,
            "%1: Bildgröße %2 x %3 überschreitet die Grenze von %4 Pixeln je Seite" },
        { TCode::ImagePixelsTooMany,
            "%1: Bildgröße %2 x %3 überschreitet die Grenze von %4 Megapixeln" },
        { TCode::BitmapDepthUnsupported, "Bitmap: unsupported depth of %1 bits per pixel" },

        { TCode::BmpNotBmp, "BMP: keine BMP-Datei" },
        { TCode::BmpHeaderTruncated, "BMP: Bildkopf ist unvollständig" },
        { TCode::BmpHeaderSize, "BMP: unbekannte Größe des Bildkopfs (%1)" },
        { TCode::BmpMasksMissing, "BMP: Farbmasken fehlen" },
        { TCode::BmpSizeInvalid, "BMP: ungültige Bildgröße %1 x %2" },
        { TCode::BmpRle8Depth, "BMP: RLE8 verlangt 8 Bit je Pixel" },
        { TCode::BmpRle4Depth, "BMP: RLE4 verlangt 4 Bit je Pixel" },
        { TCode::BmpRleTopDown,
            "BMP: komprimierte Bilder können nicht von oben nach unten gespeichert sein" },
        { TCode::BmpMasksDepth, "BMP: Farbmasken verlangen 16 oder 32 Bit je Pixel" },
        { TCode::BmpCompression, "BMP: nicht unterstützte Kompression (%1)" },
        { TCode::BmpDepth, "BMP: nicht unterstützte Farbtiefe von %1 Bit je Pixel" },
        { TCode::BmpPalette, "BMP: Palette mit %1 Einträgen bei %2 Bit je Pixel" },
        { TCode::BmpDataOutside, "BMP: Bilddaten liegen außerhalb der Datei" },
        { TCode::BmpDataShort, "BMP: Bilddaten sind unvollständig (%1 von %2 Bytes)" },
        { TCode::BmpRleTruncated, "BMP: komprimierte Bilddaten sind unvollständig" },
        { TCode::BmpTooLargeToWrite, "BMP: the image is too large for a BMP file" },
        { TCode::JpegLibrary, "JPEG-Fehler #%1" },
        { TCode::JpegScansTooMany, "JPEG: mehr als %1 progressive Scans überschreiten die Grenze" },
        { TCode::JpegChangedWhileRead, "JPEG: die Datei hat sich beim Lesen geändert" },
        { TCode::JpegNoMoreRows, "JPEG: no more rows" },
        { TCode::PngLibrary, "PNG: Datei ist beschädigt" },
        { TCode::PngNotPng, "PNG: keine PNG-Datei" },
        { TCode::PngTruncated, "PNG: Datei ist unvollständig" },
        { TCode::PngDataTooShort, "PNG: %1 Bytes Bilddaten reichen nicht für %2 x %3 Pixel" },
        { TCode::PngLibpngInit, "PNG: libpng kann nicht initialisiert werden" },
        { TCode::PngZlibInit, "PNG: zlib kann nicht initialisiert werden" },
        { TCode::PngZlibCompress, "PNG: zlib-Fehler beim Komprimieren" },
        { TCode::GifCannotOpen, "GIF: die Datei kann nicht geöffnet werden" },
        { TCode::GifWriteFailed, "GIF: Schreibfehler" },
        { TCode::GifWriteOrder, "GIF: ungültige Reihenfolge beim Schreiben" },
        { TCode::GifNoColourTable, "GIF: keine Farbtabelle" },
        { TCode::GifDataTooBig, "GIF: mehr Bilddaten als das Bild groß ist" },
        { TCode::GifNoMemory, "GIF: nicht genug Speicher" },
        { TCode::GifCannotClose, "GIF: die Datei kann nicht abgeschlossen werden" },
        { TCode::GifEndsEarly, "GIF: die Datei endet vorzeitig" },
        { TCode::GifNotGif, "GIF: keine GIF-Datei" },
        { TCode::GifNoScreenDescriptor, "GIF: die Bildschirmbeschreibung fehlt" },
        { TCode::GifNoImageDescriptor, "GIF: die Bildbeschreibung fehlt" },
        { TCode::GifNotReadable, "GIF: die Datei ist nicht lesbar" },
        { TCode::GifImageDefect, "GIF: die Bilddaten sind beschädigt" },
        { TCode::GifUnknownError, "GIF: unbekannter Fehler" },
        { TCode::GifColourMap, "GIF: Farbtabelle kann nicht angelegt werden" },
        { TCode::GifFramesTooMany, "GIF: mehr als %1 Bilder überschreiten die Grenze" },
        { TCode::GifFrameSize, "GIF: Bild %1 hat die Größe %2 x %3" },
        { TCode::GifPixelsTooMany,
            "GIF: die Bilder überschreiten zusammen die Grenze von %1 Megapixeln" },
        { TCode::GifFrameBeyondFile,
            "GIF: Bild %1 (%2 x %3) ist größer, als die restlichen %4 Bytes der Datei enthalten "
            "können" },
        { TCode::GifScreenSize, "GIF: der logische Bildschirm hat die Größe %1 x %2" },
        { TCode::GifUnknownRecord, "GIF: unbekannter Datensatz" },
        { TCode::GifNoImage, "GIF: die Datei enthält kein Bild" },
        { TCode::IcoNotIcon, "ICO: keine Symboldatei" },
        { TCode::IcoNoImage, "ICO: die Datei enthält kein Bild" },
        { TCode::IcoEntriesTooMany, "ICO: %1 Einträge überschreiten die Grenze von %2" },
        { TCode::IcoDirectoryShort, "ICO: das Verzeichnis ist unvollständig" },
        { TCode::IcoNoCompleteImage, "ICO: kein Bild liegt vollständig in der Datei" },
        { TCode::PhotoNotFormat, "%1: \"%p\" ist keine %1-Datei" },
        { TCode::PhotoDamaged, "%1: \"%p\" ist beschädigt oder unvollständig" },
        { TCode::PhotoUnsupported,
            "%1: \"%p\" ist in einer nicht unterstützten Variante gespeichert" },
        { TCode::PhotoUndecodable, "%1: die Bilddaten von \"%p\" können nicht dekodiert werden" },
        { TCode::PhotoNoImage, "%1: \"%p\" enthält kein Bild" },
        { TCode::PhotoNoMemory, "%1: nicht genug Speicher für \"%p\"" },
        { TCode::PhotoSizeInvalid, "%1: \"%p\" hat die ungültige Bildgröße %2 x %3" },
        { TCode::PhotoSideTooLarge,
            "%1: \"%p\" ist %2 x %3 Pixel groß und überschreitet die Grenze von %4 Pixeln je "
            "Seite" },
        { TCode::PhotoPixelsTooMany,
            "%1: \"%p\" ist %2 x %3 Pixel groß und überschreitet die Grenze von %4 Megapixeln" },
        { TCode::PhotoSideLimit,
            "%1: \"%p\" enthält ein Bild mit mehr als %2 Pixeln je Seite, der Grenze für diese "
            "Bildart" },
        { TCode::PhotoLibraryMissing,
            "%1: \"%p\" kann nicht gelesen werden, denn die Bibliothek %2 fehlt" },
        { TCode::WebpTooLargeToWrite,
            "WebP: ein Bild von %1 x %2 Pixeln ist für eine WebP-Datei zu groß (höchstens %3 Pixel "
            "je Seite)" },
        { TCode::WebpEncodeFailed, "WebP: das Bild kann nicht kodiert werden" },

        { TCode::DrawTargetDepth, "DrawOnto: the target must be a 24- or 32-bit bitmap" },
        { TCode::SourceBitmapTooSmall, "Source bitmap too small" },
        { TCode::ResampleInvalidScale, "Resample: invalid scale or kernel" },
        { TCode::ResampleNoKernel, "Resample: no kernel given" },
        { TCode::StretchDepth, "StretchNearest: 24-bit bitmaps expected" },
        { TCode::UnknownFilter, "Unknown resampling filter %1" },
        { TCode::ReduceDepth, "ReduceToPalette: 24 Bit je Pixel erwartet" },
        { TCode::TintNoBitmap, "MonoTint: the picture could not be converted to a bitmap" },

        { TCode::NoFreeName, "No free output name for %p (the numbers up to _%1 are taken)" },
        { TCode::NothingToWrite, "Nothing to write for %p" },
        { TCode::CannotCreateIn, "Cannot create a file in %p: %1" },
        { TCode::CannotWriteOutput, "Cannot write %p: %1" },
        { TCode::CannotCreateFolder, "Cannot create the folder %p" },
        { TCode::CannotKeepDate, "Cannot give %p the date of its source: %1" },
        { TCode::MetadataLocationKept,
            "The location cannot be removed from the metadata of %p, so it is not written" },
        { TCode::Created, "Created: %1" },

        { TCode::ListInsert, "Zeile kann nicht eingefügt werden" },
        { TCode::DropFilesCut, "Only the first %1 files of this drop were added." },
        { TCode::DropDepthCut,
            "Folders more than %1 levels below a dropped folder were left out." },
        { TCode::DropUnreadable,
            "%1 folder(s) could not be read and were left out, the first: %p" },
        { TCode::DropUndecodable,
            "%1 name(s) not valid in the system's encoding were left out, the first: %p" },

        { TCode::SettingsCannotWrite, "In %p kann nicht geschrieben werden" },
        { TCode::SettingsCannotRead, "%p kann nicht gelesen werden" },
        { TCode::NotAnInteger, "'%1' ist kein gültiger ganzzahliger Wert für %2" },
        { TCode::ProfileSaveAs, "Save as %1" },
        { TCode::ProfileDelete, "Delete profil %1" },

        { TCode::StyleNotFound, "Stil '%1' nicht gefunden" },

        { TCode::CliTryHelp, "Try 'parvula-cli --help'." },
        { TCode::CliDryRun, "Created: 0 (dry run, %1 planned)" },
        { TCode::CliStopped, "parvula-cli: stopped after %1 of %2 files" },

        { TCode::UsageNeedsNumber, "%1 needs a whole number, not \"%2\"" },
        { TCode::UsageNeedsValue, "%1 needs a value" },
        { TCode::UsageUnknownFilter, "Unknown filter \"%1\"" },
        { TCode::UsageUnknownFormat, "Unknown format \"%1\" (%2 or \"\")" },
        { TCode::UsageQuality, "--quality takes 10 to 100" },
        { TCode::UsageProfileName, "--profile needs a name" },
        { TCode::UsageJobs, "--jobs takes 0 (one per core) or more" },
        { TCode::UsageUnknownOption, "Unknown option %1" },
        { TCode::UsageProfileAndLast, "--profile and --last exclude each other" },
        { TCode::UsageNoPaths, "No image file or folder given" },
        { TCode::UsageNoSection, "No section [%1] in %p" },
        { TCode::UsageNoSuchPath, "no such file or folder: %p" },
        { TCode::UsageUnknownChoice, "%1 takes %2, not \"%3\"" },
    };

    constexpr bool InCodeOrder()
    {
        for (std::size_t i = 0; i < std::size(kMessages); ++i)
            if (static_cast<std::size_t>(kMessages[i].code) != i)
                return false;
        return true;
    }
    static_assert(InCodeOrder(), "the message table must list every code in the order of TCode");

} // namespace

bool IsUsageError(TCode code) { return code >= TCode::UsageNeedsNumber; }

std::string_view MessageTemplate(TCode code)
{
    return kMessages[static_cast<std::size_t>(code)].text;
}

std::string MessageText(TCode code, std::string_view path, const std::vector<std::string>& details)
{
    const std::string_view text = MessageTemplate(code);
    std::string result;
    result.reserve(text.size() + path.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size()) {
            const char next = text[i + 1];
            if (next == 'p') {
                result += path;
                ++i;
                continue;
            }
            if (next >= '1' && next <= '9') {
                const auto index = static_cast<std::size_t>(next - '1');
                if (index < details.size())
                    result += details[index];
                ++i;
                continue;
            }
        }
        result += text[i];
    }
    return result;
}

} // namespace parvula::errors
