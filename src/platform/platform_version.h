// The program's version record and build date, read back from an executable file.
#pragma once

#include <utility>
#include <vector>

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace parvula::platform {

// The path of the running executable.
QString OwnExecutablePath();

// A value of the version record embedded in an executable ("FileVersion", "ProductVersion", …),
// trimmed of blanks and control characters. The empty file name means the running executable.
// A file that cannot be read or holds no record, or a key it lacks, gives the empty text.
QString GetVersionInfoValue(const QString& file, const QString& key);

// A version record with these keys and values, as it sits in an executable; for writing
// files that carry one.
QByteArray EncodeVersionRecord(const std::vector<std::pair<QString, QString>>& values);

// When the executable was linked, in UTC, as the build recorded it in the file (SOURCE_DATE_EPOCH
// when that was set for the build). Invalid when the file cannot be read or holds no such record.
QDateTime ExeBuildDate(const QString& file = QString());

} // namespace parvula::platform
