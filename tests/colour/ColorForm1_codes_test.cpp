// Colour codes: both readings of HTML codes, writing them, byte-order conversions, named colours.
#include "colour/ColorForm1_codes.h"

#include <gtest/gtest.h>

#include <QSet>

using namespace parvula::colour;

namespace {

struct TReadCase {
    const char* text;
    TAlphaColor alpha; // HTMLToAlphaColor
    TColor vcl; // HTMLToTColor
};

// The two readings cut and reorder the text differently, so one malformed code can give
// unrelated values in each.
const TReadCase kReadCases[] = {
    { "#ff8000", 0xFFFF8000u, 0x000080FF },
    { "#FF8000", 0xFFFF8000u, 0x000080FF },
    { "#1A2B3C", 0xFF1A2B3Cu, 0x003C2B1A },
    { "#FF8000AA", 0xFFFF8000u, 0x000080FF }, // digits after the sixth are ignored
    { "#000000", 0xFF000000u, 0x00000000 },
    { "#FFFFFF", 0xFFFFFFFFu, 0x00FFFFFF },
    { "$FF8000", 0x00FF8000u, 0x00FF8000 }, // a plain number: no alpha, no reordering
    { "FF8000", 0u, 0 },
    { "#F80", 0u, 0 },
    { "#12345", 0u, 0 },
    { "#12", 0u, 0 },
    { "", 0u, 0 },
    { "#12345G", 0x0FF12345u, 5 }, // read up to the G: "xFF12345" and "x5G3412"
    { "#GG0000", 0x000000FFu, 0 }, // "xFFGG0000" keeps "xFF"; "x0000GG" keeps "x0000"
    { "255", 255u, 255 },
    { "-1", 0xFFFFFFFFu, -1 },
};

} // namespace

TEST(ColourCodes, ReadsBothWays)
{
    for (const auto& c : kReadCases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(HTMLToAlphaColor(QString::fromUtf8(c.text)), c.alpha);
        EXPECT_EQ(HTMLToTColor(QString::fromUtf8(c.text)), c.vcl);
    }
}

TEST(ColourCodes, WritesSevenUpperCaseCharactersWithoutAlpha)
{
    const std::pair<TAlphaColor, const char*> cases[] = {
        { 0xFFFF8000u, "#FF8000" },
        { 0x00000000u, "#000000" },
        { 0x12ABCDEFu, "#ABCDEF" },
        { 0xFFFFFFFFu, "#FFFFFF" },
        { 0x0000000Au, "#00000A" },
        { 0x0FF12345u, "#F12345" },
    };
    for (const auto& [c, code] : cases)
        EXPECT_EQ(AlphaColorToHTML(c), QString::fromLatin1(code)) << std::hex << c;
}

TEST(ColourCodes, ConversionsSwapRedAndBlueAndSetOrClearTheTopByte)
{
    EXPECT_EQ(AlphaColorToTColor(0x80FF8000u), 0x000080FF);
    EXPECT_EQ(AlphaColorToTColor(0x00123456u), 0x00563412);
    EXPECT_EQ(TColorToAlphaColor(0x000080FF), 0xFFFF8000u);
    EXPECT_EQ(TColorToAlphaColor(0x00563412), 0xFF123456u);
    EXPECT_EQ(TColorToAlphaColor(-1), 0xFFFFFFFFu);
    for (quint32 rgb = 0; rgb < 0x01000000u; rgb += 0x010203u) {
        const TAlphaColor c = 0xFF000000u | rgb;
        ASSERT_EQ(TColorToAlphaColor(AlphaColorToTColor(c)), c);
        ASSERT_EQ(HTMLToAlphaColor(AlphaColorToHTML(c)), c);
        ASSERT_EQ(HTMLToTColor(AlphaColorToHTML(c)), AlphaColorToTColor(c));
    }
}

TEST(ColourCodes, NamedColoursAreTheKeywordsInOrderThenNull)
{
    const auto colours = NamedColors();
    ASSERT_EQ(colours.size(), 148u);
    EXPECT_STREQ(colours.back().name, "Null");
    EXPECT_EQ(colours.back().value, 0u);

    QSet<QString> names;
    for (std::size_t i = 0; i + 1 < colours.size(); ++i) {
        const QString name = QString::fromLatin1(colours[i].name);
        SCOPED_TRACE(colours[i].name);
        EXPECT_EQ(colours[i].value >> 24, 0xFFu);
        EXPECT_TRUE(name.front().isUpper());
        EXPECT_EQ(name.mid(1), name.mid(1).toLower());
        if (i > 0) {
            EXPECT_LT(QString::fromLatin1(colours[i - 1].name), name);
        }
        names.insert(name);
    }
    for (const char* name : { "Gray", "Grey", "Darkslategray", "Darkslategrey", "Lightgray",
             "Lightgrey", "Aliceblue", "Yellowgreen", "Lightgoldenrodyellow" })
        EXPECT_TRUE(names.contains(QString::fromLatin1(name))) << name;
}
