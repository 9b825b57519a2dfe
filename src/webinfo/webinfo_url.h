// URL encoding of query values, RoundUp, and the information query of the web panel.
#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>

namespace parvula::webinfo {

// Percent-encodes an 8-bit text byte by byte: letters, digits and * - . / : @ _ { } stay,
// a space becomes "+" when spacesAsPlus is set and "%20" otherwise, every other byte "%XX".
QByteArray URLEncode(const QByteArray& text, bool spacesAsPlus = false);
// A query value from text: its UTF-8 bytes, encoded with spaces as "%20".
QString URLEncodeText(const QString& text);

// Rounds away from zero: 2.1 gives 3, -2.1 gives -3, whole numbers stay. Saturates at the
// limits of the 32-bit range; NaN gives 0.
qint32 RoundUp(double value);

// The part of the local day elapsed at `now`, in ten-thousandths, rounded up: 0 to 10000.
// It changes every 8.64 seconds.
qint32 DayStamp(const QDateTime& now);

struct TInfoQueryValues {
    QString productCode;
    QString version;
    QDate buildDate;
    QString title;
    QDateTime now;
};

// base + "?cmd=info&p=…&v=…&d=…&t=…&l=&tst=…"; the date in the user's short date format, the
// title URL-encoded, the other values as they are.
QString BuildInfoQuery(const QString& base, const TInfoQueryValues& values);

} // namespace parvula::webinfo
