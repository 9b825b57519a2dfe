// Reading parvula-cli's arguments by hand: every option takes its value from the next argument,
// so an empty value ("--format ''") is a value, not a missing one.
#include "cli/cli_options.h"

#include "app/BasUnit1_batch.h"
#include "app/DragDrop1_collect.h"
#include "framework/spz1_messages.h"
#include "imaging/picstretch1.h"

namespace parvula::cli {

namespace {

    int WholeNumber(const QString& option, const QString& text)
    {
        bool ok = false;
        const int value = text.trimmed().toInt(&ok);
        if (!ok)
            throw framework::Error(errors::TCode::UsageNeedsNumber, {}, { option, text });
        return value;
    }

    // The written formats as a list to read: "bmp, jpg, png, gif".
    QString OutputFormatNames()
    {
        QStringList names = app::OutputFormatItems();
        names.removeFirst();
        return names.join(QStringLiteral(", "));
    }

} // namespace

int FilterIndexOf(const QString& text)
{
    bool isNumber = false;
    const int index = text.toInt(&isNumber);
    if (isNumber)
        return index >= 0 && index < imaging::KernelCount ? index : -1;
    return FilterIndexByName(text);
}

int FilterIndexByName(const QString& text)
{
    for (int i = 0; i < imaging::KernelCount; ++i) {
        if (text.compare(QString::fromUtf8(imaging::KernelTable[i].name.data(),
                             static_cast<qsizetype>(imaging::KernelTable[i].name.size())),
                Qt::CaseInsensitive)
            == 0)
            return i;
    }
    return -1;
}

TCliOptions ParseArguments(const QStringList& arguments)
{
    TCliOptions options;
    bool onlyPaths = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        if (onlyPaths || !arg.startsWith(QLatin1String("--"))) {
            options.paths.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            onlyPaths = true;
            continue;
        }
        auto value = [&]() -> QString {
            if (i + 1 >= arguments.size())
                throw framework::Error(errors::TCode::UsageNeedsValue, {}, { arg });
            return arguments.at(++i);
        };
        TSettingOverrides& o = options.overrides;
        if (arg == QLatin1String("--width")) {
            o.width = WholeNumber(arg, value());
        } else if (arg == QLatin1String("--height")) {
            o.height = WholeNumber(arg, value());
        } else if (arg == QLatin1String("--filter")) {
            const QString name = value();
            const int index = FilterIndexOf(name);
            if (index < 0)
                throw framework::Error(errors::TCode::UsageUnknownFilter, {}, { name });
            o.filter = index;
        } else if (arg == QLatin1String("--format")) {
            const QString format = value().toLower();
            if (!app::OutputFormatItems().contains(format))
                throw framework::Error(
                    errors::TCode::UsageUnknownFormat, {}, { format, OutputFormatNames() });
            o.format = format;
        } else if (arg == QLatin1String("--quality")) {
            const int quality = WholeNumber(arg, value());
            if (quality < 10 || quality > 100)
                throw errors::EError(errors::TCode::UsageQuality);
            o.quality = quality;
        } else if (arg == QLatin1String("--affix")) {
            o.affix = value();
        } else if (arg == QLatin1String("--mono")) {
            o.useMono = true;
            o.mono = value();
        } else if (arg == QLatin1String("--no-mono")) {
            o.useMono = false;
        } else if (arg == QLatin1String("--upright")) {
            o.upright = true;
        } else if (arg == QLatin1String("--no-upright")) {
            o.upright = false;
        } else if (arg == QLatin1String("--shrink-only")) {
            o.shrinkOnly = true;
        } else if (arg == QLatin1String("--output-dir")) {
            o.outputDir = value();
        } else if (arg == QLatin1String("--colours")) {
            const QString colours = value();
            if (colours.compare(QLatin1String("srgb"), Qt::CaseInsensitive) == 0)
                o.coloursAsStored = false;
            else if (colours.compare(QLatin1String("as-stored"), Qt::CaseInsensitive) == 0)
                o.coloursAsStored = true;
            else
                throw framework::Error(errors::TCode::UsageUnknownChoice, {},
                    { arg, QStringLiteral("srgb or as-stored"), colours });
        } else if (arg == QLatin1String("--metadata")) {
            const QString metadata = value();
            const QStringList choices { QStringLiteral("none"), QStringLiteral("all"),
                QStringLiteral("no-location") };
            const qsizetype choice = choices.indexOf(metadata.toLower());
            if (choice < 0)
                throw framework::Error(errors::TCode::UsageUnknownChoice, {},
                    { arg, QStringLiteral("none, all or no-location"), metadata });
            o.metadata = static_cast<imaging::TMetadataCopy>(choice);
        } else if (arg == QLatin1String("--keep-dates")) {
            o.keepDates = true;
        } else if (arg == QLatin1String("--no-keep-dates")) {
            o.keepDates = false;
        } else if (arg == QLatin1String("--profile")) {
            options.profile = value();
            if (options.profile.isEmpty())
                throw errors::EError(errors::TCode::UsageProfileName);
        } else if (arg == QLatin1String("--last")) {
            options.last = true;
        } else if (arg == QLatin1String("--jobs")) {
            options.jobs = WholeNumber(arg, value());
            if (options.jobs < 0)
                throw errors::EError(errors::TCode::UsageJobs);
        } else if (arg == QLatin1String("--dry-run")) {
            options.dryRun = true;
        } else if (arg == QLatin1String("--quiet")) {
            options.quiet = true;
        } else if (arg == QLatin1String("--help")) {
            options.help = true;
        } else if (arg == QLatin1String("--version")) {
            options.version = true;
        } else {
            throw framework::Error(errors::TCode::UsageUnknownOption, {}, { arg });
        }
    }
    if (!options.profile.isEmpty() && options.last)
        throw errors::EError(errors::TCode::UsageProfileAndLast);
    if (options.paths.isEmpty() && !options.help && !options.version)
        throw errors::EError(errors::TCode::UsageNoPaths);
    return options;
}

QString UsageText()
{
    QString accepted = app::DefaultFileAccept();
    accepted.replace(QLatin1Char(','), QStringLiteral(", "));
    return QStringLiteral(
        "Usage: parvula-cli [OPTIONS] PATH...\n"
        "Makes a thumbnail beside every image file given, and beside every image file in the\n"
        "folders given (%1), or in an output folder; nothing is ever overwritten.\n"
        "\n"
        "  --profile NAME   start from a stored profile\n"
        "  --last           start from the last-used settings of the window\n"
        "  --width N        maximum width (0: follows from the height)\n"
        "  --height N       maximum height (0: follows from the width)\n"
        "  --filter NAME    none, box, triangle, hermite, bell, b-spline, lanczos3, mitchell\n"
        "                   (or 0 to 7)\n"
        "  --format FMT     %2, or \"\" for the source's own format (HEIC, HEIF and\n"
        "                   AVIF are written as jpg, TIFF as png)\n"
        "  --quality N      JPEG and WebP quality, 10 to 100\n"
        "  --affix TEXT     name prefix when it ends in \"_\", else suffix (default tn_)\n"
        "  --mono CODE      two-colour tint in an HTML colour code such as #1A2B3C\n"
        "  --no-mono        no tint\n"
        "  --upright        turn photos by their EXIF orientation first (default)\n"
        "  --no-upright     keep photos as stored\n"
        "  --shrink-only    never enlarge a picture smaller than the box\n"
        "  --output-dir DIR write into DIR instead of beside the sources, keeping the tree\n"
        "                   below each folder given (DIR/folder/sub/tn_a.jpg); \"\" = beside\n"
        "  --colours C      srgb: photos with a colour profile converted to sRGB (default);\n"
        "                   as-stored: their numbers kept as stored\n"
        "  --metadata M     what outputs keep of their sources' EXIF, XMP and IPTC: none\n"
        "                   (default), all, or no-location (all but GPS and places);\n"
        "                   JPEG, PNG and WebP outputs only\n"
        "  --keep-dates     give each output its source's modification time\n"
        "  --no-keep-dates  outputs dated when they are written (default)\n"
        "  --jobs N         files loaded and resized at once (default 0: one per core, at\n"
        "                   most 8); names and files still come in list order\n"
        "  --dry-run        print what would be written, write nothing\n"
        "  --quiet          print nothing but errors\n"
        "  --help, --version\n"
        "\n"
        "Exit status: 0 done, 1 a file failed (the files before it stay), 2 usage error.\n")
        .arg(accepted, OutputFormatNames());
}

} // namespace parvula::cli
