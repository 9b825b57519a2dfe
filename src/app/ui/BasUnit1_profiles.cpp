// TForm1's settings profiles: the bound controls, the list of profile names, and loading,
// saving and deleting a profile.
#include "app/ui/BasUnit1.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>

#include "app/DragDrop1_collect.h"
#include "framework/ui/spz1_binding.h"
#include "framework/spz1_ini.h"
#include "framework/spz1_messages.h"
#include "framework/ui/spz1_msg.h"
#include "framework/spz1_paths.h"
#include "framework/spz1_text.h"
#include "framework/ui/spz1_ui_spinedit.h"
#include "platform/platform_fs.h"

namespace parvula::app {

namespace {

    const QString ProfilePrefix = QStringLiteral("Profil_");

    QString SettingsPath()
    {
        return framework::ExpandPath(QStringLiteral(".ini"), framework::SettingsFolder);
    }

    void SetLines(QListWidget* list, const QStringList& lines)
    {
        list->clear();
        list->addItems(lines);
    }

    QStringList LinesOf(const QListWidget* list)
    {
        QStringList lines;
        for (int i = 0; i < list->count(); ++i)
            lines.append(list->item(i)->text());
        return lines;
    }

} // namespace

void TForm1::BindSettings(const QString& section, framework::TBindMode mode)
{
    // The order and the defaults of the fourteen settings; an empty default loads as the control's
    // own empty state (0, nothing selected, not ticked). Turning photos upright is on unless a
    // section says otherwise, so files written before that setting existed load it ticked.
    const struct {
        QWidget* control;
        const char* def;
    } bound[] = {
        { edWidth, "" },
        { edHeight, "" },
        { edNamex, "tn_" },
        { edFilter, "" },
        { edFormat, "" },
        { edJpgQual, "90" },
        { edUseMono, "" },
        { edMono, "" },
        { edAutoRotate, "1" },
        { edShrinkOnly, "" },
        { edOutDir, "" },
        { edColoursAsStored, "" },
        { edMetadata, "none" },
        { edKeepDates, "" },
    };
    for (const auto& b : bound)
        framework::BindControl(b.control, mode, QString::fromLatin1(b.def), QString(), section);
}

void TForm1::RefreshProfiles()
{
    const QString path = SettingsPath();
    if (!platform::EntryExists(path))
        return;
    SetLines(List1, framework::ReadSettingsLines(path));
    QStringList sections;
    framework::ListSections(LinesOf(List1), sections, true);
    SetLines(List2, sections);

    const QString typed = edProfil->currentText();
    QStringList names;
    for (const QString& section : sections) {
        // Case-sensitive at the first character: a hand-written "[profil_x]" is not listed.
        if (section.startsWith(ProfilePrefix, Qt::CaseSensitive))
            names.append(framework::ReplaceAll(section, ProfilePrefix, QString(), false));
    }
    // The list keeps its entries sorted ignoring case, as the file list does.
    std::stable_sort(names.begin(), names.end(),
        [](const QString& a, const QString& b) { return CompareEntries(a, b) < 0; });
    edProfil->clear();
    edProfil->addItems(names);
    edProfil->setEditText(typed);
}

void TForm1::btOpenClick()
{
    const QString name = edProfil->currentText();
    if (name.isEmpty())
        return;
    BindSettings(ProfilePrefix + name, framework::bindLoad);
    RefreshProfiles();
}

void TForm1::btSaveClick()
{
    const QString name = edProfil->currentText();
    if (name.isEmpty())
        return;
    if (!framework::ShowMsg(framework::MessageText(errors::TCode::ProfileSaveAs, {}, { name }),
            QStringLiteral("?")))
        return;
    BindSettings(ProfilePrefix + name, framework::bindSave);
    RefreshProfiles();
}

void TForm1::btDelClick()
{
    const QString name = edProfil->currentText();
    const QString path = SettingsPath();
    if (name.isEmpty() || !platform::EntryExists(path))
        return;
    if (!framework::ShowMsg(framework::MessageText(errors::TCode::ProfileDelete, {}, { name }),
            QStringLiteral("?")))
        return;
    SetLines(List1, framework::ReadSettingsLines(path));
    QStringList lines = LinesOf(List1);
    framework::RemoveSection(lines, ProfilePrefix + name);
    SetLines(List1, lines);
    // Rewritten even when no such section was found; the store replaces the file atomically, so
    // a failed write leaves it as it was.
    framework::WriteSettingsLines(path, lines);
    RefreshProfiles();
}

} // namespace parvula::app
