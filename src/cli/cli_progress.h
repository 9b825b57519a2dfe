// A one-line progress bar for a terminal.
#pragma once

#include <QString>
#include <QTextStream>

namespace parvula::cli {

class TProgress {
public:
    TProgress(QTextStream& out, bool active, int total);
    bool Active() const { return m_active; }
    // done files of the total; the current file's name is shown shortened to fit.
    void Step(int done, const QString& current);
    // Ends the bar's line, so what follows starts on a line of its own.
    void Finish();

private:
    QTextStream& m_out;
    bool m_active;
    int m_total;
    bool m_drawn = false;
};

} // namespace parvula::cli
