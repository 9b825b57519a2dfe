// Text operations shared by every part: comma lists, replace-all, list fields, lenient readers.
#include "framework/spz1_text.h"

#include <cstdint>

#include <QStringList>

namespace parvula::framework {

namespace {

    const QString kTab = QStringLiteral("\t");

    bool IsDecDigit(QChar c) { return c >= u'0' && c <= u'9'; }

    int HexDigitValue(QChar c)
    {
        if (c >= u'0' && c <= u'9')
            return c.unicode() - u'0';
        if (c >= u'a' && c <= u'f')
            return c.unicode() - u'a' + 10;
        if (c >= u'A' && c <= u'F')
            return c.unicode() - u'A' + 10;
        return -1;
    }

} // namespace

bool InCommaList(const QString& item, const QString& list, bool ignoreCase)
{
    QString i = item;
    QString l = list;
    if (ignoreCase) {
        i = i.toLower();
        l = l.toLower();
    }
    // Wrapping both in commas makes an item match whole elements only, and lets an item that holds
    // commas match a run of neighbouring elements.
    const QString needle = u',' + i + u',';
    const QString hay = u',' + l + u',';
    return hay.contains(needle);
}

QString ReplaceAll(
    const QString& text, const QString& pattern, const QString& replacement, bool ignoreCase)
{
    if (pattern.isEmpty() || text.isEmpty())
        return text;
    // Qt's case-insensitive search folds one code unit at a time, so the positions found are
    // positions in the given text; comparing whole upper-cased copies would shift them wherever
    // upper-casing changes the length (a sharp s becomes "SS").
    const Qt::CaseSensitivity cs = ignoreCase ? Qt::CaseInsensitive : Qt::CaseSensitive;
    QString result;
    result.reserve(text.size());
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = text.indexOf(pattern, from, cs);
        if (at < 0)
            break;
        result += QStringView(text).mid(from, at - from);
        result += replacement;
        from = at + pattern.size();
    }
    result += QStringView(text).mid(from);
    return result;
}

void ReplaceAllInPlace(
    QString& text, const QString& pattern, const QString& replacement, bool ignoreCase)
{
    text = ReplaceAll(text, pattern, replacement, ignoreCase);
}

QString GuessSeparator(const QString& text)
{
    // Later candidates win when several occur, so the order below is the order of precedence,
    // lowest first.
    static const QString candidates[] = { QStringLiteral(","), QStringLiteral("<br>"),
        QStringLiteral("|"), QStringLiteral(";"), kTab };
    QString choice = kTab;
    for (const QString& c : candidates) {
        if (text.contains(c))
            choice = c;
    }
    return choice;
}

QString TakeField(QString& text, const QString& separator)
{
    if (text.isEmpty())
        return QString();
    // An empty separator would match at position 1 for ever and never consume anything; the whole
    // text is the one field then.
    const qsizetype at = separator.isEmpty() ? -1 : text.indexOf(separator);
    if (at < 0) {
        QString all = text;
        text.clear();
        return all;
    }
    QString field = text.left(at);
    text.remove(0, at + separator.size());
    return field;
}

QString FieldAt(const QString& text, const QString& separator, int n)
{
    const QString sep = separator.isEmpty() ? GuessSeparator(text) : separator;
    QString rest = text;
    QString result;
    for (int i = 0; i < n; ++i) {
        result = TakeField(rest, sep);
        if (rest.isEmpty() && result.isEmpty())
            break;
    }
    return result;
}

int LastPosText(const QString& sub, const QString& text)
{
    if (sub.isEmpty() || sub.size() > text.size())
        return 0;
    // Case-insensitive search per code unit keeps the position valid for the original text, which
    // callers cut with it; lower-cased copies can differ in length from the original.
    const qsizetype at = text.lastIndexOf(sub, -1, Qt::CaseInsensitive);
    return at < 0 ? 0 : int(at) + 1;
}

QString VariantToText(const QVariant& value)
{
    if (value.isNull() || !value.isValid())
        return QString();
    if (!value.canConvert<QString>())
        return QString();
    return value.toString();
}

QString IntToText(qint32 value) { return QString::number(value); }

QString BoolToText(bool value, const QString& pair)
{
    const QString p = pair.isEmpty() ? QStringLiteral("1,0") : pair;
    return FieldAt(p, QString(), value ? 1 : 2);
}

qint32 StrToIntPrefix(const QString& text)
{
    // The value of the longest valid leading part: the scan remembers the value after each digit
    // and stops at the first character that cannot continue a valid number.
    const qsizetype len = text.size();
    qsizetype i = 0;
    while (i < len && text.at(i) == u' ')
        ++i;
    bool negative = false;
    if (i < len && (text.at(i) == u'+' || text.at(i) == u'-')) {
        negative = text.at(i) == u'-';
        ++i;
    }

    qsizetype hexStart = -1;
    if (i < len && (text.at(i) == u'$' || text.at(i) == u'x' || text.at(i) == u'X'))
        hexStart = i + 1;
    else if (i + 1 < len && text.at(i) == u'0'
        && (text.at(i + 1) == u'x' || text.at(i + 1) == u'X'))
        hexStart = i + 2;

    if (hexStart >= 0) {
        std::uint32_t pattern = 0;
        int digits = 0;
        for (qsizetype k = hexStart; k < len && digits < 8; ++k) {
            const int d = HexDigitValue(text.at(k));
            if (d < 0)
                break;
            pattern = (pattern << 4) | std::uint32_t(d);
            ++digits;
        }
        if (digits > 0) {
            // Eight digits are the 32-bit pattern, so x80000000 and up read as negative numbers;
            // a sign negates that pattern modulo 2^32.
            const std::uint32_t v = negative ? std::uint32_t(0) - pattern : pattern;
            return qint32(v);
        }
        // A lone "0" before an x with no hexadecimal digit is still a valid decimal 0; a lone "$"
        // or "x" leaves nothing valid. Both give 0.
        return 0;
    }

    // Decimal: a digit that would take the magnitude past the 32-bit range ends the valid part,
    // like any other character that cannot continue the number.
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t magnitude = 0;
    for (qsizetype k = i; k < len && IsDecDigit(text.at(k)); ++k) {
        const std::int64_t next = magnitude * 10 + (text.at(k).unicode() - u'0');
        if (next > limit)
            break;
        magnitude = next;
    }
    return qint32(negative ? -magnitude : magnitude);
}

bool TextToBool(const QString& text)
{
    if (text.isEmpty() || text == QStringLiteral("0"))
        return false;
    static const QString yesWords = QStringLiteral("j,ja,o,oui,y,yes,w,wahr,x,true,an,on");
    if (InCommaList(AsciiLowerCase(text), yesWords, false))
        return true;
    return StrToIntPrefix(text) != 0;
}

QString AsciiLowerCase(const QString& text)
{
    QString out = text;
    for (QChar& c : out) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    }
    return out;
}

} // namespace parvula::framework
