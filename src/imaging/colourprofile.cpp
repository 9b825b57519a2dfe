// Colour profiles through lcms2: the sRGB test, the conversion of RGB and grey pictures to sRGB,
// CMYK rows through their profile, and H.273 colour descriptions built into profiles.
#include "imaging/colourprofile.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include <lcms2.h>

namespace parvula::imaging {

namespace {

    constexpr cmsUInt32Number kIntent = INTENT_RELATIVE_COLORIMETRIC;
    // Each call of cmsDoTransform keeps its own cache since lcms2 2.3; the flag only spares the
    // transform a cache that photos, with hardly two equal pixels in a row, never hit.
    constexpr cmsUInt32Number kFlags = cmsFLAGS_NOCACHE;
    // How far a profile's conversion to sRGB may move a value while the profile still counts as
    // sRGB: the sRGB profiles in the wild (v2 with 1024-entry curves, v4 parametric, the compact
    // ones) differ from lcms2's own by rounding alone.
    constexpr int kSrgbTolerance = 1;
    // Conversions kept at most; a batch rarely holds more than a few profiles.
    constexpr std::size_t kMostCachedConversions = 32;

    // lcms2's functions other than cmsDoTransform share state of the global context: profiles
    // and transforms are made, and the cache is read, under this one lock.
    std::mutex& CmsLock()
    {
        static std::mutex lock;
        return lock;
    }

    // lcms2 reports a damaged profile through the log handler before its function fails; the
    // failure is answered by leaving the picture as stored, so the text goes nowhere.
    void QuietLog(cmsContext, cmsUInt32Number, const char*) { }

    void SilenceLcms()
    {
        static std::once_flag once;
        std::call_once(once, [] { cmsSetLogErrorHandler(QuietLog); });
    }

    struct TProfileCloser {
        void operator()(void* profile) const { cmsCloseProfile(profile); }
    };
    using TProfile = std::unique_ptr<void, TProfileCloser>;

    struct TTransformDeleter {
        void operator()(void* transform) const { cmsDeleteTransform(transform); }
    };
    using TTransform = std::unique_ptr<void, TTransformDeleter>;

    struct TToneCurveFree {
        void operator()(cmsToneCurve* curve) const { cmsFreeToneCurve(curve); }
    };

    // What is known about one colour description.
    struct TConversion {
        enum class TKind { Srgb, Rgb, Grey, Unusable } kind = TKind::Unusable;
        TTransform rgb; // 24-bit rows to 24-bit rows, for TKind::Rgb
        std::array<std::uint8_t, 256> grey {}; // a grey value to its sRGB value, for TKind::Grey
    };

    TProfile SrgbProfile() { return TProfile(cmsCreate_sRGBProfile()); }

    // The primaries and white point of the H.273 colour primaries codes that stills use.
    bool H273Primaries(int code, cmsCIExyYTRIPLE& primaries, cmsCIExyY& white)
    {
        struct TRow {
            int code;
            double rx, ry, gx, gy, bx, by, wx, wy;
        };
        static constexpr TRow kRows[] = {
            { 1, 0.640, 0.330, 0.300, 0.600, 0.150, 0.060, 0.3127, 0.3290 }, // BT.709, sRGB
            { 4, 0.670, 0.330, 0.210, 0.710, 0.140, 0.080, 0.3100, 0.3160 }, // BT.470 M
            { 5, 0.640, 0.330, 0.290, 0.600, 0.150, 0.060, 0.3127, 0.3290 }, // BT.470 BG
            { 6, 0.630, 0.340, 0.310, 0.595, 0.155, 0.070, 0.3127, 0.3290 }, // SMPTE 170M
            { 7, 0.630, 0.340, 0.310, 0.595, 0.155, 0.070, 0.3127, 0.3290 }, // SMPTE 240M
            { 9, 0.708, 0.292, 0.170, 0.797, 0.131, 0.046, 0.3127, 0.3290 }, // BT.2020
            { 11, 0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.3140, 0.3510 }, // DCI-P3
            { 12, 0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.3127, 0.3290 }, // Display P3
        };
        // "Unspecified" primaries are taken as those of sRGB, as for an untagged picture.
        if (code == 2)
            code = 1;
        for (const TRow& row : kRows) {
            if (row.code != code)
                continue;
            primaries.Red = { row.rx, row.ry, 1.0 };
            primaries.Green = { row.gx, row.gy, 1.0 };
            primaries.Blue = { row.bx, row.by, 1.0 };
            white = { row.wx, row.wy, 1.0 };
            return true;
        }
        return false;
    }

    // The curve from coded values to linear light of an H.273 transfer characteristics code:
    // the sRGB curve, the inverse of the BT.709 camera curve (which BT.601 and BT.2020 share),
    // linear, and the two plain gammas. HDR curves (PQ, HLG) have no meaning in an 8-bit sRGB
    // thumbnail and are not converted.
    cmsToneCurve* H273Curve(int code)
    {
        switch (code) {
        case 2: // unspecified: as an untagged picture
        case 13: {
            const cmsFloat64Number srgb[5]
                = { 2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045 };
            return cmsBuildParametricToneCurve(nullptr, 4, srgb);
        }
        case 1:
        case 6:
        case 14:
        case 15: {
            const cmsFloat64Number bt709[5]
                = { 1.0 / 0.45, 1.0 / 1.099, 0.099 / 1.099, 1.0 / 4.5, 0.081 };
            return cmsBuildParametricToneCurve(nullptr, 4, bt709);
        }
        case 4:
        case 5:
        case 8: {
            const cmsFloat64Number gamma[1] = { code == 4 ? 2.2 : code == 5 ? 2.8 : 1.0 };
            return cmsBuildParametricToneCurve(nullptr, 1, gamma);
        }
        default:
            return nullptr;
        }
    }

    TProfile ProfileOfH273(int primariesCode, int transferCode)
    {
        cmsCIExyYTRIPLE primaries;
        cmsCIExyY white;
        if (!H273Primaries(primariesCode, primaries, white))
            return nullptr;
        const std::unique_ptr<cmsToneCurve, TToneCurveFree> curve(H273Curve(transferCode));
        if (!curve)
            return nullptr;
        cmsToneCurve* const curves[3] = { curve.get(), curve.get(), curve.get() };
        return TProfile(cmsCreateRGBProfile(&white, &primaries, curves));
    }

    // Every grey level, every level of each primary alone and a coarse cube: where a conversion
    // that moves none of them by more than the tolerance is taken for no conversion at all.
    std::vector<std::uint8_t> SrgbProbe()
    {
        std::vector<std::uint8_t> probe;
        for (int v = 0; v < 256; ++v) {
            probe.insert(probe.end(), { std::uint8_t(v), std::uint8_t(v), std::uint8_t(v) });
            probe.insert(probe.end(), { std::uint8_t(v), 0, 0 });
            probe.insert(probe.end(), { 0, std::uint8_t(v), 0 });
            probe.insert(probe.end(), { 0, 0, std::uint8_t(v) });
        }
        for (int r = 0; r < 256; r += 17)
            for (int g = 0; g < 256; g += 17)
                for (int b = 0; b < 256; b += 17)
                    probe.insert(
                        probe.end(), { std::uint8_t(b), std::uint8_t(g), std::uint8_t(r) });
        return probe;
    }

    bool MovesWithin(
        const std::vector<std::uint8_t>& before, const std::vector<std::uint8_t>& after)
    {
        for (std::size_t i = 0; i < before.size(); ++i)
            if (std::abs(int(before[i]) - int(after[i])) > kSrgbTolerance)
                return false;
        return true;
    }

    // The data colour space of a profile's header. Read from the bytes, not through
    // cmsGetColorSpace: a damaged header holds any number, and lcms2 hands it over as a value of
    // its enumeration, which C++ does not allow.
    std::uint32_t SpaceOfProfile(std::span<const std::uint8_t> icc)
    {
        if (icc.size() < 20)
            return 0;
        return (std::uint32_t { icc[16] } << 24) | (std::uint32_t { icc[17] } << 16)
            | (std::uint32_t { icc[18] } << 8) | icc[19];
    }

    // Called under the lock.
    std::shared_ptr<TConversion> MakeRgbConversion(void* source, std::uint32_t space)
    {
        auto conversion = std::make_shared<TConversion>();
        const TProfile srgb = SrgbProfile();
        if (!source || !srgb)
            return conversion;
        if (space == cmsSigRgbData) {
            conversion->rgb.reset(
                cmsCreateTransform(source, TYPE_BGR_8, srgb.get(), TYPE_BGR_8, kIntent, kFlags));
            if (!conversion->rgb)
                return conversion;
            const std::vector<std::uint8_t> probe = SrgbProbe();
            std::vector<std::uint8_t> converted(probe.size());
            cmsDoTransform(conversion->rgb.get(), probe.data(), converted.data(),
                static_cast<cmsUInt32Number>(probe.size() / 3));
            if (MovesWithin(probe, converted)) {
                conversion->rgb.reset();
                conversion->kind = TConversion::TKind::Srgb;
            } else {
                conversion->kind = TConversion::TKind::Rgb;
            }
        } else if (space == cmsSigGrayData) {
            const TTransform transform(
                cmsCreateTransform(source, TYPE_GRAY_8, srgb.get(), TYPE_RGB_8, kIntent, kFlags));
            if (!transform)
                return conversion;
            std::array<std::uint8_t, 256> levels;
            for (int v = 0; v < 256; ++v)
                levels[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(v);
            std::array<std::uint8_t, 256 * 3> rgb;
            cmsDoTransform(transform.get(), levels.data(), rgb.data(), 256);
            bool moved = false;
            for (int v = 0; v < 256; ++v) {
                // A grey profile's white is the sRGB white, so its greys stay grey up to
                // rounding; green carries most of the brightness.
                const std::uint8_t out = rgb[3 * static_cast<std::size_t>(v) + 1];
                conversion->grey[static_cast<std::size_t>(v)] = out;
                moved = moved || std::abs(int(out) - v) > kSrgbTolerance;
            }
            conversion->kind = moved ? TConversion::TKind::Grey : TConversion::TKind::Srgb;
        }
        return conversion;
    }

    template <typename TValue> class TCache {
    public:
        // The entry for key, made by make (under the lock) when it is not yet known.
        template <typename TMake>
        std::shared_ptr<const TValue> Find(const std::string& key, TMake&& make)
        {
            const std::lock_guard<std::mutex> lock(CmsLock());
            SilenceLcms();
            if (const auto found = m_entries.find(key); found != m_entries.end())
                return found->second;
            if (m_entries.size() >= kMostCachedConversions)
                m_entries.clear();
            std::shared_ptr<const TValue> made = make();
            m_entries.emplace(key, made);
            return made;
        }

    private:
        std::map<std::string, std::shared_ptr<const TValue>> m_entries;
    };

    std::shared_ptr<const TConversion> ConversionOf(const TColourDescription& colours)
    {
        static TCache<TConversion> cache;
        if (!colours.icc.empty()) {
            std::string key = "icc:";
            key.append(colours.icc.begin(), colours.icc.end());
            return cache.Find(key, [&] {
                const TProfile profile(cmsOpenProfileFromMem(
                    colours.icc.data(), static_cast<cmsUInt32Number>(colours.icc.size())));
                return MakeRgbConversion(profile.get(), SpaceOfProfile(colours.icc));
            });
        }
        const std::string key
            = "h273:" + std::to_string(colours.primaries) + ":" + std::to_string(colours.transfer);
        return cache.Find(key, [&] {
            const TProfile profile = ProfileOfH273(colours.primaries, colours.transfer);
            return MakeRgbConversion(profile.get(), cmsSigRgbData);
        });
    }

    // The plain cases of sRGB need no profile at all.
    bool NamesSrgb(const TColourDescription& colours)
    {
        return colours.icc.empty() && (colours.primaries == 1 || colours.primaries == 2)
            && (colours.transfer == 13 || colours.transfer == 2);
    }

    class TLcmsCmykConversion final : public TCmykConversion {
    public:
        explicit TLcmsCmykConversion(TTransform transform)
            : m_transform(std::move(transform))
        {
        }
        void ConvertRow(
            const std::uint8_t* cmyk, std::uint8_t* bgr, int width) const noexcept override
        {
            cmsDoTransform(m_transform.get(), cmyk, bgr, static_cast<cmsUInt32Number>(width));
        }

    private:
        TTransform m_transform;
    };

} // namespace

bool IsSrgb(const TColourDescription& colours)
{
    if (colours.Empty() || NamesSrgb(colours))
        return true;
    return ConversionOf(colours)->kind == TConversion::TKind::Srgb;
}

bool ConvertToSrgb(TBitmap& bitmap, const TColourDescription& colours)
{
    if (colours.Empty() || NamesSrgb(colours) || bitmap.BitsPerPixel() != 24)
        return false;
    const std::shared_ptr<const TConversion> conversion = ConversionOf(colours);
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    switch (conversion->kind) {
    case TConversion::TKind::Rgb:
        if (width > 0 && height > 0)
            cmsDoTransformLineStride(conversion->rgb.get(), bitmap.ScanLine(0), bitmap.ScanLine(0),
                static_cast<cmsUInt32Number>(width), static_cast<cmsUInt32Number>(height),
                static_cast<cmsUInt32Number>(bitmap.Stride()),
                static_cast<cmsUInt32Number>(bitmap.Stride()), 0, 0);
        return true;
    case TConversion::TKind::Grey:
        // Each channel through the grey curve: a grey picture stays grey, exactly.
        for (int y = 0; y < height; ++y) {
            std::uint8_t* p = bitmap.ScanLine(y);
            for (std::size_t i = 0; i < static_cast<std::size_t>(width) * 3; ++i)
                p[i] = conversion->grey[p[i]];
        }
        return true;
    default:
        return false;
    }
}

std::shared_ptr<const TCmykConversion> CmykConversion(
    std::span<const std::uint8_t> icc, bool inverted)
{
    static TCache<TCmykConversion> cache;
    std::string key = inverted ? "cmyk-inverted:" : "cmyk:";
    key.append(icc.begin(), icc.end());
    return cache.Find(key, [&]() -> std::shared_ptr<const TCmykConversion> {
        const TProfile profile(
            cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size())));
        if (!profile || SpaceOfProfile(icc) != cmsSigCmykData)
            return nullptr;
        const TProfile srgb = SrgbProfile();
        // Paper is not as dark as a screen's black: with black-point compensation the darkest
        // ink becomes black instead of a washed-out grey, as print-to-screen previews show it.
        TTransform transform(
            cmsCreateTransform(profile.get(), inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8, srgb.get(),
                TYPE_BGR_8, kIntent, kFlags | cmsFLAGS_BLACKPOINTCOMPENSATION));
        if (!transform)
            return nullptr;
        return std::make_shared<TLcmsCmykConversion>(std::move(transform));
    });
}

TColourDescription PictureColours(const TPicture& picture)
{
    return picture.Graphic() ? picture.Graphic()->Colours() : TColourDescription {};
}

} // namespace parvula::imaging
