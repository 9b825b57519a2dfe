// A one-line progress bar for a terminal, redrawn in place with a carriage return.
#include "cli/cli_progress.h"

namespace parvula::cli {

namespace {
    constexpr int kBarWidth = 30;
    constexpr int kNameWidth = 36;
}

TProgress::TProgress(QTextStream& out, bool active, int total)
    : m_out(out)
    , m_active(active && total > 0)
    , m_total(total)
{
}

void TProgress::Step(int done, const QString& current)
{
    if (!m_active)
        return;
    const int filled
        = m_total > 0 ? static_cast<int>(static_cast<qint64>(done) * kBarWidth / m_total) : 0;
    QString name = current.section(QLatin1Char('/'), -1);
    if (name.size() > kNameWidth)
        name = QStringLiteral("...") + name.right(kNameWidth - 3);
    m_out << '\r' << '[' << QString(filled, QLatin1Char('#'))
          << QString(kBarWidth - filled, QLatin1Char('-')) << "] " << done << '/' << m_total << ' '
          << name.leftJustified(kNameWidth);
    m_out.flush();
    m_drawn = true;
}

void TProgress::Finish()
{
    if (m_drawn) {
        m_out << '\n';
        m_out.flush();
        m_drawn = false;
    }
}

} // namespace parvula::cli
