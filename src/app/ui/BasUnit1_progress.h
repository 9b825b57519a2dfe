// TProgressForm, the modal window of a longer batch run: files done, the current file, Cancel.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;

namespace parvula::app {

// Runs longer than this many files show the progress window; shorter ones finish before it
// would be read.
inline constexpr int kProgressAbove = 3;

// Shown application-modal while the run goes on in the handler that started it: the main window
// takes no input meanwhile, so the settings the run reads for every file cannot change.
class TProgressForm : public QDialog {
    Q_OBJECT

public:
    TProgressForm(QWidget* parent, int total);

    QLabel* lbCount;
    QLabel* lbFile;
    QProgressBar* ProgressBar1;
    QPushButton* btCancel;

    // Before each file: shows it with the files done so far, lets the window paint and take a
    // click, and answers whether the run may go on with that file.
    bool Proceed(int done, const QString& fileName);
    // After each file written.
    void ShowDone(int done);
    bool Cancelled() const { return m_cancelled; }

    // Cancel, Esc and the window's close button: the run stops after the file in progress.
    void btCancelClick();

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void ShowCount(int done);

    int m_total;
    bool m_cancelled = false;
};

} // namespace parvula::app
