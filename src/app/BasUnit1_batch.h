// The batch thumbnail run without widgets: output naming, one file, the whole run.
// The window and parvula-cli both drive it, so a run is the same wherever it starts.
#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <vector>

#include <QHash>
#include <QString>
#include <QStringList>

#include "imaging/imagefiles.h"
#include "imaging/metadata.h"

namespace parvula::app {

// Numbered candidates tried at most: name_1 to name_9999.
inline constexpr int MaxNameCandidates = 9999;

// The run's failures: the program's one error type.
using EBatchError = errors::EError;

// The settings panel's values as the run reads them for one file.
struct TBatchSettings {
    int width = 0;
    int height = 0;
    QString namex = QStringLiteral("tn_");
    int filter = -1; // the selected item's index, -1 for none; 0 or less stretches without a filter
    QString format; // an item of OutputFormatItems: "" for the source's own format
    int jpgQual = 90;
    bool useMono = false;
    QString mono; // an HTML colour code
    bool upright = true; // turn photos by their EXIF orientation before fitting
    bool shrinkOnly = false; // pictures smaller than the box keep their size
    bool coloursAsStored = false;
    // Where the outputs go: empty for beside their sources, else an absolute folder, under which
    // each output keeps its source's path relative to the folder it was dropped with.
    QString outputDir;
    // What the outputs carry of their sources' metadata.
    imaging::TMetadataCopy metadata = imaging::TMetadataCopy::None;
    bool keepDates = false; // each output takes its source's modification time
};

// The output folder a setting names: empty stays empty (beside the sources), "~" is the user's
// home, a relative path is taken against base, and the result is a clean absolute path.
QString OutputFolderOf(const QString& setting, const QString& base);

// The window's list of output formats: the empty item (the source's own format), then every
// format that is written.
QStringList OutputFormatItems();

// The window's list of metadata choices, in the order of TMetadataCopy: "none", "all",
// "all but location".
QStringList MetadataItems();
// The choice a stored item names (case ignored); None for any other text.
imaging::TMetadataCopy MetadataOfItem(const QString& item);

// Replaces control characters and " * / : < > ? \ | by the replacement, folds a doubled
// replacement once, and trims blanks. Every other character is kept.
QString CleanFileName(const QString& name, const QString& replacement);

// Where a source's output goes and under which name it is written.
struct TOutputName {
    QString directory; // ends in a separator, or empty
    QString name; // the cleaned name without number and extension
    QString format; // without a dot
    bool createDirectory = false; // in an output folder: made, with its parents, when missing
    QString Candidate(int n) const; // n = 0: the first candidate; else name + "_" + n
};
// droppedWith: the folder the source was dropped (or given) with; empty for a file on its own.
// It matters only with an output folder: the output keeps the source's path below the folder's
// parent, so a dropped "Trip/day1/a.jpg" goes to "<output folder>/Trip/day1/".
TOutputName OutputNameFor(
    const QString& fileName, const TBatchSettings& settings, const QString& droppedWith = {});
// The first candidate under which no entry exists (nothing is reserved); alsoTaken may name
// further candidates to pass over.
QString FirstFreeCandidate(const TOutputName& name, int* number = nullptr,
    const std::function<bool(const QString&)>& alsoTaken = {});

// One run over a list of sources. The settings are read anew for every file, as the window
// reads its controls; the work picture keeps the last file's result.
class TBatchRun {
public:
    using TSettingsSource = std::function<TBatchSettings()>;
    explicit TBatchRun(TSettingsSource settings);

    // Writes one output file beside the source and returns its path. Throws on any failure;
    // nothing is then left under an output name.
    QString MakeOutputFile(const QString& fileName);
    // The path MakeOutputFile would choose now, writing nothing.
    QString PlannedOutput(const QString& fileName) const;

    imaging::TPicture& WorkPicture() { return m_picture; }

    // For each entry collected from a dropped folder, that folder (see OutputNameFor).
    void SetDroppedWith(QHash<QString, QString> droppedWith)
    {
        m_droppedWith = std::move(droppedWith);
    }

    // How many files RunBatch loads, fits and encodes at once; 0 (the default) means one per
    // processor core up to eight, 1 the plain one-after-another run. Names are still claimed and
    // files published one at a time, in list order.
    void SetJobs(int jobs) { m_jobs = jobs; }
    int Jobs() const;

    // One file split for a parallel run: Prepare reads the settings and names the output on the
    // calling thread; Produce loads, fits, tints and encodes into memory on any thread; Publish
    // claims the first free name at that moment and moves the file into place on the calling
    // thread. Together they do what MakeOutputFile does.
    struct TPrepared {
        QString fileName;
        std::filesystem::path source;
        TBatchSettings settings;
        TOutputName out;
        std::filesystem::path encodeAs; // the first candidate: only its extension matters
        bool tint = false;
        qint32 colour = 0;
        std::exception_ptr colourError; // raised where the one-file run would read the code
    };
    struct TProduced {
        imaging::TPicture picture;
        std::vector<std::uint8_t> bytes;
        std::exception_ptr error;
    };
    TPrepared Prepare(const QString& fileName);
    // Throws like MakeOutputFile; the picture is the one worked on.
    static void Produce(
        const TPrepared& prepared, imaging::TPicture& picture, std::vector<std::uint8_t>& bytes);
    // Names the output now, then raises produced.error if there is one, else publishes the
    // bytes; the produced picture becomes the work picture.
    QString Publish(const TPrepared& prepared, TProduced& produced);

private:
    TSettingsSource m_settings;
    QHash<QString, QString> m_droppedWith;
    imaging::TPicture m_picture;
    int m_jobs = 0;
};

// Called after each file written: its index in the list, the source and the output.
using TBatchProgress = std::function<void(int index, const QString& source, const QString& output)>;
// Called before each file; returning false stops the run before that file.
using TBatchContinue = std::function<bool(int index, const QString& source)>;

// Processes the entries in order and returns how many files were created. The first failing
// file ends the run with its error; files written before it stay, nothing after it is written.
// With more than one job several files are loaded and resized at once, their settings read a few
// files ahead; the settings, proceed and progress are still called on the calling thread and in
// list order, proceed just before a file is published (false: nothing more is written) and
// progress after it.
int RunBatch(TBatchRun& run, const QStringList& entries, const TBatchProgress& progress = {},
    const TBatchContinue& proceed = {});

} // namespace parvula::app
