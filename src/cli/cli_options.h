// The command line of parvula-cli: what it asks for, before any file is touched.
#pragma once

#include <optional>

#include <QString>
#include <QStringList>

#include "errors/errors.h"
#include "imaging/metadata.h"

namespace parvula::cli {

// A command line that cannot be carried out as written: the program's one error type with a
// usage code (exit status 2).
using EUsageError = errors::EError;

// Single values that override the starting settings; unset ones keep them.
struct TSettingOverrides {
    std::optional<int> width;
    std::optional<int> height;
    std::optional<int> filter;
    std::optional<QString> format;
    std::optional<int> quality;
    std::optional<QString> affix;
    std::optional<bool> useMono;
    std::optional<QString> mono;
    std::optional<bool> upright;
    std::optional<bool> shrinkOnly;
    std::optional<QString> outputDir;
    std::optional<bool> coloursAsStored;
    std::optional<imaging::TMetadataCopy> metadata;
    std::optional<bool> keepDates;
};

struct TCliOptions {
    QStringList paths;
    QString profile; // load this stored profile first
    bool last = false; // load the last-used settings first
    TSettingOverrides overrides;
    int jobs = 0; // files worked on at once; 0: one per processor core, at most 8
    bool dryRun = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// Reads the arguments after the program name. Throws EError with a usage code.
TCliOptions ParseArguments(const QStringList& arguments);

// The filter index of a name of the filter list (case ignored); -1 when none is equal.
int FilterIndexByName(const QString& name);
// The filter index of a name or of an index 0 to 7; -1 when neither.
int FilterIndexOf(const QString& text);

QString UsageText();

} // namespace parvula::cli
