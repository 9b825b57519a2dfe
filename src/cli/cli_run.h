// parvula-cli from its arguments to its exit status, without the process around it.
#pragma once

#include <QStringList>
#include <QTextStream>

namespace parvula::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// progressBar: draw a progress bar on out instead of one line per file (a terminal).
int RunCli(const QStringList& arguments, QTextStream& out, QTextStream& err, bool progressBar);

} // namespace parvula::cli
