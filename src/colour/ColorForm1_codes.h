// Colour types, HTML colour codes and their readings, and the table of named colours.
#pragma once

#include <span>

#include <QString>
#include <QtGlobal>

namespace parvula::colour {

// Alpha in the high byte, then red, green, blue (AARRGGBB).
using TAlphaColor = quint32;
// Red in the low byte, then green, then blue; the top byte is zero for a plain RGB colour.
using TColor = qint32;

// All bits set: opaque white, and also "no colour preset" for the picker.
inline constexpr TAlphaColor kNoPreset = 0xFFFFFFFFu;

struct TNamedColor {
    const char* name;
    TAlphaColor value;
};

// "#RRGGBB" in upper case; the alpha is never written.
QString AlphaColorToHTML(TAlphaColor c);
// Lenient: "#RRGGBB…" reads as opaque FFRRGGBB, anything else as a number (0 when none).
TAlphaColor HTMLToAlphaColor(const QString& t);
// Lenient: "#RRGGBB…" reads as 00BBGGRR, anything else as a number (0 when none).
TColor HTMLToTColor(const QString& t);
TColor AlphaColorToTColor(TAlphaColor c);
TAlphaColor TColorToAlphaColor(TColor c);

// Black or white, whichever stands out more against c (by relative luminance, alpha ignored):
// text in that colour stays readable on every colour c can be.
TAlphaColor CaptionTextOn(TAlphaColor c);

// The 147 extended colour keywords in alphabetical order, then "Null" (transparent black).
std::span<const TNamedColor> NamedColors();

} // namespace parvula::colour
