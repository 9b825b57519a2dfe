// The INI settings store: ReadSetting and WriteSetting on our own reader and writer, and the
// section helpers and whole-file line access that profile deletion uses.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include "errors/errors.h"

namespace parvula::framework {

// The settings file cannot be written, or a stored value cannot be converted as asked: the
// program's one error type.
using ESettingsError = errors::EError;

// The executable's base name: the default section, and with ".ini" the default file name.
QString DefaultSettingsSection();
// ExpandPath(fileName, folder) with the defaults filled in: ".ini" and SettingsFolder.
QString SettingsFilePath(const QString& fileName = QString(), const QString& folder = QString());

// The stored value of key in section, trimmed of blanks and cut to 2047 characters, or def when
// the file, the section or the key is missing or the file cannot be read. Names ignore case.
QString ReadSetting(const QString& section, const QString& key, const QString& def,
    const QString& fileName = QString(), const QString& folder = QString());
// Stores VariantToText(value) under key unless the stored text is already equal. The file is
// replaced as a whole, atomically; raises ESettingsError when it cannot be written.
bool WriteSetting(const QString& section, const QString& key, const QVariant& value,
    const QString& fileName = QString(), const QString& folder = QString());

// Appends the names of the section lines (first character "[") to names, in file order.
void ListSections(const QStringList& lines, QStringList& names, bool clearFirst);
// Removes the first section named name (ASCII case ignored), up to the next section line or the
// end; true when it was found.
bool RemoveSection(QStringList& lines, const QString& name);

// The lines of a settings file, decoded as the store decodes it; a missing file has none.
// Raises ESettingsError when the file exists but cannot be read.
QStringList ReadSettingsLines(const QString& path);
// Replaces the file atomically with these lines, each ended by CR LF, in the file's own encoding.
// Raises ESettingsError when the file cannot be written.
void WriteSettingsLines(const QString& path, const QStringList& lines);

} // namespace parvula::framework
