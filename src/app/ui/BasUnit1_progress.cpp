// TProgressForm, the modal window of a longer batch run: files done, the current file, Cancel.
#include "app/ui/BasUnit1_progress.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "framework/ui/spz1_msg.h"
#include "platform/ui/platform_ui.h"

namespace parvula::app {

namespace {
    constexpr int kFormWidth = 360;
}

TProgressForm::TProgressForm(QWidget* parent, int total)
    : QDialog(parent)
    , m_total(total)
{
    setObjectName(QStringLiteral("ProgressForm"));
    setWindowTitle(framework::ApplicationTitle());
    setFont(platform::DesignFont());
    // Application-modal, not only window-modal: the information panel and the colour picker are
    // top-level windows of their own and must not start anything during the run either.
    setWindowModality(Qt::ApplicationModal);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    lbCount = new QLabel(this);
    lbCount->setObjectName(QStringLiteral("lbCount"));
    lbFile = new QLabel(this);
    lbFile->setObjectName(QStringLiteral("lbFile"));
    // A long name must not widen the window at every file.
    lbFile->setMinimumWidth(1);
    lbFile->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, qMax(total, 1));
    ProgressBar1->setValue(0);
    btCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btCancel->setObjectName(QStringLiteral("btCancel"));
    btCancel->setAutoDefault(false);
    connect(btCancel, &QPushButton::clicked, this, [this] { btCancelClick(); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btCancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(6);
    layout->addWidget(lbCount);
    layout->addWidget(lbFile);
    layout->addWidget(ProgressBar1);
    layout->addLayout(buttons);
    setFixedWidth(kFormWidth);
    ShowCount(0);
}

bool TProgressForm::Proceed(int done, const QString& fileName)
{
    if (!m_cancelled) {
        ShowCount(done);
        const QString name = QFileInfo(fileName).fileName();
        lbFile->setToolTip(fileName);
        lbFile->setText(lbFile->fontMetrics().elidedText(
            name, Qt::ElideMiddle, qMax(lbFile->width(), kFormWidth - 24)));
    }
    // Paint and take the Cancel click; input to every other window is refused by the modality.
    QCoreApplication::processEvents();
    return !m_cancelled;
}

void TProgressForm::ShowDone(int done) { ShowCount(done); }

void TProgressForm::btCancelClick()
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    btCancel->setEnabled(false);
    lbFile->setText(QStringLiteral("Stopping after the file in progress"));
}

void TProgressForm::reject() { btCancelClick(); }

void TProgressForm::closeEvent(QCloseEvent* event)
{
    // The window stays until the run has ended; closing it asks for that end.
    btCancelClick();
    event->ignore();
}

void TProgressForm::ShowCount(int done)
{
    lbCount->setText(QStringLiteral("Files done: %1 of %2").arg(done).arg(m_total));
    ProgressBar1->setValue(done);
}

} // namespace parvula::app
