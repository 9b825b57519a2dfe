// Tests of the shared text operations: lists, replacement, fields, lenient number and yes/no
// reading.
#include "framework/spz1_text.h"

#include <gtest/gtest.h>

#include <QStringList>

using namespace parvula::framework;

namespace {

struct TCommaCase {
    const char16_t* item;
    const char16_t* list;
    bool ignoreCase;
    bool expected;
};

TEST(TextHelpers, InCommaListMatchesWholeElementsWithBlanksSignificant)
{
    const TCommaCase cases[] = {
        { u"", u"a,,b", false, true },
        { u"", u"", false, true },
        { u"", u"a,b", false, false },
        { u"jpg", u"bmp, jpg", false, false }, // the blank belongs to the element
        { u" jpg", u"bmp, jpg", false, true },
        { u"jpg", u"bmp,jpg", false, true },
        { u"JPG", u"bmp,jpg", false, false },
        { u"JPG", u"bmp,jpg", true, true },
        { u"jp", u"bmp,jpg", false, false }, // no partial elements
        { u"a,b", u"a,b,c", false, true }, // a run of neighbours
        { u"a,c", u"a,b,c", false, false },
        { u"ÄPFEL", u"birne,äpfel", true, true }, // full lower-casing, not just A-Z
        { u"ÄPFEL", u"birne,äpfel", false, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.item).toStdString() + " in "
            + QString::fromUtf16(c.list).toStdString());
        EXPECT_EQ(InCommaList(QString::fromUtf16(c.item), QString::fromUtf16(c.list), c.ignoreCase),
            c.expected);
    }
}

struct TReplaceCase {
    const char16_t* text;
    const char16_t* pattern;
    const char16_t* replacement;
    bool ignoreCase;
    const char16_t* expected;
};

TEST(TextHelpers, ReplaceAllIsLeftToRightWithoutOverlapOrRescan)
{
    const TReplaceCase cases[] = {
        { u"aaa", u"aa", u"b", false, u"ba" },
        { u"AbcABC", u"abc", u"x", true, u"xx" },
        { u"AbcABC", u"abc", u"x", false, u"AbcABC" },
        { u"abc", u"", u"x", false, u"abc" },
        { u"", u"a", u"x", false, u"" },
        { u"aXa", u"a", u"aa", false, u"aaXaa" }, // inserted text is not searched again
        { u"a.b.c", u".", u"", false, u"abc" },
        { u"Straße STRASSE", u"e", u"!", true, u"Straß! STRASS!" }, // pieces copied unchanged
        { u"xÄx", u"ä", u"-", true, u"x-x" },
    };
    for (const auto& c : cases) {
        const QString text = QString::fromUtf16(c.text);
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(ReplaceAll(text, QString::fromUtf16(c.pattern), QString::fromUtf16(c.replacement),
                      c.ignoreCase),
            QString::fromUtf16(c.expected));
        QString inPlace = text;
        ReplaceAllInPlace(inPlace, QString::fromUtf16(c.pattern), QString::fromUtf16(c.replacement),
            c.ignoreCase);
        EXPECT_EQ(inPlace, QString::fromUtf16(c.expected));
    }
}

TEST(TextHelpers, GuessSeparatorLastCandidatePresentWins)
{
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        { u"a;b,c", u";" }, { u"a<br>b,c", u"<br>" }, { u"abc", u"\t" }, { u"", u"\t" },
        { u"a,b", u"," }, { u"a|b<br>c,d", u"|" }, { u"a\tb;c|d", u"\t" },
        { u"a<b>c", u"\t" }, // "<b" is not "<br>"
    };
    for (const auto& [text, sep] : cases) {
        SCOPED_TRACE(QString::fromUtf16(text).toStdString());
        EXPECT_EQ(GuessSeparator(QString::fromUtf16(text)), QString::fromUtf16(sep));
    }
}

TEST(TextHelpers, TakeFieldConsumesFieldAndSeparator)
{
    QString t = QStringLiteral("ab<br>cd<br>");
    EXPECT_EQ(TakeField(t, QStringLiteral("<br>")), QStringLiteral("ab"));
    EXPECT_EQ(t, QStringLiteral("cd<br>"));
    EXPECT_EQ(TakeField(t, QStringLiteral("<br>")), QStringLiteral("cd"));
    EXPECT_EQ(t, QString());
    EXPECT_EQ(TakeField(t, QStringLiteral("<br>")), QString());

    QString noSep = QStringLiteral("whole");
    EXPECT_EQ(TakeField(noSep, QStringLiteral(",")), QStringLiteral("whole"));
    EXPECT_TRUE(noSep.isEmpty());

    QString leading = QStringLiteral(",x");
    EXPECT_EQ(TakeField(leading, QStringLiteral(",")), QString());
    EXPECT_EQ(leading, QStringLiteral("x"));
}

struct TFieldCase {
    const char16_t* text;
    const char16_t* separator;
    int n;
    const char16_t* expected;
};

TEST(TextHelpers, FieldAtCountsFromOneAndEmptyFieldsCount)
{
    const TFieldCase cases[] = {
        { u"1,0", u"", 2, u"0" },
        { u"1,0", u"", 1, u"1" },
        { u"a,b", u"", 3, u"" },
        { u"a,b", u",", 0, u"" },
        { u"a,b", u",", -1, u"" },
        { u"a,,c", u",", 2, u"" },
        { u"a,,c", u",", 3, u"c" },
        { u"a,b;c", u"", 2, u"c" }, // ";" wins over ","
        { u"a,b;c", u"", 1, u"a,b" },
        { u"a,b;c", u",", 2, u"b;c" },
        { u"x<br>y", u"", 2, u"y" },
        { u"", u"", 1, u"" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.text).toStdString() + " #" + std::to_string(c.n));
        EXPECT_EQ(FieldAt(QString::fromUtf16(c.text), QString::fromUtf16(c.separator), c.n),
            QString::fromUtf16(c.expected));
    }
}

TEST(TextHelpers, LastPosTextFindsLastPossiblyOverlappingOccurrenceIgnoringCase)
{
    const std::tuple<const char16_t*, const char16_t*, int> cases[] = {
        { u"/", u"/a/A/b.txt", 5 },
        { u".", u"/a/A", 0 },
        { u"aa", u"aaa", 2 },
        { u"B.TXT", u"/a/b.txt", 4 },
        { u"ä", u"xÄyÄz", 4 },
        { u"", u"abc", 0 },
        { u"abcd", u"abc", 0 },
        { u"x", u"", 0 },
    };
    for (const auto& [sub, text, pos] : cases) {
        SCOPED_TRACE(QString::fromUtf16(sub).toStdString() + " in "
            + QString::fromUtf16(text).toStdString());
        EXPECT_EQ(LastPosText(QString::fromUtf16(sub), QString::fromUtf16(text)), pos);
    }
}

TEST(TextHelpers, StrToIntPrefixReadsLongestValidLeadingPart)
{
    const std::pair<const char16_t*, qint32> cases[] = {
        { u"", 0 }, { u"abc", 0 }, { u"12ab", 12 }, { u"7 ", 7 }, { u"-5x", -5 }, { u"   42", 42 },
        { u"+9", 9 }, { u"-", 0 }, { u" - 3", 0 }, { u"$ff", 255 }, { u"$FF", 255 }, { u"x1G", 1 },
        { u"XfF", 255 }, { u"0x10", 16 }, { u"0X1a", 26 }, { u"0x", 0 }, { u"x", 0 }, { u"$", 0 },
        { u"xFFFFFFFF", -1 }, { u"x80000000", qint32(0x80000000u) },
        { u"x123456789", 0x12345678 }, // at most eight hex digits
        { u"-$10", -16 }, { u"2147483647", 2147483647 }, { u"-2147483648", qint32(0x80000000u) },
        { u"2147483648", 214748364 }, // the overflowing digit ends the valid part
        { u"007", 7 }, { u"\t5", 0 }, // only space characters lead
        { u"١٢", 0 }, // non-ASCII digits are not digits here
    };
    for (const auto& [text, value] : cases) {
        SCOPED_TRACE(QString::fromUtf16(text).toStdString());
        EXPECT_EQ(StrToIntPrefix(QString::fromUtf16(text)), value);
    }
}

TEST(TextHelpers, TextToBoolWordsNumbersAndEverythingElse)
{
    const char16_t* yes[] = { u"Ja", u"ON", u"x", u"2", u"-1", u"0x10", u"1abc", u"j", u"oui", u"Y",
        u"YES", u"w", u"WAHR", u"true", u"an", u"o" };
    const char16_t* no[]
        = { u"", u"0", u"00", u"no", u"false", u"off", u"yes ", u" yes", u"nein", u"J A", u"ÿes" };
    for (const char16_t* t : yes) {
        SCOPED_TRACE(QString::fromUtf16(t).toStdString());
        EXPECT_TRUE(TextToBool(QString::fromUtf16(t)));
    }
    for (const char16_t* t : no) {
        SCOPED_TRACE(QString::fromUtf16(t).toStdString());
        EXPECT_FALSE(TextToBool(QString::fromUtf16(t)));
    }
}

TEST(TextHelpers, AsciiLowerCaseTouchesOnlyAToZ)
{
    EXPECT_EQ(AsciiLowerCase(QStringLiteral("AbZ@[ÄÉ")), QStringLiteral("abz@[ÄÉ"));
    // "İ" lower-cases to two code units in full mapping; the ASCII form must keep the length.
    EXPECT_EQ(AsciiLowerCase(QStringLiteral("İI")), QStringLiteral("İi"));
}

TEST(TextHelpers, WritersOfNumbersBooleansAndVariants)
{
    EXPECT_EQ(IntToText(0), QStringLiteral("0"));
    EXPECT_EQ(IntToText(-2147483647 - 1), QStringLiteral("-2147483648"));
    EXPECT_EQ(IntToText(90), QStringLiteral("90"));

    EXPECT_EQ(BoolToText(true), QStringLiteral("1"));
    EXPECT_EQ(BoolToText(false), QStringLiteral("0"));
    EXPECT_EQ(BoolToText(true, QStringLiteral("yes;no")), QStringLiteral("yes"));
    EXPECT_EQ(BoolToText(false, QStringLiteral("yes;no")), QStringLiteral("no"));
    EXPECT_EQ(BoolToText(false, QStringLiteral("only")), QString());

    EXPECT_EQ(VariantToText(QVariant()), QString());
    EXPECT_EQ(VariantToText(QVariant(42)), QStringLiteral("42"));
    EXPECT_EQ(VariantToText(QVariant(QStringLiteral("t"))), QStringLiteral("t"));
    EXPECT_EQ(VariantToText(QVariant(true)), QStringLiteral("true"));
    EXPECT_EQ(VariantToText(QVariant::fromValue(QStringList { "a", "b" })), QString());
}

} // namespace
