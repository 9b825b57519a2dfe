// URL encoding of query values, RoundUp, and the information query of the web panel.
#include "webinfo/webinfo_url.h"

#include <cmath>
#include <limits>

#include <QLocale>

namespace parvula::webinfo {

QByteArray URLEncode(const QByteArray& text, bool spacesAsPlus)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(text.size() * 3);
    for (const char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9')
            || QByteArrayView("*-./:@_{}").contains(ch)) {
            out += ch;
        } else if (b == ' ' && spacesAsPlus) {
            out += '+';
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
        }
    }
    return out;
}

QString URLEncodeText(const QString& text)
{
    // UTF-8 rather than a legacy 8-bit code page: every character survives, and on POSIX
    // systems it is the system's own 8-bit encoding anyway.
    return QString::fromLatin1(URLEncode(text.toUtf8(), false));
}

qint32 RoundUp(double value)
{
    if (std::isnan(value))
        return 0;
    constexpr double lo = std::numeric_limits<qint32>::min();
    constexpr double hi = std::numeric_limits<qint32>::max();
    const double whole = std::trunc(value);
    double r = whole;
    if (value != whole)
        r += value >= 0 ? 1.0 : -1.0;
    if (r <= lo)
        return std::numeric_limits<qint32>::min();
    if (r >= hi)
        return std::numeric_limits<qint32>::max();
    return static_cast<qint32>(r);
}

qint32 DayStamp(const QDateTime& now)
{
    // Milliseconds since local midnight over the 8,640 ms that one ten-thousandth of a day
    // lasts; a day with a clock change still counts from its midnight.
    const double ms = now.toLocalTime().time().msecsSinceStartOfDay();
    return RoundUp(ms / 8640.0);
}

QString BuildInfoQuery(const QString& base, const TInfoQueryValues& values)
{
    const QString date = QLocale().toString(values.buildDate, QLocale::ShortFormat);
    return base + QStringLiteral("?cmd=info") + QStringLiteral("&p=") + values.productCode
        + QStringLiteral("&v=") + values.version + QStringLiteral("&d=") + date
        + QStringLiteral("&t=") + URLEncodeText(values.title) + QStringLiteral("&l=")
        + QStringLiteral("&tst=") + QString::number(DayStamp(values.now));
}

} // namespace parvula::webinfo
