// The batch thumbnail run: output naming, one file from load to publication, the whole run.
#include "app/BasUnit1_batch.h"

#include <QFile>
#include <QRandomGenerator>

#include "colour/ColorForm1_codes.h"
#include "framework/spz1_text.h"
#include "imaging/orientation.h"
#include "imaging/pic1.h"
#include "imaging/picstretch1.h"
#include "platform/platform_fs.h"

namespace parvula::app {

namespace {

    // Tolerance and background of the mono tint: near-white backgrounds stay pure background.
    constexpr int kMonoTolerance = 30;
    constexpr qint32 kBackgroundFromTopLeft = -1;

    bool IsForbiddenInName(QChar c)
    {
        return c.unicode() < 32 || QStringLiteral("\"*/:<>?\\|").contains(c);
    }

    // Deletes the temporary file unless it was published.
    class TTemporaryOutput {
    public:
        explicit TTemporaryOutput(const QString& directory)
        {
            // A hidden name in the target folder, so publishing is a rename on one file system.
            for (int attempt = 0; attempt < 100; ++attempt) {
                const QString candidate = directory
                    + QStringLiteral(".parvula-%1.tmp")
                          .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
                m_file.setFileName(candidate);
                if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
                    return;
                if (!platform::EntryExists(candidate))
                    break;
            }
            throw EBatchError(QStringLiteral("Cannot create a file in %1: %2")
                                  .arg(directory.isEmpty() ? QStringLiteral(".") : directory,
                                      m_file.errorString())
                                  .toStdString());
        }
        ~TTemporaryOutput()
        {
            if (!m_published) {
                m_file.close();
                QFile::remove(m_file.fileName());
            }
        }
        TTemporaryOutput(const TTemporaryOutput&) = delete;
        TTemporaryOutput& operator=(const TTemporaryOutput&) = delete;

        void Write(const std::vector<std::uint8_t>& bytes, const QString& target)
        {
            const auto size = static_cast<qint64>(bytes.size());
            const char* data = reinterpret_cast<const char*>(bytes.data());
            if (m_file.write(data, size) != size || !m_file.flush()) {
                throw EBatchError(QStringLiteral("Cannot write %1: %2")
                                      .arg(target, m_file.errorString())
                                      .toStdString());
            }
            m_file.close();
            if (m_file.error() != QFileDevice::NoError) {
                throw EBatchError(QStringLiteral("Cannot write %1: %2")
                                      .arg(target, m_file.errorString())
                                      .toStdString());
            }
        }
        QString Path() const { return m_file.fileName(); }
        void Published() { m_published = true; }

    private:
        QFile m_file;
        bool m_published = false;
    };

    // With "Upright", a photo whose orientation tag turns it is brought upright first, so the box
    // applies to the picture as viewers show it; the output then carries no tag. Only a JPEG
    // written back byte for byte (quality 100, no tint, nothing to fit) keeps its bytes and so
    // its tag: it is then left alone and true is returned.
    bool WrittenUnchanged(imaging::TPicture& picture, const TBatchSettings& settings,
        const QString& format, bool tint, int direction)
    {
        const int orientation = imaging::PictureOrientation(picture);
        if (orientation == 1)
            return false;
        int width = 0;
        int height = 0;
        imaging::UprightSize(orientation, picture.Width(), picture.Height(), width, height);
        const bool fitted = imaging::FitTargetSize(
            width, height, settings.width, settings.height, true, direction)
                                .has_value();
        const int quality = settings.jpgQual < 1 || settings.jpgQual > 100 ? 100 : settings.jpgQual;
        if (format == QLatin1String("jpg") && quality == 100 && !tint && !fitted)
            return true;
        imaging::TurnUpright(picture, orientation);
        return false;
    }

    QString NoFreeName(const TOutputName& name)
    {
        return QStringLiteral("No free output name for %1 (the numbers up to _%2 are taken)")
            .arg(name.Candidate(0))
            .arg(MaxNameCandidates);
    }

} // namespace

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

TOutputName OutputNameFor(const QString& fileName, const TBatchSettings& settings)
{
    TOutputName out;
    qsizetype slash = fileName.size() - 1;
    while (slash >= 0 && !platform::IsPathSeparator(fileName.at(slash)))
        --slash;
    out.directory = fileName.left(slash + 1);
    const QString file = fileName.mid(slash + 1);
    const qsizetype dot = file.lastIndexOf(QLatin1Char('.'));
    QString base = dot < 0 ? file : file.left(dot);
    const QString extension = dot < 0 ? QString() : file.mid(dot);

    out.format = settings.format;
    if (out.format.isEmpty())
        out.format = framework::AsciiLowerCase(extension);
    framework::ReplaceAllInPlace(out.format, QStringLiteral("."), QString(), false);
    if (out.format == QLatin1String("jpeg"))
        out.format = QStringLiteral("jpg");

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
    throw EBatchError(NoFreeName(name).toStdString());
}

TBatchRun::TBatchRun(TSettingsSource settings)
    : m_settings(std::move(settings))
{
}

QString TBatchRun::PlannedOutput(const QString& fileName) const
{
    return FirstFreeCandidate(OutputNameFor(fileName, m_settings()));
}

QString TBatchRun::MakeOutputFile(const QString& fileName)
{
    const TBatchSettings settings = m_settings();
    const TOutputName out = OutputNameFor(fileName, settings);
    // The name is chosen before the source is read, so a source that fails leaves nothing.
    int number = 0;
    QString target = FirstFreeCandidate(out, &number);

    imaging::LoadFromFile(m_picture, platform::ToPath(fileName));
    const int direction = settings.shrinkOnly ? -1 : 0;
    const bool tint = settings.useMono && !settings.mono.isEmpty();
    if (!settings.upright || !WrittenUnchanged(m_picture, settings, out.format, tint, direction))
        imaging::FitToBox(
            m_picture, settings.width, settings.height, true, direction, settings.filter);
    if (tint) {
        imaging::MonoTint(m_picture, colour::HTMLToTColor(settings.mono), kMonoTolerance,
            kBackgroundFromTopLeft, true);
    }

    std::optional<imaging::TEncodedFile> encoded;
    if (out.format == QLatin1String("jpg")) {
        encoded = imaging::EncodeJpeg(m_picture, platform::ToPath(target), settings.jpgQual);
    } else {
        if (settings.useMono
            && (out.format == QLatin1String("png") || out.format == QLatin1String("gif")))
            m_picture.SetTransparentMark(true);
        encoded = imaging::EncodeByExtension(m_picture, platform::ToPath(target));
    }
    if (!encoded)
        throw EBatchError(QStringLiteral("Nothing to write for %1").arg(fileName).toStdString());

    TTemporaryOutput temporary(out.directory);
    temporary.Write(encoded->bytes, target);
    // Another process may take the name between the test and the publication: the rename never
    // replaces, and the next free number is tried instead.
    for (;;) {
        QString error;
        switch (platform::PublishNoReplace(temporary.Path(), target, &error)) {
        case platform::TPublishResult::Published:
            temporary.Published();
            return target;
        case platform::TPublishResult::NameTaken:
            do {
                if (++number > MaxNameCandidates)
                    throw EBatchError(NoFreeName(out).toStdString());
                target = out.Candidate(number);
            } while (platform::EntryExists(target));
            break;
        case platform::TPublishResult::Failed:
            throw EBatchError(
                QStringLiteral("Cannot write %1: %2").arg(target, error).toStdString());
        }
    }
}

int RunBatch(TBatchRun& run, const QStringList& entries, const TBatchProgress& progress,
    const TBatchContinue& proceed)
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

} // namespace parvula::app
