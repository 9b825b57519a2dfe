// The colour picker dialog TColorForm: colour panel, named colours, HTML code field, results.
#pragma once

#include <QDialog>
#include <QString>

#include "colour/ColorForm1_codes.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace parvula::colour {

class TColorPanel;

class TColorForm : public QDialog {
    Q_OBJECT

public:
    explicit TColorForm(QWidget* parent = nullptr);

    using QDialog::exec;
    // Shows the dialog modally, preset to c unless c is kNoPreset (the panel then keeps its
    // colour); returns Ok.
    bool exec(TAlphaColor c);
    // Each returns the confirmed colour after "Ok" and its argument unchanged otherwise.
    qint32 execColor(qint32 c);
    qint32 execVCLColor(qint32 c);
    QString execHTMLColor(const QString& c);
    // Presets the panel without showing the dialog.
    void setVclColor(qint32 c);

    // The colour currently shown (the panel's).
    TAlphaColor PanelColor() const;

    // Controls, in their order.
    TColorPanel* ColorPanel1;
    QListWidget* ColorListBox1;
    QLineEdit* edColor;
    QLabel* Label1;
    QPushButton* btCancel;
    QPushButton* btOk;

    // The last confirmed choice, kept until the next "Ok"; Ok itself is reset at every opening.
    qint32 AColor = 0;
    qint32 VclColor = 0;
    QString HTMLColor;
    bool Ok = false;

public slots:
    void ColorPanel1Change();
    void ColorListBox1Change();
    void edColorTyping();
    void btOkClick();
    void btCancelClick();
    void ColorListBox1MouseLeave();

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TAlphaColor m_background = 0xFFFFFFFFu;
};

// The one picker of the program; created at start-up by the application.
inline TColorForm* ColorForm = nullptr;

} // namespace parvula::colour
