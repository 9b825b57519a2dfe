// parvula-cli: the same collection as a drop on the file list, the same run as "Create all".
#include "cli/cli_run.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include "app/BasUnit1_batch.h"
#include "app/DragDrop1_collect.h"
#include "cli/cli_options.h"
#include "cli/cli_progress.h"
#include "cli/cli_settings.h"
#include "framework/spz1_messages.h"
#include "platform/platform_fs.h"
#include "platform/platform_signals.h"
#include "platform/platform_version.h"

namespace parvula::cli {

namespace {

    app::TBatchSettings Apply(app::TBatchSettings s, const TSettingOverrides& o)
    {
        if (o.width)
            s.width = *o.width;
        if (o.height)
            s.height = *o.height;
        if (o.filter)
            s.filter = *o.filter;
        if (o.format)
            s.format = *o.format;
        if (o.quality)
            s.jpgQual = *o.quality;
        if (o.affix)
            s.namex = *o.affix;
        if (o.useMono)
            s.useMono = *o.useMono;
        if (o.mono)
            s.mono = *o.mono;
        if (o.upright)
            s.upright = *o.upright;
        if (o.shrinkOnly)
            s.shrinkOnly = *o.shrinkOnly;
        if (o.outputDir)
            s.outputDir = *o.outputDir;
        if (o.coloursAsStored)
            s.coloursAsStored = *o.coloursAsStored;
        if (o.metadata)
            s.metadata = *o.metadata;
        if (o.keepDates)
            s.keepDates = *o.keepDates;
        // A relative output folder, given or stored, lies below the current folder.
        s.outputDir = app::OutputFolderOf(s.outputDir, QDir::currentPath());
        return s;
    }

    // Usage errors end with status 2, every other failure with 1.
    int ExitStatusOf(const std::exception& e)
    {
        const auto* error = dynamic_cast<const errors::EError*>(&e);
        return error && errors::IsUsageError(error->Code()) ? kExitUsage : kExitFailed;
    }

    QString ErrorText(const std::exception& e)
    {
        // The same "." rule as the window's error report.
        QString text = QString::fromUtf8(e.what());
        if (text.isEmpty() || text.back().unicode() > 46)
            text += QLatin1Char('.');
        return text;
    }

} // namespace

int RunCli(const QStringList& arguments, QTextStream& out, QTextStream& err, bool progressBar)
{
    TCliOptions options;
    try {
        options = ParseArguments(arguments);
    } catch (const std::exception& e) {
        err << "parvula-cli: " << e.what() << "\n"
            << framework::MessageText(errors::TCode::CliTryHelp) << "\n";
        err.flush();
        return ExitStatusOf(e);
    }
    if (options.help) {
        out << UsageText()
            << "Ctrl-C (SIGINT) or SIGTERM stops after the file in progress: the files written\n"
               "stay, \"Created: N\" counts them, and the exit status is 130 (143 for SIGTERM).\n";
        return kExitOk;
    }
    if (options.version) {
        out << "parvula-cli "
            << platform::GetVersionInfoValue(QString(), QStringLiteral("FileVersion")) << "\n";
        return kExitOk;
    }

    app::TBatchSettings settings;
    try {
        if (!options.profile.isEmpty())
            settings = LoadStoredSettings(QStringLiteral("Profil_") + options.profile, true);
        else if (options.last)
            settings = LoadStoredSettings(QStringLiteral("df"), false);
    } catch (const std::exception& e) {
        err << "parvula-cli: " << e.what() << "\n";
        return ExitStatusOf(e);
    }
    settings = Apply(settings, options.overrides);

    QStringList dropped;
    for (const QString& path : options.paths) {
        if (!platform::EntryExists(path)) {
            err << "parvula-cli: " << framework::MessageText(errors::TCode::UsageNoSuchPath, path)
                << "\n";
            return kExitUsage;
        }
        dropped.append(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    }
    QStringList entries;
    QHash<QString, QString> droppedWith;
    try {
        const app::TDropResult result
            = app::CollectDrop(entries, dropped, app::DefaultFileAccept());
        droppedWith = result.droppedWith;
        if (!result.notice.isEmpty())
            err << result.notice << "\n";
    } catch (const std::exception& e) {
        err << ErrorText(e) << "\n";
        return ExitStatusOf(e);
    }

    // A stop request during the walk ends here, before any file is planned or written.
    if (const int stopped = platform::StopRequestStatus()) {
        if (!options.quiet)
            out << framework::MessageText(errors::TCode::Created, {}, { QStringLiteral("0") })
                << "\n";
        return stopped;
    }

    TProgress progress(out, progressBar && !options.quiet, static_cast<int>(entries.size()));
    if (options.dryRun) {
        // Names planned earlier in this listing count as taken, as they would be in a real run.
        QSet<QString> planned;
        try {
            for (const QString& source : entries) {
                if (platform::StopRequestStatus())
                    break;
                const QString target = app::FirstFreeCandidate(
                    app::OutputNameFor(source, settings, droppedWith.value(source)), nullptr,
                    [&](const QString& candidate) { return planned.contains(candidate); });
                planned.insert(target);
                if (!options.quiet)
                    out << source << " -> " << target << "\n";
            }
        } catch (const std::exception& e) {
            err << ErrorText(e) << "\n";
            return ExitStatusOf(e);
        }
        if (!options.quiet)
            out << framework::MessageText(
                errors::TCode::CliDryRun, {}, { QString::number(planned.size()) })
                << "\n";
        return platform::StopRequestStatus() ? platform::StopRequestStatus() : kExitOk;
    }

    app::TBatchRun run([settings] { return settings; });
    run.SetJobs(options.jobs);
    run.SetDroppedWith(droppedWith);
    int created = 0;
    try {
        created = app::RunBatch(
            run, entries,
            [&](int index, const QString& source, const QString& output) {
                if (progress.Active())
                    progress.Step(index + 1, source);
                else if (!options.quiet)
                    out << source << " -> " << output << "\n";
                out.flush();
            },
            // A stop request is only a flag: the file in progress is finished (or its temporary
            // file removed by its own failure) before the run ends here.
            [](int, const QString&) { return platform::StopRequestStatus() == 0; });
    } catch (const std::exception& e) {
        progress.Finish();
        err << ErrorText(e) << "\n";
        return ExitStatusOf(e);
    }
    progress.Finish();
    const int stopped = platform::StopRequestStatus();
    if (stopped) {
        err << framework::MessageText(errors::TCode::CliStopped, {},
            { QString::number(created), QString::number(entries.size()) })
            << "\n";
        err.flush();
    }
    if (!options.quiet)
        out << framework::MessageText(errors::TCode::Created, {}, { QString::number(created) })
            << "\n";
    return stopped ? stopped : kExitOk;
}

} // namespace parvula::cli
