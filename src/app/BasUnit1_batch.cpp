// The batch thumbnail run: output naming, one file from load to publication, the whole run.
#include "app/BasUnit1_batch.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "colour/ColorForm1_codes.h"
#include "framework/spz1_text.h"
#include "imaging/colourprofile.h"
#include "imaging/formats.h"
#include "imaging/limits.h"
#include "imaging/metadata.h"
#include "imaging/orientation.h"
#include "imaging/pic1.h"
#include "imaging/picstretch1.h"
#include "platform/platform_folders.h"
#include "platform/platform_fs.h"
#include "platform/platform_mapping.h"
#include "platform/platform_publish.h"

namespace parvula::app {

namespace {

    // Tolerance and background of the mono tint: near-white backgrounds stay pure background.
    constexpr int kMonoTolerance = 30;

    bool IsForbiddenInName(QChar c)
    {
        return c.unicode() < 32 || QStringLiteral("\"*/:<>?\\|").contains(c);
    }

    const imaging::TFormat* OutputFormat(const QString& name)
    {
        return imaging::FormatByOutputName(name.toStdString());
    }

    // The writer keeps the picture's own bytes (and so its profile) instead of encoding pixels:
    // a picture of the output's kind, at quality 100 where the format takes one.
    bool WritesItself(const imaging::TPicture& picture, const imaging::TFormat* output, int quality)
    {
        if (quality < 1 || quality > 100)
            quality = 100;
        return output && output->kind == picture.Kind()
            && (!output->takesQuality || quality == 100);
    }

    // With "Upright", a photo whose orientation tag turns it is fitted upright, so the box
    // applies to the picture as viewers show it; the output then carries no tag. Only a JPEG
    // written back byte for byte (quality 100, no tint, nothing to fit) keeps its bytes and so
    // its tag: it is then left alone and true is returned. Otherwise fit receives the
    // orientation, and FitToBox turns the picture as it scales it.
    bool WrittenUnchanged(const imaging::TPicture& picture, const TBatchSettings& settings,
        const QString& format, bool tint, imaging::TFitOptions& fit)
    {
        const int orientation = imaging::PictureOrientation(picture);
        if (orientation == 1)
            return false;
        int width = 0;
        int height = 0;
        imaging::UprightSize(orientation, picture.Width(), picture.Height(), width, height);
        const bool fitted = imaging::FitTargetSize(width, height, fit).has_value();
        if (WritesItself(picture, OutputFormat(format), settings.jpgQual) && !tint && !fitted)
            return true;
        fit.orientation = orientation;
        return false;
    }

    // A photo whose profile is not sRGB comes out in sRGB. The fitted thumbnail is converted:
    // converting every decoded pixel first would cost more than the whole job, and gives nearly
    // the same thumbnail (colours beyond sRGB are clipped once, after mixing, instead of pixel by
    // pixel; docs/performance.md). A picture the box left alone is converted whole, unless it is
    // written as itself, profile included. True when the numbers were converted.
    bool ConvertColours(imaging::TPicture& picture, const imaging::TColourDescription& colours,
        const imaging::TFormat* output, int quality)
    {
        if (imaging::IsSrgb(colours))
            return false;
        if (imaging::TBitmap* bitmap = picture.Bitmap())
            return imaging::ConvertToSrgb(*bitmap, colours);
        if (WritesItself(picture, output, quality))
            return false;
        // The conversion the encoder would make, done here; a profile that cannot be used
        // leaves the picture untouched for the encoder.
        imaging::TBitmap drawn = imaging::ConvertToBitmap(picture);
        if (!imaging::ConvertToSrgb(drawn, colours))
            return false;
        picture.Assign(std::move(drawn));
        return true;
    }

    errors::EError NoFreeName(const TOutputName& name)
    {
        return errors::EError(errors::TCode::NoFreeName, name.Candidate(0).toStdString(),
            { std::to_string(MaxNameCandidates) });
    }

} // namespace

QString OutputFolderOf(const QString& setting, const QString& base)
{
    QString folder = QDir::fromNativeSeparators(setting.trimmed());
    if (folder.isEmpty())
        return QString();
    // "~" is the user's home, as a shell would read it.
    if (folder == u"~" || folder.startsWith(QStringLiteral("~/")))
        folder = QDir::homePath() + folder.mid(1);
    return QDir::cleanPath(QDir(base).absoluteFilePath(folder));
}

QStringList OutputFormatItems()
{
    QStringList items { QString() };
    for (const std::string& name : imaging::OutputFormatNames())
        items.append(QString::fromStdString(name));
    return items;
}

QStringList MetadataItems()
{
    return { QStringLiteral("none"), QStringLiteral("all"), QStringLiteral("all but location") };
}

imaging::TMetadataCopy MetadataOfItem(const QString& item)
{
    const QStringList items = MetadataItems();
    for (int i = 0; i < items.size(); ++i)
        if (items.at(i).compare(item, Qt::CaseInsensitive) == 0)
            return static_cast<imaging::TMetadataCopy>(i);
    return imaging::TMetadataCopy::None;
}

QString CleanFileName(const QString& name, const QString& replacement)
{
    QString result;
    result.reserve(name.size());
    for (const QChar c : name) {
        if (IsForbiddenInName(c))
            result += replacement;
        else
            result += c;
    }
    // One left-to-right pass: three replacements in a row become two, four become two.
    if (!replacement.isEmpty())
        framework::ReplaceAllInPlace(result, replacement + replacement, replacement, false);
    qsizetype first = 0;
    qsizetype last = result.size();
    while (first < last && result.at(first).unicode() <= 32)
        ++first;
    while (last > first && result.at(last - 1).unicode() <= 32)
        --last;
    return result.mid(first, last - first);
}

QString TOutputName::Candidate(int n) const
{
    const QString numbered = n == 0 ? name : name + QLatin1Char('_') + QString::number(n);
    return directory + numbered + QLatin1Char('.') + format;
}

namespace {

    // The source's folder as it lies below the parent of the folder it was dropped with: "Trip/
    // day1/" for "/p/Trip/day1/a.jpg" dropped with "/p/Trip". Empty for a file on its own, and
    // for one that does not lie below that folder, so no output ever lands outside the output
    // folder.
    QString RelativeFolder(const QString& sourceFolder, const QString& droppedWith)
    {
        if (droppedWith.isEmpty())
            return QString();
        const QString parent = QFileInfo(QDir::cleanPath(droppedWith)).path();
        const QString relative = QDir(parent).relativeFilePath(sourceFolder);
        if (relative.isEmpty() || relative == u"." || relative.startsWith(QStringLiteral(".."))
            || QDir::isAbsolutePath(relative))
            return QString();
        return relative.endsWith(u'/') ? relative : relative + u'/';
    }

} // namespace

TOutputName OutputNameFor(
    const QString& fileName, const TBatchSettings& settings, const QString& droppedWith)
{
    TOutputName out;
    qsizetype slash = fileName.size() - 1;
    while (slash >= 0 && !platform::IsPathSeparator(fileName.at(slash)))
        --slash;
    out.directory = fileName.left(slash + 1);
    if (!settings.outputDir.isEmpty()) {
        QString folder = settings.outputDir;
        if (!platform::IsPathSeparator(folder.back()))
            folder += u'/';
        out.directory = folder + RelativeFolder(out.directory, droppedWith);
        out.createDirectory = true;
    }
    const QString file = fileName.mid(slash + 1);
    const qsizetype dot = file.lastIndexOf(QLatin1Char('.'));
    QString base = dot < 0 ? file : file.left(dot);
    const QString extension = dot < 0 ? QString() : file.mid(dot);

    out.format = settings.format;
    if (out.format.isEmpty())
        out.format = framework::AsciiLowerCase(extension);
    framework::ReplaceAllInPlace(out.format, QStringLiteral("."), QString(), false);
    out.format = QString::fromStdString(imaging::OutputNameOfExtension(out.format.toStdString()));

    const QString& namex = settings.namex;
    if (!namex.isEmpty()) {
        if (namex.endsWith(QLatin1Char('_')))
            base = namex + base;
        else
            base = base + namex;
    }
    // Names are cleaned as they are, with every character kept: no 8-bit code page on the way.
    out.name = CleanFileName(base, QStringLiteral(" "));
    return out;
}

QString FirstFreeCandidate(
    const TOutputName& name, int* number, const std::function<bool(const QString&)>& alsoTaken)
{
    for (int n = 0; n <= MaxNameCandidates; ++n) {
        const QString candidate = name.Candidate(n);
        if (!platform::EntryExists(candidate) && !(alsoTaken && alsoTaken(candidate))) {
            if (number)
                *number = n;
            return candidate;
        }
    }
    throw NoFreeName(name);
}

TBatchRun::TBatchRun(TSettingsSource settings)
    : m_settings(std::move(settings))
{
}

QString TBatchRun::PlannedOutput(const QString& fileName) const
{
    return FirstFreeCandidate(OutputNameFor(fileName, m_settings(), m_droppedWith.value(fileName)));
}

int TBatchRun::Jobs() const
{
    if (m_jobs > 0)
        return m_jobs;
    // A picture that does not stream (PNG, GIF, a photo turned upright) holds its whole bitmap
    // twice while it is fitted, so the default stops at eight workers however many cores there
    // are; more only on request.
    constexpr unsigned kDefaultMostJobs = 8;
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1U, kDefaultMostJobs));
}

TBatchRun::TPrepared TBatchRun::Prepare(const QString& fileName)
{
    TPrepared job;
    job.fileName = fileName;
    job.source = platform::ToPath(fileName);
    job.settings = m_settings();
    job.out = OutputNameFor(fileName, job.settings, m_droppedWith.value(fileName));
    job.encodeAs = platform::ToPath(job.out.Candidate(0));
    job.tint = job.settings.useMono && !job.settings.mono.isEmpty();
    if (job.tint) {
        try {
            job.colour = colour::HTMLToTColor(job.settings.mono);
        } catch (...) {
            job.colourError = std::current_exception();
        }
    }
    return job;
}

namespace {

    // What making a thumbnail did to the picture, which its metadata copy must say.
    struct TMade {
        bool converted = false; // its numbers were converted to sRGB
        // It kept the orientation it is stored in ("Upright" off), which its tag still tells.
        bool storedOrientation = false;
    };

    // Fits, tints and encodes a loaded picture as the job says.
    TMade MakeThumbnail(const TBatchRun::TPrepared& job, imaging::TPicture& picture,
        std::vector<std::uint8_t>& bytes)
    {
        const TBatchSettings& settings = job.settings;
        TMade made;
        // A JPEG with "Upright" off keeps its tag whatever it says; another format only a tag
        // that turns it, which its reader told.
        made.storedOrientation = !settings.upright
            && (picture.Kind() == imaging::TGraphicKind::Jpeg
                || imaging::PictureOrientation(picture) != 1);
        if (settings.coloursAsStored)
            picture.KeepStoredColours();
        // Read before turning or fitting replaces the graphic by a bitmap that says nothing.
        const imaging::TColourDescription colours = settings.coloursAsStored
            ? imaging::TColourDescription {}
            : imaging::PictureColours(picture);
        imaging::TFitOptions fit;
        fit.maxWidth = settings.width;
        fit.maxHeight = settings.height;
        fit.keepAspect = true;
        fit.direction = settings.shrinkOnly ? imaging::TFitDirection::ShrinkOnly
                                            : imaging::TFitDirection::BothWays;
        fit.filter = imaging::FilterOfListIndex(settings.filter);
        if (!settings.upright
            || !WrittenUnchanged(picture, settings, job.out.format, job.tint, fit))
            imaging::FitToBox(picture, fit);
        made.converted = ConvertColours(
            picture, colours, job.tint ? nullptr : OutputFormat(job.out.format), settings.jpgQual);
        if (job.tint) {
            if (job.colourError)
                std::rethrow_exception(job.colourError);
            imaging::TTintOptions tint;
            tint.colour = job.colour;
            tint.tolerance = kMonoTolerance;
            tint.background = imaging::BackgroundFromTopLeft;
            tint.greyFirst = true;
            imaging::MonoTint(picture, tint);
        }

        std::optional<imaging::TEncodedFile> encoded;
        const imaging::TFormat* output = OutputFormat(job.out.format);
        // A format that keeps transparency is marked with Mono Color on, a lossy one (WebP) too.
        if (settings.useMono && output && output->writesTransparency)
            picture.SetTransparentMark(true);
        if (output && output->takesQuality)
            encoded = output->encode(picture, job.encodeAs, settings.jpgQual);
        else
            encoded = imaging::EncodeByExtension(picture, job.encodeAs);
        if (!encoded)
            throw errors::EError(errors::TCode::NothingToWrite, job.fileName.toStdString());
        bytes = std::move(encoded->bytes);
        return made;
    }

    // The source's metadata into the encoded output, as the settings ask; source is the file's
    // bytes as the picture was made from them.
    // The copy says "upright" unless the picture kept the orientation it was stored in, whose
    // tag then still tells viewers how to turn it.
    void AddMetadata(const TBatchRun::TPrepared& job, std::span<const std::uint8_t> source,
        const TMade& made, std::vector<std::uint8_t>& bytes)
    {
        imaging::TMetadataOptions options;
        options.copy = job.settings.metadata;
        options.turnedUpright = !made.storedOrientation;
        options.convertedToSrgb = made.converted;
        bytes = imaging::WithMetadata(source, std::move(bytes), options, job.source);
    }

    // The source read again, for its metadata only: a source that cannot be read now gives an
    // output without it, as unreadable metadata does.
    std::vector<std::uint8_t> SourceBytes(const std::filesystem::path& source)
    {
        QFile file(platform::FromPath(source));
        if (!file.open(QIODevice::ReadOnly)
            || static_cast<std::uint64_t>(file.size()) > imaging::MaxFileBytes)
            return {};
        const QByteArray bytes = file.readAll();
        return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    }

    bool DecodesInPlace(const std::filesystem::path& source)
    {
        const imaging::TFormat* format = imaging::FormatOfPath(source);
        return format && format->decodesInPlace;
    }

} // namespace

void TBatchRun::Produce(
    const TPrepared& job, imaging::TPicture& picture, std::vector<std::uint8_t>& bytes)
{
    // A photo is decoded where it lies in the mapped file instead of being copied into memory
    // first. Every other kind is read: its decoder takes the bytes at once, and they stay put.
    if (DecodesInPlace(job.source)) {
        if (const auto mapped = platform::TMappedFile::Open(job.source, imaging::MaxFileBytes)) {
            // The picture outlives this job (the window shows it): a photo still held as the
            // mapped file takes bytes of its own, so the file is let go.
            const auto letGo = [&] {
                const imaging::TFormat* kind = imaging::FormatOfKind(picture.Kind());
                if (!kind || !kind->decodesInPlace)
                    return;
                const auto own = std::make_shared<const std::vector<std::uint8_t>>(
                    mapped->Bytes().begin(), mapped->Bytes().end());
                imaging::LoadFromBytes(picture, job.source, own, *own);
            };
            try {
                // A large PNG is read through once per decode: the pages behind it are let go.
                const platform::TMappedFile* file = mapped.get();
                imaging::LoadFromBytes(picture, job.source, mapped, mapped->Bytes(),
                    [file](std::size_t offset) { file->LetGo(offset); });
                const TMade made = MakeThumbnail(job, picture, bytes);
                if (job.settings.metadata != imaging::TMetadataCopy::None)
                    AddMetadata(job, mapped->Bytes(), made, bytes);
                letGo();
                if (!mapped->Damaged())
                    return;
            } catch (...) {
                if (!mapped->Damaged()) {
                    try {
                        letGo();
                    } catch (...) {
                        picture = imaging::TPicture();
                    }
                    throw;
                }
            }
            // The file changed while it was mapped (cut short, written over, or only touched):
            // made again from the file as it is now, as if it had been read in the first place.
            picture = imaging::TPicture();
        }
    }
    imaging::LoadFromFile(picture, job.source);
    const TMade made = MakeThumbnail(job, picture, bytes);
    if (job.settings.metadata != imaging::TMetadataCopy::None)
        AddMetadata(job, SourceBytes(job.source), made, bytes);
}

namespace {

    // Publishes the bytes under the first free number from number on, going on to the next
    // when another process takes the name meanwhile.
    // dateOf: the file whose modification time the output takes, or empty.
    QString PublishBytes(const TOutputName& out, int number, const std::vector<std::uint8_t>& bytes,
        const QString& dateOf)
    {
        // An output folder, or the part of the dropped tree below it, may not exist yet. A failure
        // here ends the run at this file like a failed write.
        if (out.createDirectory && !platform::FolderExists(out.directory)
            && !platform::CreateFolderWithParents(out.directory))
            throw errors::EError(errors::TCode::CannotCreateFolder, out.directory.toStdString());
        try {
            return platform::PublishNewFile(
                out.directory, bytes, [&out](int n) { return out.Candidate(n); }, number,
                MaxNameCandidates, dateOf);
        } catch (const errors::EError& e) {
            // Named by the first candidate, as when no free name is found before writing.
            if (e.Code() == errors::TCode::NoFreeName)
                throw NoFreeName(out);
            throw;
        }
    }

    QString DateOf(const TBatchRun::TPrepared& job)
    {
        return job.settings.keepDates ? job.fileName : QString();
    }

} // namespace

QString TBatchRun::Publish(const TPrepared& job, TProduced& produced)
{
    int number = 0;
    // Named before the produced error is raised, as the one-file run names its output first.
    FirstFreeCandidate(job.out, &number);
    m_picture = std::move(produced.picture);
    if (produced.error)
        std::rethrow_exception(produced.error);
    return PublishBytes(job.out, number, produced.bytes, DateOf(job));
}

QString TBatchRun::MakeOutputFile(const QString& fileName)
{
    TPrepared job = Prepare(fileName);
    // The name is chosen before the source is read, so a source that fails leaves nothing.
    int number = 0;
    const QString target = FirstFreeCandidate(job.out, &number);
    job.encodeAs = platform::ToPath(target);
    std::vector<std::uint8_t> bytes;
    Produce(job, m_picture, bytes);
    return PublishBytes(job.out, number, bytes, DateOf(job));
}

namespace {

    // A fixed set of threads taking tasks in the order they were posted. Destroying it drops the
    // tasks not yet started and waits for the running ones.
    class TWorkers {
    public:
        explicit TWorkers(int count)
        {
            for (int i = 0; i < count; ++i)
                m_threads.emplace_back([this] { Loop(); });
        }
        ~TWorkers()
        {
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_stopping = true;
                m_tasks.clear();
            }
            m_wake.notify_all();
            for (std::thread& thread : m_threads)
                thread.join();
        }
        TWorkers(const TWorkers&) = delete;
        TWorkers& operator=(const TWorkers&) = delete;

        void Post(std::function<void()> task)
        {
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_tasks.push_back(std::move(task));
            }
            m_wake.notify_one();
        }

    private:
        void Loop()
        {
            for (;;) {
                std::function<void()> task;
                {
                    std::unique_lock<std::mutex> lock(m_mutex);
                    m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
                    if (m_stopping)
                        return;
                    task = std::move(m_tasks.front());
                    m_tasks.pop_front();
                }
                task();
            }
        }

        std::mutex m_mutex;
        std::condition_variable m_wake;
        std::deque<std::function<void()>> m_tasks;
        bool m_stopping = false;
        std::vector<std::thread> m_threads;
    };

    int RunOneAfterAnother(TBatchRun& run, const QStringList& entries,
        const TBatchProgress& progress, const TBatchContinue& proceed)
    {
        int created = 0;
        for (int i = 0; i < entries.size(); ++i) {
            if (proceed && !proceed(i, entries.at(i)))
                break;
            const QString output = run.MakeOutputFile(entries.at(i));
            ++created;
            if (progress)
                progress(i, entries.at(i), output);
        }
        return created;
    }

} // namespace

int RunBatch(TBatchRun& run, const QStringList& entries, const TBatchProgress& progress,
    const TBatchContinue& proceed)
{
    const int jobs = run.Jobs();
    if (jobs <= 1 || entries.size() <= 1)
        return RunOneAfterAnother(run, entries, progress, proceed);

    struct TInFlight {
        int index;
        TBatchRun::TPrepared job;
        std::shared_ptr<TBatchRun::TProduced> produced;
        std::future<void> done;
    };
    // Finished files wait here for their turn; the bound keeps the memory of a run to a few
    // files however long the list is.
    const std::size_t maxInFlight = static_cast<std::size_t>(2 * jobs);
    std::deque<TInFlight> inFlight;
    // Declared after the queue: destroyed first, so no task outlives the state it fills.
    TWorkers workers(jobs);
    int next = 0;
    bool stopped = false;
    std::exception_ptr failure;
    int failureIndex = 0;
    int created = 0;
    for (;;) {
        while (!stopped && next < entries.size() && inFlight.size() < maxInFlight) {
            // Settings are read here, on the calling thread, as the window reads its controls.
            TInFlight item { next, {}, std::make_shared<TBatchRun::TProduced>(), {} };
            try {
                item.job = run.Prepare(entries.at(next));
            } catch (...) {
                // Raised once the files before this one are published, where the one-file run
                // would raise it.
                failure = std::current_exception();
                failureIndex = next;
                stopped = true;
                break;
            }
            auto promise = std::make_shared<std::promise<void>>();
            item.done = promise->get_future();
            auto job = std::make_shared<const TBatchRun::TPrepared>(item.job);
            workers.Post([job, produced = item.produced, promise] {
                try {
                    TBatchRun::Produce(*job, produced->picture, produced->bytes);
                } catch (...) {
                    produced->error = std::current_exception();
                }
                promise->set_value();
            });
            inFlight.push_back(std::move(item));
            ++next;
        }
        if (inFlight.empty()) {
            if (failure && !(proceed && !proceed(failureIndex, entries.at(failureIndex))))
                std::rethrow_exception(failure);
            break;
        }
        TInFlight& first = inFlight.front();
        // Asked just before the file is published, so a stop request that arrives while the
        // files before it are published ends the run with nothing more written; the work done
        // ahead for this and later files is dropped.
        if (proceed && !proceed(first.index, entries.at(first.index)))
            break;
        first.done.wait();
        // Files before this one are published; a failure here ends the run, and the workers'
        // results for later files are dropped unwritten.
        const QString output = run.Publish(first.job, *first.produced);
        ++created;
        if (progress)
            progress(first.index, entries.at(first.index), output);
        inFlight.pop_front();
    }
    return created;
}

} // namespace parvula::app
