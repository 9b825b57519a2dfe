// The stored settings read with the encodings the window's controls load them with.
#include "cli/cli_settings.h"

#include <algorithm>

#include "app/BasUnit1_batch.h"
#include "cli/cli_options.h"
#include "framework/spz1_ini.h"
#include "framework/spz1_messages.h"
#include "framework/spz1_text.h"

namespace parvula::cli {

namespace {

    // The window's settings file: the shell tool stands in for the window's executable.
    constexpr char kSettingsFile[] = ".ini";

    QString Stored(const QString& section, const char* key, const QString& def)
    {
        return framework::ReadSetting(
            section, QString::fromLatin1(key), def, QString::fromLatin1(kSettingsFile), QString());
    }

    bool SectionExists(const QString& section)
    {
        const QStringList lines = framework::ReadSettingsLines(framework::SettingsFilePath());
        QStringList names;
        framework::ListSections(lines, names, true);
        for (const QString& name : names) {
            if (name.compare(section, Qt::CaseInsensitive) == 0)
                return true;
        }
        return false;
    }

} // namespace

app::TBatchSettings LoadStoredSettings(const QString& section, bool mustExist)
{
    if (mustExist && !SectionExists(section)) {
        throw framework::Error(
            errors::TCode::UsageNoSection, framework::SettingsFilePath(), { section });
    }
    app::TBatchSettings s;
    // Spin fields: lenient numbers; the quality field keeps its range of 10 to 100.
    s.width = framework::StrToIntPrefix(Stored(section, "Width", QString()));
    s.height = framework::StrToIntPrefix(Stored(section, "Height", QString()));
    s.jpgQual = std::clamp(framework::StrToIntPrefix(Stored(section, "JpgQual", "90")), 10, 100);
    s.namex = Stored(section, "Namex", QStringLiteral("tn_"));
    // Drop-down lists: the entry equal ignoring case, or none.
    s.filter = FilterIndexByName(Stored(section, "Filter", QString()));
    const QString format = Stored(section, "Format", QString()).toLower();
    s.format = app::OutputFormatItems().contains(format) ? format : QString();
    s.useMono = framework::TextToBool(Stored(section, "UseMono", QString()));
    s.mono = Stored(section, "Mono", QString());
    s.upright = framework::TextToBool(Stored(section, "AutoRotate", QStringLiteral("1")));
    s.shrinkOnly = framework::TextToBool(Stored(section, "ShrinkOnly", QString()));
    s.outputDir = Stored(section, "OutDir", QString());
    s.coloursAsStored = framework::TextToBool(Stored(section, "ColoursAsStored", QString()));
    s.metadata = app::MetadataOfItem(Stored(section, "Metadata", QStringLiteral("none")));
    s.keepDates = framework::TextToBool(Stored(section, "KeepDates", QString()));
    return s;
}

} // namespace parvula::cli
