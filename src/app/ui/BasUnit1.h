// TForm1, the main window (settings panel, tool bar, the file list's panel), and the start-up
// steps that create the program's windows.
#pragma once

#include <QIcon>
#include <QString>
#include <QList>
#include <QPointer>
#include <QWidget>

#include "framework/ui/spz1_binding.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QToolBar;
class QToolButton;

namespace parvula::framework {
class TSpinEdit;
}

namespace parvula::app {

struct TBatchSettings;

class TForm1 : public QWidget {
    Q_OBJECT

public:
    explicit TForm1(QWidget* parent = nullptr);

    // Settings panel, first row.
    QFrame* PanelT;
    QLabel* Label1;
    framework::TSpinEdit* edWidth;
    QLabel* Label2;
    framework::TSpinEdit* edHeight;
    QLabel* Label6;
    QLineEdit* edNamex;
    QLabel* Label3;
    QComboBox* edFilter;
    QLabel* Label5;
    QComboBox* edFormat;
    QCheckBox* edUseMono;
    QLineEdit* edMono;
    QToolButton* btHelp;
    QToolButton* btExpand;
    // Second row.
    QLabel* Label7;
    framework::TSpinEdit* edJpgQual;
    QLabel* Label4;
    QComboBox* edProfil;
    QToolButton* btOpen;
    QToolButton* btSave;
    QToolButton* btDel;
    QCheckBox* edAutoRotate;
    QCheckBox* edShrinkOnly;
    QLabel* Image2;
    // Third row.
    QLabel* lbHome;
    QLabel* lbVersion;
    // The output folder (empty: beside the sources) and its folder picker.
    QLineEdit* edOutDir;
    QToolButton* btOutDir;
    // Beside it, "more" drops down a small panel with the settings of colours, metadata and
    // dates, for which the settings panel has no free room of its own.
    QToolButton* btMore;
    QFrame* PanelMore;
    QCheckBox* edColoursAsStored;
    QLabel* Label8;
    QComboBox* edMetadata;
    QCheckBox* edKeepDates;
    // Tool bar, caption bar and the lower panel with its invisible helpers.
    QToolBar* ToolBar1;
    QToolButton* btCopy;
    QToolButton* btClear;
    QToolButton* btExecSel;
    QToolButton* btExec;
    QPushButton* Button1;
    QFrame* Panel;
    QLabel* Image1;
    QListWidget* List1;
    QListWidget* List2;
    QListWidget* HelpList;

    // Heights of the settings panel: the first row only, and every row.
    int CollapsedHeight() const;
    int ExpandedHeight() const;

    void FormCreate();
    void FormShow();
    void FormClose();
    void btExpandClick();
    void btClearClick();
    void btOutDirClick();
    void btMoreClick();
    void btCopyClick();
    // The batch run over all entries (btExec) or the selected ones (btExecSel). A run of more
    // than a few files shows the modal progress window, whose Cancel ends it after the file in
    // progress; the count then covers the files written.
    void btAction(QObject* sender);
    // The settings panel as the batch run reads it for one file.
    TBatchSettings ReadBatchSettings() const;
    void edMonoClick();
    void btHelpClick();
    void lbHomeClick();
    void Image2Click();

    // Profiles: the fourteen settings controls loaded from (mode 0) or saved to (mode 1) a section.
    void BindSettings(const QString& section, framework::TBindMode mode);
    void RefreshProfiles();
    void btOpenClick();
    void btSaveClick();
    void btDelClick();

signals:
    // After each file a batch run has written: how many so far, of how many entries.
    void BatchFileDone(int done, int total);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void ConnectHandlers();
    // Runs a handler through the error report guard.
    void Guarded(void (TForm1::*handler)());
    // "more" in bold while a setting behind it differs from its default, so none is forgotten.
    void MarkMore();

    bool m_shown = false;
    // The controls that folding the settings panel hid, shown again when it unfolds.
    QList<QPointer<QWidget>> m_folded;
};

// The main window, alive from start-up to the end of the program.
extern TForm1* Form1;

// Start-up step: applies the visual style; a missing one gives the error box and the plain look.
void ApplyVisualStyle(const QString& name);
// The program's icon from the resources, in the sizes of the desktop's icon theme.
QIcon ProgramIcon();
// Start-up step: creates the windows in their order (main window, file list, information panel,
// colour picker), every one with the program's icon. DestroyWindows ends them in the opposite
// order.
void CreateWindows();
void DestroyWindows();

} // namespace parvula::app
