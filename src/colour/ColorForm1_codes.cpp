// Colour types, HTML colour codes and their readings, and the table of named colours.
#include "colour/ColorForm1_codes.h"

#include <array>
#include <cmath>

#include "framework/spz1_text.h"

namespace parvula::colour {

namespace {

    constexpr std::array<TNamedColor, 148> kNamedColors { {
        { "Aliceblue", 0xFFF0F8FF },
        { "Antiquewhite", 0xFFFAEBD7 },
        { "Aqua", 0xFF00FFFF },
        { "Aquamarine", 0xFF7FFFD4 },
        { "Azure", 0xFFF0FFFF },
        { "Beige", 0xFFF5F5DC },
        { "Bisque", 0xFFFFE4C4 },
        { "Black", 0xFF000000 },
        { "Blanchedalmond", 0xFFFFEBCD },
        { "Blue", 0xFF0000FF },
        { "Blueviolet", 0xFF8A2BE2 },
        { "Brown", 0xFFA52A2A },
        { "Burlywood", 0xFFDEB887 },
        { "Cadetblue", 0xFF5F9EA0 },
        { "Chartreuse", 0xFF7FFF00 },
        { "Chocolate", 0xFFD2691E },
        { "Coral", 0xFFFF7F50 },
        { "Cornflowerblue", 0xFF6495ED },
        { "Cornsilk", 0xFFFFF8DC },
        { "Crimson", 0xFFDC143C },
        { "Cyan", 0xFF00FFFF },
        { "Darkblue", 0xFF00008B },
        { "Darkcyan", 0xFF008B8B },
        { "Darkgoldenrod", 0xFFB8860B },
        { "Darkgray", 0xFFA9A9A9 },
        { "Darkgreen", 0xFF006400 },
        { "Darkgrey", 0xFFA9A9A9 },
        { "Darkkhaki", 0xFFBDB76B },
        { "Darkmagenta", 0xFF8B008B },
        { "Darkolivegreen", 0xFF556B2F },
        { "Darkorange", 0xFFFF8C00 },
        { "Darkorchid", 0xFF9932CC },
        { "Darkred", 0xFF8B0000 },
        { "Darksalmon", 0xFFE9967A },
        { "Darkseagreen", 0xFF8FBC8F },
        { "Darkslateblue", 0xFF483D8B },
        { "Darkslategray", 0xFF2F4F4F },
        { "Darkslategrey", 0xFF2F4F4F },
        { "Darkturquoise", 0xFF00CED1 },
        { "Darkviolet", 0xFF9400D3 },
        { "Deeppink", 0xFFFF1493 },
        { "Deepskyblue", 0xFF00BFFF },
        { "Dimgray", 0xFF696969 },
        { "Dimgrey", 0xFF696969 },
        { "Dodgerblue", 0xFF1E90FF },
        { "Firebrick", 0xFFB22222 },
        { "Floralwhite", 0xFFFFFAF0 },
        { "Forestgreen", 0xFF228B22 },
        { "Fuchsia", 0xFFFF00FF },
        { "Gainsboro", 0xFFDCDCDC },
        { "Ghostwhite", 0xFFF8F8FF },
        { "Gold", 0xFFFFD700 },
        { "Goldenrod", 0xFFDAA520 },
        { "Gray", 0xFF808080 },
        { "Green", 0xFF008000 },
        { "Greenyellow", 0xFFADFF2F },
        { "Grey", 0xFF808080 },
        { "Honeydew", 0xFFF0FFF0 },
        { "Hotpink", 0xFFFF69B4 },
        { "Indianred", 0xFFCD5C5C },
        { "Indigo", 0xFF4B0082 },
        { "Ivory", 0xFFFFFFF0 },
        { "Khaki", 0xFFF0E68C },
        { "Lavender", 0xFFE6E6FA },
        { "Lavenderblush", 0xFFFFF0F5 },
        { "Lawngreen", 0xFF7CFC00 },
        { "Lemonchiffon", 0xFFFFFACD },
        { "Lightblue", 0xFFADD8E6 },
        { "Lightcoral", 0xFFF08080 },
        { "Lightcyan", 0xFFE0FFFF },
        { "Lightgoldenrodyellow", 0xFFFAFAD2 },
        { "Lightgray", 0xFFD3D3D3 },
        { "Lightgreen", 0xFF90EE90 },
        { "Lightgrey", 0xFFD3D3D3 },
        { "Lightpink", 0xFFFFB6C1 },
        { "Lightsalmon", 0xFFFFA07A },
        { "Lightseagreen", 0xFF20B2AA },
        { "Lightskyblue", 0xFF87CEFA },
        { "Lightslategray", 0xFF778899 },
        { "Lightslategrey", 0xFF778899 },
        { "Lightsteelblue", 0xFFB0C4DE },
        { "Lightyellow", 0xFFFFFFE0 },
        { "Lime", 0xFF00FF00 },
        { "Limegreen", 0xFF32CD32 },
        { "Linen", 0xFFFAF0E6 },
        { "Magenta", 0xFFFF00FF },
        { "Maroon", 0xFF800000 },
        { "Mediumaquamarine", 0xFF66CDAA },
        { "Mediumblue", 0xFF0000CD },
        { "Mediumorchid", 0xFFBA55D3 },
        { "Mediumpurple", 0xFF9370DB },
        { "Mediumseagreen", 0xFF3CB371 },
        { "Mediumslateblue", 0xFF7B68EE },
        { "Mediumspringgreen", 0xFF00FA9A },
        { "Mediumturquoise", 0xFF48D1CC },
        { "Mediumvioletred", 0xFFC71585 },
        { "Midnightblue", 0xFF191970 },
        { "Mintcream", 0xFFF5FFFA },
        { "Mistyrose", 0xFFFFE4E1 },
        { "Moccasin", 0xFFFFE4B5 },
        { "Navajowhite", 0xFFFFDEAD },
        { "Navy", 0xFF000080 },
        { "Oldlace", 0xFFFDF5E6 },
        { "Olive", 0xFF808000 },
        { "Olivedrab", 0xFF6B8E23 },
        { "Orange", 0xFFFFA500 },
        { "Orangered", 0xFFFF4500 },
        { "Orchid", 0xFFDA70D6 },
        { "Palegoldenrod", 0xFFEEE8AA },
        { "Palegreen", 0xFF98FB98 },
        { "Paleturquoise", 0xFFAFEEEE },
        { "Palevioletred", 0xFFDB7093 },
        { "Papayawhip", 0xFFFFEFD5 },
        { "Peachpuff", 0xFFFFDAB9 },
        { "Peru", 0xFFCD853F },
        { "Pink", 0xFFFFC0CB },
        { "Plum", 0xFFDDA0DD },
        { "Powderblue", 0xFFB0E0E6 },
        { "Purple", 0xFF800080 },
        { "Red", 0xFFFF0000 },
        { "Rosybrown", 0xFFBC8F8F },
        { "Royalblue", 0xFF4169E1 },
        { "Saddlebrown", 0xFF8B4513 },
        { "Salmon", 0xFFFA8072 },
        { "Sandybrown", 0xFFF4A460 },
        { "Seagreen", 0xFF2E8B57 },
        { "Seashell", 0xFFFFF5EE },
        { "Sienna", 0xFFA0522D },
        { "Silver", 0xFFC0C0C0 },
        { "Skyblue", 0xFF87CEEB },
        { "Slateblue", 0xFF6A5ACD },
        { "Slategray", 0xFF708090 },
        { "Slategrey", 0xFF708090 },
        { "Snow", 0xFFFFFAFA },
        { "Springgreen", 0xFF00FF7F },
        { "Steelblue", 0xFF4682B4 },
        { "Tan", 0xFFD2B48C },
        { "Teal", 0xFF008080 },
        { "Thistle", 0xFFD8BFD8 },
        { "Tomato", 0xFFFF6347 },
        { "Turquoise", 0xFF40E0D0 },
        { "Violet", 0xFFEE82EE },
        { "Wheat", 0xFFF5DEB3 },
        { "White", 0xFFFFFFFF },
        { "Whitesmoke", 0xFFF5F5F5 },
        { "Yellow", 0xFFFFFF00 },
        { "Yellowgreen", 0xFF9ACD32 },
        // Transparent black; the panel ignores alpha, so it shows as black.
        { "Null", 0x00000000 },
    } };

} // namespace

QString AlphaColorToHTML(TAlphaColor c)
{
    return QStringLiteral("#%1").arg(c & 0x00FFFFFFu, 6, 16, QLatin1Char('0')).toUpper();
}

TAlphaColor HTMLToAlphaColor(const QString& t)
{
    // Only the six characters after "#" count, so #RRGGBBAA reads as #RRGGBB. Anything else goes
    // to the lenient reader unchanged: "$FF8000" keeps alpha 00, "FF8000" and "#F80" read as 0.
    const QString text
        = t.size() > 6 && t.front() == u'#' ? QStringLiteral("xFF") + t.mid(1, 6) : t;
    return static_cast<TAlphaColor>(framework::StrToIntPrefix(text));
}

TColor HTMLToTColor(const QString& t)
{
    // Reorders the digit pairs to BBGGRR before reading; a bad digit cuts the number there, so
    // "#12345G" reads only "x5".
    const QString text = t.size() > 6 && t.front() == u'#'
        ? QStringLiteral("x") + t.mid(5, 2) + t.mid(3, 2) + t.mid(1, 2)
        : t;
    return framework::StrToIntPrefix(text);
}

TColor AlphaColorToTColor(TAlphaColor c)
{
    const quint32 swapped = ((c >> 16) & 0xFFu) | (c & 0xFF00u) | ((c & 0xFFu) << 16);
    return static_cast<TColor>(swapped);
}

TAlphaColor TColorToAlphaColor(TColor c)
{
    const auto u = static_cast<quint32>(c);
    return 0xFF000000u | ((u & 0xFFu) << 16) | (u & 0xFF00u) | ((u >> 16) & 0xFFu);
}

TAlphaColor CaptionTextOn(TAlphaColor c)
{
    // sRGB channels made linear, then weighed by the eye's sensitivity; contrast ratios
    // (L1 + 0.05) / (L2 + 0.05) against black and white decide.
    const auto linear = [](quint32 channel) {
        const double v = double(channel & 0xFFu) / 255.0;
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    const double luminance
        = 0.2126 * linear(c >> 16) + 0.7152 * linear(c >> 8) + 0.0722 * linear(c);
    const double onBlack = (luminance + 0.05) / 0.05;
    const double onWhite = 1.05 / (luminance + 0.05);
    return onBlack >= onWhite ? 0xFF000000u : 0xFFFFFFFFu;
}

std::span<const TNamedColor> NamedColors() { return kNamedColors; }

} // namespace parvula::colour
