// Text operations shared by every part: comma lists, replace-all, list fields, lenient readers.
// Positions are 1-based, 0 meaning "not found". None of them fails.
#pragma once

#include <QString>
#include <QVariant>

namespace parvula::framework {

bool InCommaList(const QString& item, const QString& list, bool ignoreCase);
QString ReplaceAll(
    const QString& text, const QString& pattern, const QString& replacement, bool ignoreCase);
void ReplaceAllInPlace(
    QString& text, const QString& pattern, const QString& replacement, bool ignoreCase);
QString GuessSeparator(const QString& text);
QString TakeField(QString& text, const QString& separator);
QString FieldAt(const QString& text, const QString& separator, int n);
int LastPosText(const QString& sub, const QString& text);
QString VariantToText(const QVariant& value);
QString IntToText(qint32 value);
QString BoolToText(bool value, const QString& pair = QString());
qint32 StrToIntPrefix(const QString& text);
bool TextToBool(const QString& text);

// Only A-Z become a-z; every other character stays.
QString AsciiLowerCase(const QString& text);

} // namespace parvula::framework
