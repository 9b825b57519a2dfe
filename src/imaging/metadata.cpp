// Copying EXIF, XMP and IPTC from a source into its output's bytes, through exiv2.
#include "imaging/metadata.h"

#include <algorithm>
#include <array>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>

// exiv2 0.27 hands its images out as std::auto_ptr, which C++17 deprecates.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#include <exiv2/webpimage.hpp>
#pragma GCC diagnostic pop

#include "errors/errors.h"
#include "imaging/imagefiles_internal.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace parvula::imaging {

namespace {

    // exiv2 keeps process-wide state (its XMP toolkit, the registered namespaces, the log
    // level) that is not safe to use from several threads at once; the run encodes on several.
    // The metadata is small beside the pictures, so one lock around all of it costs little.
    std::recursive_mutex& Exiv2Lock()
    {
        static std::recursive_mutex lock;
        return lock;
    }

    void XmpLock(void* data, bool lock)
    {
        auto* mutex = static_cast<std::recursive_mutex*>(data);
        if (lock)
            mutex->lock();
        else
            mutex->unlock();
    }

    void StartExiv2()
    {
        static std::once_flag once;
        std::call_once(once, [] {
            // Its warnings and errors would go to stderr; no library's text reaches the user.
            Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
            Exiv2::LogMsg::setHandler(nullptr);
            Exiv2::XmpParser::initialize(XmpLock, &Exiv2Lock());
            // HEIF and AVIF sources carry EXIF and XMP in their boxes.
            Exiv2::enableBMFF(true);
        });
    }

    bool TakesMetadata(int type)
    {
        return type == Exiv2::ImageType::jpeg || type == Exiv2::ImageType::png
            || type == Exiv2::ImageType::webp;
    }

    Exiv2::Image::AutoPtr Open(std::span<const std::uint8_t> bytes)
    {
        // exiv2 copies the bytes into its own memory; the source is never written.
        return Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte*>(bytes.data()), static_cast<long>(bytes.size()));
    }

    TBytes BytesOf(Exiv2::Image& image)
    {
        Exiv2::BasicIo& io = image.io();
        if (io.open() != 0)
            throw Exiv2::Error(Exiv2::kerDataSourceOpenFailed);
        io.seek(0, Exiv2::BasicIo::beg);
        TBytes bytes(io.size());
        const long read = io.read(bytes.data(), static_cast<long>(bytes.size()));
        io.close();
        if (read != static_cast<long>(bytes.size()))
            throw Exiv2::Error(Exiv2::kerFailedToReadImageData);
        return bytes;
    }

    // exiv2 0.27 misses the EXIF item of some HEIF files, among them those libheif writes, which
    // libheif itself reads. Fills in what exiv2 left empty.
    void ReadHeifMetadata(
        std::span<const std::uint8_t> bytes, Exiv2::ExifData& exif, Exiv2::XmpData& xmp)
    {
        const THeifMetadata blocks = HeifMetadata(bytes);
        if (exif.empty() && !blocks.exif.empty())
            Exiv2::ExifParser::decode(
                exif, blocks.exif.data(), static_cast<long>(blocks.exif.size()));
        if (xmp.empty() && !blocks.xmp.empty())
            Exiv2::XmpParser::decode(xmp, blocks.xmp);
    }

    bool StartsWith(std::string_view text, std::string_view start)
    {
        return text.substr(0, start.size()) == start;
    }

    template <class TData, class TPredicate> bool EraseIf(TData& data, TPredicate erase)
    {
        bool erased = false;
        for (auto it = data.begin(); it != data.end();) {
            if (erase(it->key())) {
                it = data.erase(it);
                erased = true;
            } else {
                ++it;
            }
        }
        return erased;
    }

    // The places of a photo: where it was taken and what it shows. Structures such as
    // LocationCreated are erased with every field below them.
    bool IsXmpLocation(std::string_view key)
    {
        static constexpr std::array<std::string_view, 7> kLocations { "Xmp.photoshop.City",
            "Xmp.photoshop.State", "Xmp.photoshop.Country", "Xmp.iptc.Location",
            "Xmp.iptc.CountryCode", "Xmp.iptcExt.LocationCreated", "Xmp.iptcExt.LocationShown" };
        if (StartsWith(key, "Xmp.exif.GPS"))
            return true;
        return std::any_of(kLocations.begin(), kLocations.end(), [&](std::string_view location) {
            return key == location
                || (StartsWith(key, location)
                    && (key[location.size()] == '[' || key[location.size()] == '/'));
        });
    }

    bool IsIptcLocation(std::string_view key)
    {
        static constexpr std::array<std::string_view, 5> kLocations { "Iptc.Application2.City",
            "Iptc.Application2.ProvinceState", "Iptc.Application2.CountryName",
            "Iptc.Application2.CountryCode", "Iptc.Application2.SubLocation" };
        return std::find(kLocations.begin(), kLocations.end(), key) != kLocations.end();
    }

    bool EraseLocation(Exiv2::ExifData& exif, Exiv2::XmpData& xmp, Exiv2::IptcData& iptc)
    {
        bool erased = EraseIf(exif, [](const std::string& key) {
            return StartsWith(key, "Exif.GPSInfo.") || key == "Exif.Image.GPSTag";
        });
        erased |= EraseIf(xmp, [](const std::string& key) { return IsXmpLocation(key); });
        erased |= EraseIf(iptc, [](const std::string& key) { return IsIptcLocation(key); });
        return erased;
    }

    // Tags of the first directory that describe how a TIFF source lays out its own pixels, and
    // its colour profile: they say nothing true of the output.
    bool IsSourceLayout(std::string_view key)
    {
        static constexpr std::array<std::string_view, 19> kLayout { "Exif.Image.NewSubfileType",
            "Exif.Image.SubfileType", "Exif.Image.BitsPerSample", "Exif.Image.Compression",
            "Exif.Image.PhotometricInterpretation", "Exif.Image.StripOffsets",
            "Exif.Image.SamplesPerPixel", "Exif.Image.RowsPerStrip", "Exif.Image.StripByteCounts",
            "Exif.Image.PlanarConfiguration", "Exif.Image.Predictor", "Exif.Image.TileWidth",
            "Exif.Image.TileLength", "Exif.Image.TileOffsets", "Exif.Image.TileByteCounts",
            "Exif.Image.SubIFDs", "Exif.Image.ExtraSamples", "Exif.Image.SampleFormat",
            "Exif.Image.InterColorProfile" };
        return std::find(kLayout.begin(), kLayout.end(), key) != kLayout.end();
    }

    template <class TData> void SetIfPresent(TData& data, const char* key, std::uint32_t value)
    {
        using TKey = std::conditional_t<std::is_same_v<TData, Exiv2::ExifData>, Exiv2::ExifKey,
            Exiv2::XmpKey>;
        if (data.findKey(TKey(key)) == data.end())
            return;
        if constexpr (std::is_same_v<TData, Exiv2::ExifData>)
            data[key] = value;
        else
            data[key] = std::to_string(value);
    }

    // The source's metadata made true of the output: its size, no thumbnail of the source,
    // upright when the picture was turned, sRGB when it was converted.
    void FitToOutput(Exiv2::ExifData& exif, Exiv2::XmpData& xmp, std::uint32_t width,
        std::uint32_t height, bool turnedUpright, bool srgb)
    {
        Exiv2::ExifThumb(exif).erase();
        EraseIf(exif, [](const std::string& key) { return IsSourceLayout(key); });
        for (const char* key : { "Exif.Photo.PixelXDimension", "Exif.Image.ImageWidth" })
            SetIfPresent(exif, key, width);
        for (const char* key : { "Exif.Photo.PixelYDimension", "Exif.Image.ImageLength" })
            SetIfPresent(exif, key, height);
        for (const char* key : { "Xmp.exif.PixelXDimension", "Xmp.tiff.ImageWidth" })
            SetIfPresent(xmp, key, width);
        for (const char* key : { "Xmp.exif.PixelYDimension", "Xmp.tiff.ImageLength" })
            SetIfPresent(xmp, key, height);
        if (turnedUpright) {
            if (exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation")) != exif.end())
                exif["Exif.Image.Orientation"] = static_cast<std::uint16_t>(1);
            SetIfPresent(xmp, "Xmp.tiff.Orientation", 1);
        }
        if (srgb) {
            // A camera's "Adobe RGB" is "uncalibrated" (65535) with the interoperability index
            // R03; sRGB is 1 and R98.
            SetIfPresent(exif, "Exif.Photo.ColorSpace", 1);
            SetIfPresent(xmp, "Xmp.exif.ColorSpace", 1);
            if (exif.findKey(Exiv2::ExifKey("Exif.Iop.InteroperabilityIndex")) != exif.end())
                exif["Exif.Iop.InteroperabilityIndex"] = "R98";
        }
    }

    // The source's own bytes written as the output: only the location can go.
    TBytes WithoutLocation(TBytes output, const std::filesystem::path& sourcePath)
    {
        // BMP, GIF and icons carry none of it, nor do bytes no reader of exiv2 knows.
        int type = Exiv2::ImageType::none;
        try {
            type = Exiv2::ImageFactory::getType(output.data(), static_cast<long>(output.size()));
        } catch (const std::exception&) {
        }
        if (!TakesMetadata(type))
            return output;
        try {
            Exiv2::Image::AutoPtr image = Open(output);
            image->readMetadata();
            if (!EraseLocation(image->exifData(), image->xmpData(), image->iptcData()))
                return output;
            image->writeMetadata();
            return BytesOf(*image);
        } catch (const std::exception&) {
        }
        throw errors::EError(errors::TCode::MetadataLocationKept, errors::PathText(sourcePath));
    }

} // namespace

std::vector<std::uint8_t> WithMetadata(std::span<const std::uint8_t> source,
    std::vector<std::uint8_t> output, const TMetadataOptions& options,
    const std::filesystem::path& sourcePath)
{
    const TMetadataCopy copy = options.copy;
    if (copy == TMetadataCopy::None)
        return output;
    const std::lock_guard<std::recursive_mutex> lock(Exiv2Lock());
    StartExiv2();
    const bool sourceBytes = output.size() == source.size()
        && std::equal(output.begin(), output.end(), source.begin());
    if (sourceBytes)
        return copy == TMetadataCopy::NoLocation ? WithoutLocation(std::move(output), sourcePath)
                                                 : output;
    try {
        Exiv2::Image::AutoPtr target = Open(output);
        if (!TakesMetadata(target->imageType()))
            return output;
        // The output's own pixel size, as its writer wrote it.
        target->readMetadata();
        const auto width = static_cast<std::uint32_t>(target->pixelWidth());
        const auto height = static_cast<std::uint32_t>(target->pixelHeight());

        Exiv2::Image::AutoPtr from = Open(source);
        from->readMetadata();
        Exiv2::ExifData exif = from->exifData();
        Exiv2::XmpData xmp = from->xmpData();
        Exiv2::IptcData iptc = from->iptcData();
        if (from->imageType() == Exiv2::ImageType::bmff && (exif.empty() || xmp.empty()))
            ReadHeifMetadata(source, exif, xmp);
        if (copy == TMetadataCopy::NoLocation)
            EraseLocation(exif, xmp, iptc);
        if (exif.empty() && xmp.empty() && iptc.empty())
            return output;
        FitToOutput(exif, xmp, width, height, options.turnedUpright, options.convertedToSrgb);
        target->setExifData(exif);
        target->setXmpData(xmp);
        // Written without the room for editing in place that exiv2 leaves by default, some 2 KB
        // that would weigh more than many a thumbnail's metadata.
        std::string packet;
        if (!xmp.empty()
            && Exiv2::XmpParser::encode(packet, xmp,
                   Exiv2::XmpParser::useCompactFormat | Exiv2::XmpParser::omitAllFormatting
                       | Exiv2::XmpParser::readOnlyPacket)
                == 0) {
            target->setXmpPacket(packet);
            target->writeXmpFromPacket(true);
        }
        target->setIptcData(iptc);
        target->writeMetadata();
        return BytesOf(*target);
    } catch (const std::exception&) {
        // Metadata exiv2 cannot read or write: the output goes out as its writer made it, which
        // carries none, so nothing the user chose to leave out can slip through.
        return output;
    }
}

} // namespace parvula::imaging
