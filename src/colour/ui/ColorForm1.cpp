// The colour picker dialog TColorForm: colour panel, named colours, HTML code field, results.
#include "colour/ui/ColorForm1.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

#include "colour/ui/ColorForm1_form_panel.h"

namespace parvula::colour {

namespace {

    QIcon Swatch(TAlphaColor c)
    {
        QPixmap pm(16, 12);
        // Alpha is ignored, as in the panel: "Null" shows as black.
        pm.fill(QColor::fromRgb(QRgb(c | 0xFF000000u)));
        QPainter p(&pm);
        p.setPen(Qt::gray);
        p.drawRect(0, 0, pm.width() - 1, pm.height() - 1);
        return QIcon(pm);
    }

} // namespace

TColorForm::TColorForm(QWidget* parent)
    : QDialog(parent,
        Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint
            | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , ColorPanel1(new TColorPanel(this))
    , ColorListBox1(new QListWidget(this))
    , edColor(new QLineEdit(this))
    , Label1(new QLabel(QStringLiteral("RGB (HTML)"), this))
    , btCancel(new QPushButton(QStringLiteral("Abbruch"), this))
    , btOk(new QPushButton(QStringLiteral("Ok"), this))
{
    setObjectName(QStringLiteral("ColorForm"));
    setWindowTitle(QStringLiteral("Color"));
    setFixedSize(442, 264);
    move(0, 0);

    ColorPanel1->setObjectName(QStringLiteral("ColorPanel1"));
    ColorListBox1->setObjectName(QStringLiteral("ColorListBox1"));
    edColor->setObjectName(QStringLiteral("edColor"));
    Label1->setObjectName(QStringLiteral("Label1"));
    btCancel->setObjectName(QStringLiteral("btCancel"));
    btOk->setObjectName(QStringLiteral("btOk"));

    Label1->setGeometry(124, 12, 84, 21);
    Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label1->setWordWrap(false);
    edColor->setGeometry(232, 12, 159, 22);
    ColorListBox1->setGeometry(35, 48, 180, 161);
    ColorPanel1->setGeometry(226, 48, 187, 163);
    btCancel->setGeometry(36, 220, 180, 22);
    btOk->setGeometry(230, 220, 171, 22);

    ColorListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    for (const TNamedColor& named : NamedColors()) {
        auto* item = new QListWidgetItem(Swatch(named.value), QString::fromLatin1(named.name));
        item->setData(Qt::UserRole, QVariant::fromValue<quint32>(named.value));
        ColorListBox1->addItem(item);
    }
    ColorListBox1->setCurrentRow(-1);
    ColorListBox1->installEventFilter(this);

    // Enter presses "Ok" unless a button has the focus; Escape rejects, as "Abbruch" does.
    btOk->setDefault(true);

    connect(ColorPanel1, &TColorPanel::Changed, this, &TColorForm::ColorPanel1Change);
    // The selection, not the current row: the item view moves its current row by itself when the
    // list takes the focus (opening the dialog gives it the focus), and only a choice of the
    // user's may change the colour.
    connect(
        ColorListBox1, &QListWidget::itemSelectionChanged, this, &TColorForm::ColorListBox1Change);
    // textEdited, not textChanged: the refresh's own rewrite of the field must not re-enter.
    connect(edColor, &QLineEdit::textEdited, this, &TColorForm::edColorTyping);
    connect(btOk, &QPushButton::clicked, this, &TColorForm::btOkClick);
    connect(btCancel, &QPushButton::clicked, this, &TColorForm::btCancelClick);

    ColorPanel1->SetColor(0xFFFFFFFFu);
    ColorPanel1Change();
}

TAlphaColor TColorForm::PanelColor() const { return ColorPanel1->Color(); }

bool TColorForm::exec(TAlphaColor c)
{
    Ok = false;
    if (c != kNoPreset)
        ColorPanel1->SetColor(c);
    ColorPanel1Change();
    QDialog::exec();
    return Ok;
}

qint32 TColorForm::execColor(qint32 c) { return exec(static_cast<TAlphaColor>(c)) ? AColor : c; }

qint32 TColorForm::execVCLColor(qint32 c) { return exec(TColorToAlphaColor(c)) ? VclColor : c; }

QString TColorForm::execHTMLColor(const QString& c)
{
    return exec(HTMLToAlphaColor(c)) ? HTMLColor : c;
}

void TColorForm::setVclColor(qint32 c)
{
    ColorPanel1->SetColor(TColorToAlphaColor(c));
    ColorPanel1Change();
}

void TColorForm::ColorPanel1Change()
{
    const TAlphaColor c = ColorPanel1->Color();
    m_background = c;
    update();
    edColor->setText(AlphaColorToHTML(c));
    // The caption sits on the colour itself, so its text follows the colour's lightness.
    QPalette caption = Label1->palette();
    caption.setColor(QPalette::WindowText, QColor::fromRgb(QRgb(CaptionTextOn(c))));
    Label1->setPalette(caption);
}

void TColorForm::ColorListBox1Change()
{
    const QList<QListWidgetItem*> selected = ColorListBox1->selectedItems();
    if (selected.isEmpty())
        return;
    ColorPanel1->SetColor(selected.front()->data(Qt::UserRole).value<quint32>());
    ColorPanel1Change();
}

void TColorForm::edColorTyping()
{
    // Acts only on a whole code, so partial typing never disturbs the panel.
    if (edColor->text().size() != 7)
        return;
    ColorPanel1->SetColor(HTMLToAlphaColor(edColor->text()));
    ColorPanel1Change();
}

void TColorForm::btOkClick()
{
    Ok = true;
    // From the panel, never from the field, which may hold a partial text.
    const TAlphaColor c = ColorPanel1->Color();
    AColor = static_cast<qint32>(c);
    VclColor = AlphaColorToTColor(c);
    HTMLColor = AlphaColorToHTML(c);
    accept();
}

void TColorForm::btCancelClick() { reject(); }

void TColorForm::ColorListBox1MouseLeave()
{
    // Lets the same entry be chosen again after the colour changed by other means.
    ColorListBox1->clearSelection();
    ColorListBox1->setCurrentRow(-1);
}

void TColorForm::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor::fromRgb(QRgb(m_background | 0xFF000000u)));
}

bool TColorForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ColorListBox1 && event->type() == QEvent::Leave)
        ColorListBox1MouseLeave();
    return QDialog::eventFilter(watched, event);
}

} // namespace parvula::colour
