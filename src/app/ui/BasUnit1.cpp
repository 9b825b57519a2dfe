// TForm1, the main window (settings panel, tool bar, the file list's panel), and the start-up
// steps that create the program's windows.
#include "app/ui/BasUnit1.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <memory>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/BasUnit1_batch.h"
#include "app/ui/BasUnit1_progress.h"
#include "app/ui/DragDrop1.h"
#include "colour/ui/ColorForm1.h"
#include "framework/ui/spz1_binding.h"
#include "framework/spz1_messages.h"
#include "framework/ui/spz1_msg.h"
#include "framework/spz1_paths.h"
#include "framework/ui/spz1_ui_spinedit.h"
#include "framework/ui/spz1_winpos.h"
#include "platform/ui/platform_ui.h"
#include "webinfo/ui/links.h"
#include "webinfo/ui/webinfo1.h"

// The pictures are compiled into a static library, whose resource initialiser the linker would
// drop: it has to be named. Q_INIT_RESOURCE must be used outside any namespace.
static void InitPictures() { Q_INIT_RESOURCE(resources); }

namespace parvula::app {

TForm1* Form1 = nullptr;

namespace {

    // The information panel reloads its page this often while it is open.
    constexpr int kInfoReloadMinutes = 3;

    // The form's design: every control at its own place, as the settings panel has no layout.
    template <class T>
    T* Place(QWidget* parent, const char* name, int left, int top, int width, int height)
    {
        auto* w = new T(parent);
        w->setObjectName(QString::fromLatin1(name));
        w->setGeometry(left, top, width, height);
        return w;
    }

    QLabel* Caption(QWidget* parent, const char* name, const char* text, int left, int top)
    {
        auto* label = Place<QLabel>(parent, name, left, top, 64, 14);
        label->setText(QString::fromLatin1(text));
        return label;
    }

    // The captions are placed for a narrow face; where only a wide one is installed, all of
    // them are set a little smaller, to one common size, rather than any being cut off.
    void EvenCaptions(std::initializer_list<QLabel*> captions)
    {
        QFont font = (*captions.begin())->font();
        const auto fitAll = [&] {
            const QFontMetrics metrics(font);
            for (const QLabel* label : captions)
                if (metrics.horizontalAdvance(label->text()) > label->width())
                    return false;
            return true;
        };
        while (!fitAll() && font.pointSizeF() > 6.0)
            font.setPointSizeF(font.pointSizeF() - 0.5);
        for (QLabel* label : captions)
            label->setFont(font);
    }

    // A small picture button; like the speed buttons it replaces it never takes the focus.
    QToolButton* PictureButton(
        QWidget* parent, const char* name, const char* picture, int left, int top, const char* hint)
    {
        auto* button = Place<QToolButton>(parent, name, left, top, 23, 22);
        button->setIcon(QIcon(QString::fromLatin1(picture)));
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setToolTip(QString::fromUtf8(hint));
        return button;
    }

    QToolButton* TextButton(QToolBar* bar, const char* name, const char* text)
    {
        auto* button = new QToolButton(bar);
        button->setObjectName(QString::fromLatin1(name));
        button->setText(QString::fromLatin1(text));
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setFocusPolicy(Qt::NoFocus);
        bar->addWidget(button);
        return button;
    }

    QListWidget* HiddenList(QWidget* parent, const char* name, int left, int top)
    {
        auto* list = Place<QListWidget>(parent, name, left, top, 123, 28);
        list->setVisible(false);
        return list;
    }

} // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    InitPictures();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(framework::ApplicationTitle());
    setFont(platform::DesignFont());
    CreateControls();
    ConnectHandlers();
    resize(496, 442);
    move(0, 0);
    Guarded(&TForm1::FormCreate);
}

void TForm1::CreateControls()
{
    PanelT = new QFrame(this);
    PanelT->setObjectName(QStringLiteral("PanelT"));
    PanelT->setFixedHeight(138);

    Label1 = Caption(PanelT, "Label1", "max. width", 12, 10);
    edWidth = Place<framework::TSpinEdit>(PanelT, "edWidth", 12, 26, 60, 21);
    edWidth->setToolTip(QStringLiteral("0=origin width"));
    edWidth->SetValue(0);

    Label2 = Caption(PanelT, "Label2", "max. height", 78, 10);
    edHeight = Place<framework::TSpinEdit>(PanelT, "edHeight", 78, 26, 60, 21);
    edHeight->setToolTip(QStringLiteral("0=origin height"));
    edHeight->SetValue(0);

    Label6 = Caption(PanelT, "Label6", "prefix/suffix", 144, 10);
    edNamex = Place<QLineEdit>(PanelT, "edNamex", 144, 26, 64, 21);
    edNamex->setToolTip(QStringLiteral("prefix: tn_\n      or\nsuffix: _tn"));

    Label3 = Caption(PanelT, "Label3", "filter", 214, 10);
    edFilter = Place<QComboBox>(PanelT, "edFilter", 214, 26, 84, 21);
    edFilter->addItems({ QStringLiteral("none"), QStringLiteral("Box"), QStringLiteral("Triangle"),
        QStringLiteral("Hermite"), QStringLiteral("Bell"), QStringLiteral("B-Spline"),
        QStringLiteral("Lanczos3"), QStringLiteral("Mitchell") });
    edFilter->setCurrentIndex(-1);

    Label5 = Caption(PanelT, "Label5", "format", 304, 10);
    edFormat = Place<QComboBox>(PanelT, "edFormat", 304, 26, 50, 21);
    edFormat->addItems(OutputFormatItems());
    edFormat->setCurrentIndex(-1);

    edUseMono = Place<QCheckBox>(PanelT, "edUseMono", 360, 8, 90, 17);
    edUseMono->setText(QStringLiteral("Mono Color"));
    edMono = Place<QLineEdit>(PanelT, "edMono", 360, 26, 66, 21);
    edMono->setToolTip(QStringLiteral("HTML code -> #123456"));
    edMono->installEventFilter(this);

    btHelp = PictureButton(PanelT, "btHelp", ":/btHelp.png", 431, 25, "info");
    btExpand = PictureButton(PanelT, "btExpand", ":/btExpand.png", 456, 25, "");

    Label7 = Caption(PanelT, "Label7", "jpg qual %", 12, 52);
    edJpgQual = Place<framework::TSpinEdit>(PanelT, "edJpgQual", 12, 68, 60, 21);
    edJpgQual->SetRange(10, 100);
    edJpgQual->SetValue(90);

    Label4 = Caption(PanelT, "Label4", "profil name", 78, 52);
    edProfil = Place<QComboBox>(PanelT, "edProfil", 78, 68, 150, 21);
    edProfil->setEditable(true);
    // The entries are the stored profiles only; typing a name and Enter must not add one.
    edProfil->setInsertPolicy(QComboBox::NoInsert);

    EvenCaptions({ Label1, Label2, Label6, Label3, Label5, Label7, Label4 });

    btOpen = PictureButton(PanelT, "btOpen", ":/btOpen.png", 232, 67, "load profil");
    btSave = PictureButton(PanelT, "btSave", ":/btSave.png", 257, 67, "save profil");
    btDel = PictureButton(PanelT, "btDel", ":/btDel.png", 282, 67, "delete profil");

    // Between the profile buttons and the donation picture, stacked like "Mono Color" over its
    // field; the top one starts at the collapsed panel's edge, so folding hides both whole.
    edAutoRotate = Place<QCheckBox>(PanelT, "edAutoRotate", 310, 56, 96, 17);
    edAutoRotate->setText(QStringLiteral("Upright"));
    edAutoRotate->setToolTip(
        QStringLiteral("turn photos as the camera held them (EXIF orientation)"));
    edAutoRotate->setChecked(true);
    edShrinkOnly = Place<QCheckBox>(PanelT, "edShrinkOnly", 310, 74, 96, 17);
    edShrinkOnly->setText(QStringLiteral("Shrink only"));
    edShrinkOnly->setToolTip(QStringLiteral("never enlarge pictures smaller than the box"));

    Image2 = Place<QLabel>(PanelT, "Image2", 409, 66, 76, 41);
    Image2->setPixmap(QPixmap(QStringLiteral(":/donate.png")));
    Image2->setAlignment(Qt::AlignCenter);
    Image2->setAttribute(Qt::WA_TranslucentBackground);
    Image2->setToolTip(QStringLiteral("Freiwillige Spende"));
    Image2->setCursor(Qt::PointingHandCursor);
    Image2->installEventFilter(this);

    lbHome = Place<QLabel>(PanelT, "lbHome", 12, 108, 150, 13);
    lbHome->setText(QStringLiteral("Homepage"));
    QFont link = lbHome->font();
    link.setUnderline(true);
    link.setPixelSize(11);
    lbHome->setFont(link);
    lbHome->setForegroundRole(QPalette::Link);
    lbHome->setCursor(Qt::PointingHandCursor);
    lbHome->installEventFilter(this);

    // The output folder sits in the free room of the third row, between the homepage link and
    // the version; empty means beside the sources.
    edOutDir = Place<QLineEdit>(PanelT, "edOutDir", 168, 104, 92, 21);
    edOutDir->setPlaceholderText(QStringLiteral("output folder"));
    edOutDir->setToolTip(QStringLiteral(
        "output folder: empty = beside each source;\nthe tree of a dropped folder is kept in it"));
    btOutDir
        = PictureButton(PanelT, "btOutDir", ":/btOpen.png", 262, 103, "choose the output folder");

    btMore = Place<QToolButton>(PanelT, "btMore", 289, 103, 50, 22);
    btMore->setText(QStringLiteral("more \u25BE"));
    btMore->setAutoRaise(true);
    btMore->setFocusPolicy(Qt::StrongFocus);
    btMore->setToolTip(QStringLiteral("colours, metadata and dates"));

    PanelMore = new QFrame(this, Qt::Popup);
    PanelMore->setObjectName(QStringLiteral("PanelMore"));
    PanelMore->setFrameShape(QFrame::StyledPanel);
    edColoursAsStored = new QCheckBox(QStringLiteral("Colours as stored"), PanelMore);
    edColoursAsStored->setObjectName(QStringLiteral("edColoursAsStored"));
    edColoursAsStored->setToolTip(QStringLiteral(
        "keep the numbers of photos with a colour profile as stored\n(off: converted to sRGB)"));
    Label8 = new QLabel(QStringLiteral("metadata"), PanelMore);
    Label8->setObjectName(QStringLiteral("Label8"));
    edMetadata = new QComboBox(PanelMore);
    edMetadata->setObjectName(QStringLiteral("edMetadata"));
    edMetadata->addItems(MetadataItems());
    edMetadata->setCurrentIndex(0);
    edMetadata->setToolTip(QStringLiteral("what the thumbnails keep of EXIF, XMP and IPTC;\n"
                                          "JPEG, PNG and WebP thumbnails only"));
    Label8->setBuddy(edMetadata);
    edKeepDates = new QCheckBox(QStringLiteral("Keep dates"), PanelMore);
    edKeepDates->setObjectName(QStringLiteral("edKeepDates"));
    edKeepDates->setToolTip(QStringLiteral("give each thumbnail its source's modification time"));
    auto* moreLayout = new QVBoxLayout(PanelMore);
    moreLayout->setContentsMargins(8, 6, 8, 6);
    moreLayout->setSpacing(4);
    moreLayout->addWidget(edColoursAsStored);
    auto* metadataRow = new QHBoxLayout;
    metadataRow->addWidget(Label8);
    metadataRow->addWidget(edMetadata, 1);
    moreLayout->addLayout(metadataRow);
    moreLayout->addWidget(edKeepDates);
    PanelMore->installEventFilter(this);
    QWidget::setTabOrder(edColoursAsStored, edMetadata);
    QWidget::setTabOrder(edMetadata, edKeepDates);

    // Right-aligned in a box whose right edge stays at 485, whatever the version's length.
    lbVersion = Place<QLabel>(PanelT, "lbVersion", 340, 108, 145, 13);
    lbVersion->setText(QStringLiteral("v."));
    lbVersion->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setFixedHeight(19);
    ToolBar1->setMovable(false);
    btCopy = TextButton(ToolBar1, "btCopy", "Copy");
    btClear = TextButton(ToolBar1, "btClear", "Clear");
    btExecSel = TextButton(ToolBar1, "btExecSel", "Create selected");
    btExec = TextButton(ToolBar1, "btExec", "Create all");

    Button1 = new QPushButton(
        QStringLiteral("Files: Drag + Drop from Explorer (bmp,jpg,png,gif)"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setFixedHeight(25);

    Panel = new QFrame(this);
    Panel->setObjectName(QStringLiteral("Panel"));
    Image1 = Place<QLabel>(Panel, "Image1", 8, 8, 32, 32);
    Image1->setVisible(false);
    List1 = HiddenList(Panel, "List1", 48, 15);
    List2 = HiddenList(Panel, "List2", 176, 15);
    HelpList = HiddenList(Panel, "HelpList", 273, 15);
    HelpList->addItems(webinfo::HelpLines());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(PanelT);
    layout->addWidget(ToolBar1);
    layout->addWidget(Button1);
    layout->addWidget(Panel, 1);

    QWidget* const focusOrder[] = { edWidth, edHeight, edNamex, edFilter, edFormat, edJpgQual,
        edProfil, edUseMono, edMono, edAutoRotate, edShrinkOnly, edOutDir, btMore, Button1 };
    for (std::size_t i = 1; i < std::size(focusOrder); ++i)
        QWidget::setTabOrder(focusOrder[i - 1], focusOrder[i]);
}

void TForm1::ConnectHandlers()
{
    const auto on = [this](QAbstractButton* button, void (TForm1::*handler)()) {
        connect(button, &QAbstractButton::clicked, this, [this, handler] { Guarded(handler); });
    };
    on(btExpand, &TForm1::btExpandClick);
    on(btClear, &TForm1::btClearClick);
    on(btCopy, &TForm1::btCopyClick);
    on(btHelp, &TForm1::btHelpClick);
    on(btOpen, &TForm1::btOpenClick);
    on(btSave, &TForm1::btSaveClick);
    on(btDel, &TForm1::btDelClick);
    on(btOutDir, &TForm1::btOutDirClick);
    on(btMore, &TForm1::btMoreClick);
    connect(edColoursAsStored, &QCheckBox::toggled, this, [this] { MarkMore(); });
    connect(edMetadata, &QComboBox::currentIndexChanged, this, [this] { MarkMore(); });
    connect(edKeepDates, &QCheckBox::toggled, this, [this] { MarkMore(); });
    for (QToolButton* button : { btExec, btExecSel }) {
        connect(button, &QAbstractButton::clicked, this,
            [this, button] { framework::RunGuarded([&] { btAction(button); }); });
    }
}

void TForm1::Guarded(void (TForm1::*handler)())
{
    framework::RunGuarded([&] { (this->*handler)(); });
}

int TForm1::CollapsedHeight() const { return edWidth->y() + 30; }

int TForm1::ExpandedHeight() const { return lbHome->y() + 30; }

void TForm1::FormCreate() { framework::PlaceWindow(this, false); }

void TForm1::FormShow()
{
    webinfo::SetupHomeLink(lbHome);
    // Sized to its caption, so the link's background does not run on past the text.
    lbHome->adjustSize();
    webinfo::SetVersionLabel(lbVersion, framework::ProductVersion);
    if (DragDropForm) {
        DragDropForm->FileAccept = DefaultFileAccept();
        webinfo::EmbedForm(DragDropForm, Panel);
        // Placing the window may give it a new native handle, so the drop target is set after.
        DragDropForm->setAcceptDrops(true);
    }
    BindSettings(QStringLiteral("df"), framework::bindLoad);
    RefreshProfiles();
    if (!webinfo::WebInfo)
        webinfo::WebInfo = new webinfo::TWebInfo;
    webinfo::WebInfo->exec(this, kInfoReloadMinutes);
}

void TForm1::FormClose()
{
    BindSettings(QStringLiteral("df"), framework::bindSave);
    framework::PlaceWindow(this, true);
}

void TForm1::btExpandClick()
{
    const int collapsed = CollapsedHeight();
    // The fixed height is the panel's own setting; its current geometry may still be pending.
    const bool collapsing = PanelT->minimumHeight() != collapsed;
    PanelT->setFixedHeight(collapsing ? collapsed : ExpandedHeight());
    // The second row's captions begin just above the folded edge and would peek out of it: the
    // folded panel shows only controls that lie wholly within it.
    if (collapsing) {
        for (QWidget* child : PanelT->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (child->isVisibleTo(PanelT) && child->geometry().bottom() >= collapsed) {
                child->hide();
                m_folded.append(child);
            }
        }
    } else {
        for (const QPointer<QWidget>& child : std::as_const(m_folded))
            if (child)
                child->show();
        m_folded.clear();
    }
}

void TForm1::btOutDirClick()
{
    const QString start = OutputFolderOf(edOutDir->text(), QDir::homePath());
    const QString chosen = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Output folder"), start.isEmpty() ? QDir::homePath() : start);
    if (!chosen.isEmpty())
        edOutDir->setText(QDir::toNativeSeparators(chosen));
}

void TForm1::btMoreClick()
{
    PanelMore->adjustSize();
    PanelMore->move(btMore->mapToGlobal(QPoint(0, btMore->height())));
    PanelMore->show();
    edColoursAsStored->setFocus(Qt::PopupFocusReason);
}

void TForm1::MarkMore()
{
    const bool changed = edColoursAsStored->isChecked() || edMetadata->currentIndex() > 0
        || edKeepDates->isChecked();
    QFont font = btMore->font();
    font.setBold(changed);
    btMore->setFont(font);
}

void TForm1::btClearClick()
{
    if (DragDropForm)
        DragDropForm->Files->clear();
}

void TForm1::btCopyClick()
{
    QString text;
    if (DragDropForm) {
        for (const QString& entry : DragDropForm->Entries())
            text += entry + QStringLiteral("\r\n");
    }
    platform::SetClipboardText(text);
}

TBatchSettings TForm1::ReadBatchSettings() const
{
    TBatchSettings s;
    s.width = edWidth->Value();
    s.height = edHeight->Value();
    s.namex = edNamex->text();
    s.filter = edFilter->currentIndex();
    s.format = edFormat->currentIndex() < 0 ? QString() : edFormat->currentText();
    s.jpgQual = edJpgQual->Value();
    s.useMono = edUseMono->isChecked();
    s.mono = edMono->text();
    s.upright = edAutoRotate->isChecked();
    s.shrinkOnly = edShrinkOnly->isChecked();
    s.outputDir = OutputFolderOf(edOutDir->text(), QDir::homePath());
    s.coloursAsStored = edColoursAsStored->isChecked();
    s.metadata = static_cast<imaging::TMetadataCopy>(std::max(0, edMetadata->currentIndex()));
    s.keepDates = edKeepDates->isChecked();
    return s;
}

void TForm1::btAction(QObject* sender)
{
    // The entries are taken once, at the click; the settings are read again for every file.
    QStringList entries;
    if (DragDropForm) {
        const QListWidget* files = DragDropForm->Files;
        for (int i = 0; i < files->count(); ++i) {
            if (sender != btExecSel || files->item(i)->isSelected())
                entries.append(files->item(i)->text());
        }
    }
    TBatchRun run([this] { return ReadBatchSettings(); });
    if (DragDropForm)
        run.SetDroppedWith(DragDropForm->DroppedWith());
    const int total = static_cast<int>(entries.size());
    // Deleted on every way out, an error included, so the error box never sits behind it.
    std::unique_ptr<TProgressForm> progress;
    if (total > kProgressAbove) {
        progress = std::make_unique<TProgressForm>(this, total);
        progress->show();
    }
    // Counted here rather than taken from the index: the index is a file's place in the list,
    // which tells how many are done only while files finish in list order.
    int done = 0;
    const int created = RunBatch(
        run, entries,
        [&](int, const QString&, const QString&) {
            ++done;
            if (progress)
                progress->ShowDone(done);
            emit BatchFileDone(done, total);
        },
        [&](int, const QString& source) { return !progress || progress->Proceed(done, source); });
    progress.reset();
    framework::ShowMsg(
        framework::MessageText(errors::TCode::Created, {}, { QString::number(created) }),
        QStringLiteral("i"));
}

void TForm1::edMonoClick()
{
    if (colour::ColorForm)
        edMono->setText(colour::ColorForm->execHTMLColor(edMono->text()));
}

void TForm1::btHelpClick()
{
    QStringList lines;
    for (int i = 0; i < HelpList->count(); ++i)
        lines.append(HelpList->item(i)->text());
    webinfo::ShowHelp(lines);
}

void TForm1::lbHomeClick() { webinfo::ShellOpen(webinfo::HomepageURL()); }

void TForm1::Image2Click() { webinfo::OpenDonationPage(framework::ProductTitle); }

void TForm1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        Guarded(&TForm1::FormShow);
    }
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // The window closes even when saving failed: the report has told the user.
    Guarded(&TForm1::FormClose);
    event->accept();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    // The dropped-down panel closes on Escape as a menu does, handing the focus back.
    if (watched == PanelMore && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        PanelMore->hide();
        btMore->setFocus(Qt::PopupFocusReason);
        return true;
    }
    // Only a click opens the picker or a link: focus arriving by keyboard does not.
    if (event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget
            && widget->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
            if (watched == edMono)
                Guarded(&TForm1::edMonoClick);
            else if (watched == lbHome)
                Guarded(&TForm1::lbHomeClick);
            else if (watched == Image2)
                Guarded(&TForm1::Image2Click);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ApplyVisualStyle(const QString& name)
{
    if (!platform::ApplyStyle(name))
        framework::ShowErrorReport(
            framework::MessageText(errors::TCode::StyleNotFound, {}, { name }));
}

QIcon ProgramIcon()
{
    InitPictures();
    QIcon icon;
    for (int size : { 16, 24, 32, 48, 64, 128, 256 })
        icon.addFile(QStringLiteral(":/icons/hicolor/%1x%1/apps/parvula.png").arg(size));
    return icon;
}

void CreateWindows()
{
    QApplication::setWindowIcon(ProgramIcon());
    Form1 = new TForm1;
    DragDropForm = new TDragDropForm;
    webinfo::WebInfo = new webinfo::TWebInfo;
    colour::ColorForm = new colour::TColorForm;
}

void DestroyWindows()
{
    delete colour::ColorForm;
    colour::ColorForm = nullptr;
    delete webinfo::WebInfo;
    webinfo::WebInfo = nullptr;
    // The list window lives inside the main window's panel once shown; detach it first so each
    // is deleted exactly once.
    if (DragDropForm)
        DragDropForm->setParent(nullptr);
    delete DragDropForm;
    DragDropForm = nullptr;
    delete Form1;
    Form1 = nullptr;
}

} // namespace parvula::app
