// The table of every text a user can see in a message: errors, notices and questions. The run's,
// the file list's, the profiles' and the command line's texts are English; the platform's, the
// settings store's and the decoders' errors German.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace parvula::errors {

enum class TCode {
    // Reading and writing picture files
    FileNotFound,
    NotAFile,
    FileTooLarge,
    FileCannotOpen,
    FileCannotRead,
    FileCannotWrite,
    UnknownExtension,
    // Picture sizes, checked before memory is taken
    ImageSizeInvalid,
    ImageSideTooLarge,
    ImagePixelsTooMany,
    BitmapDepthUnsupported,
    // Decoders and encoders
    BmpNotBmp,
    BmpHeaderTruncated,
    BmpHeaderSize,
    BmpMasksMissing,
    BmpSizeInvalid,
    BmpRle8Depth,
    BmpRle4Depth,
    BmpRleTopDown,
    BmpMasksDepth,
    BmpCompression,
    BmpDepth,
    BmpPalette,
    BmpDataOutside,
    BmpDataShort,
    BmpRleTruncated,
    BmpTooLargeToWrite,
    JpegLibrary,
    JpegScansTooMany,
    JpegChangedWhileRead,
    JpegNoMoreRows,
    PngLibrary,
    PngNotPng,
    PngTruncated,
    PngDataTooShort,
    PngLibpngInit,
    PngZlibInit,
    PngZlibCompress,
    GifCannotOpen,
    GifWriteFailed,
    GifWriteOrder,
    GifNoColourTable,
    GifDataTooBig,
    GifNoMemory,
    GifCannotClose,
    GifEndsEarly,
    GifNotGif,
    GifNoScreenDescriptor,
    GifNoImageDescriptor,
    GifNotReadable,
    GifImageDefect,
    GifUnknownError,
    GifColourMap,
    GifFramesTooMany,
    GifFrameSize,
    GifPixelsTooMany,
    GifFrameBeyondFile,
    GifScreenSize,
    GifUnknownRecord,
    GifNoImage,
    IcoNotIcon,
    IcoNoImage,
    IcoEntriesTooMany,
    IcoDirectoryShort,
    IcoNoCompleteImage,
    // The photo formats read through their libraries (HEIF, AVIF, WebP, TIFF): %1 the format
    PhotoNotFormat,
    PhotoDamaged,
    PhotoUnsupported,
    PhotoUndecodable,
    PhotoNoImage,
    PhotoNoMemory,
    PhotoSizeInvalid,
    PhotoSideTooLarge,
    PhotoPixelsTooMany,
    PhotoSideLimit,
    PhotoLibraryMissing,
    WebpTooLargeToWrite,
    WebpEncodeFailed,
    // Drawing, resampling, tint and colour reduction
    DrawTargetDepth,
    SourceBitmapTooSmall,
    ResampleInvalidScale,
    ResampleNoKernel,
    StretchDepth,
    UnknownFilter,
    ReduceDepth,
    TintNoBitmap,
    // The batch run
    NoFreeName,
    NothingToWrite,
    CannotCreateIn,
    CannotWriteOutput,
    CannotCreateFolder,
    CannotKeepDate,
    MetadataLocationKept,
    Created,
    // The file list
    ListInsert,
    DropFilesCut,
    DropDepthCut,
    DropUnreadable,
    DropUndecodable,
    // Settings and profiles
    SettingsCannotWrite,
    SettingsCannotRead,
    NotAnInteger,
    ProfileSaveAs,
    ProfileDelete,
    // The platform
    StyleNotFound,
    // parvula-cli's own lines
    CliTryHelp,
    CliDryRun,
    CliStopped,
    // parvula-cli's command line: the usage errors, from here to the end
    UsageNeedsNumber,
    UsageNeedsValue,
    UsageUnknownFilter,
    UsageUnknownFormat,
    UsageQuality,
    UsageProfileName,
    UsageJobs,
    UsageUnknownOption,
    UsageProfileAndLast,
    UsageNoPaths,
    UsageNoSection,
    UsageNoSuchPath,
    UsageUnknownChoice,
};

// Whether a code says that a command line cannot be carried out as written.
bool IsUsageError(TCode code);

// The message's text: its template from the table with "%p" replaced by path and "%1", "%2", …
// by the details in order. A placeholder without a value stays empty.
std::string MessageText(
    TCode code, std::string_view path = {}, const std::vector<std::string>& details = {});

// The template itself, for tests that check a text word for word.
std::string_view MessageTemplate(TCode code);

} // namespace parvula::errors
