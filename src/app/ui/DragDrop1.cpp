// TDragDropForm: the file list window that takes dropped files and folders.
#include "app/ui/DragDrop1.h"

#include <algorithm>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QListWidget>
#include <QMimeData>
#include <QSet>
#include <QUrl>
#include <QVBoxLayout>

#include "framework/ui/spz1_msg.h"
#include "platform/ui/platform_ui.h"

namespace parvula::app {

TDragDropForm* DragDropForm = nullptr;

namespace {

    // Local files and folders of a drop, in the drop's order; anything else is no file drop.
    QStringList DroppedPaths(const QMimeData* mime)
    {
        QStringList paths;
        if (!mime || !mime->hasUrls())
            return paths;
        for (const QUrl& url : mime->urls()) {
            if (url.isLocalFile())
                paths.append(url.toLocalFile());
        }
        return paths;
    }

} // namespace

TDragDropForm::TDragDropForm(QWidget* parent)
    : QWidget(parent, parent ? Qt::Widget : Qt::Window)
{
    setObjectName(QStringLiteral("DragDropForm"));
    setFont(platform::DesignFont());
    resize(311, 298);

    Files = new QListWidget(this);
    Files->setObjectName(QStringLiteral("Files"));
    Files->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // The list keeps its order itself (ignoring case, ties in arrival order); Qt's own sorting
    // would compare differently.
    Files->setSortingEnabled(false);
    Files->setUniformItemSizes(true);
    // Drops over the list reach this window, which takes files and folders only.
    Files->setAcceptDrops(false);
    Files->viewport()->setAcceptDrops(false);
    Files->installEventFilter(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Files);

    FormCreate();
}

void TDragDropForm::FormCreate()
{
    FileAccept.clear();
    setAcceptDrops(true);
}

QStringList TDragDropForm::Entries() const
{
    QStringList entries;
    entries.reserve(Files->count());
    for (int i = 0; i < Files->count(); ++i)
        entries.append(Files->item(i)->text());
    return entries;
}

QHash<QString, QString> TDragDropForm::DroppedWith() const
{
    QHash<QString, QString> droppedWith;
    for (int i = 0; i < Files->count(); ++i) {
        const QListWidgetItem* item = Files->item(i);
        droppedWith.insert(item->text(), item->data(Qt::UserRole).toString());
    }
    return droppedWith;
}

void TDragDropForm::SetEntries(const QStringList& entries, const QStringList& selected,
    const QHash<QString, QString>& droppedWith)
{
    const QSet<QString> keep(selected.begin(), selected.end());
    Files->setUpdatesEnabled(false);
    Files->clear();
    Files->addItems(entries);
    for (int i = 0; i < Files->count(); ++i) {
        QListWidgetItem* item = Files->item(i);
        item->setData(Qt::UserRole, droppedWith.value(item->text()));
        if (keep.contains(item->text()))
            item->setSelected(true);
    }
    Files->setUpdatesEnabled(true);
}

void TDragDropForm::DropFiles(const QStringList& paths)
{
    const QStringList listed = Entries();
    QStringList entries = listed;
    QStringList selected;
    for (const QListWidgetItem* item : Files->selectedItems())
        selected.append(item->text());

    // An entry listed before keeps the folder it came with.
    QHash<QString, QString> droppedWith = DroppedWith();
    const auto merge = [&droppedWith](const TDropResult& result) {
        for (auto it = result.droppedWith.cbegin(); it != result.droppedWith.cend(); ++it)
            if (!droppedWith.contains(it.key()))
                droppedWith.insert(it.key(), it.value());
    };
    TDropResult result;
    try {
        result = CollectDrop(entries, paths, FileAccept, m_dropOptions);
    } catch (const errors::EError& e) {
        // The entries that fitted stay listed, as before the list refused.
        if (e.Code() == errors::TCode::ListInsert)
            SetEntries(entries, selected, droppedWith);
        throw;
    }
    merge(result);
    if (entries != listed)
        SetEntries(entries, selected, droppedWith);
    if (!result.notice.isEmpty())
        framework::ShowMsg(result.notice, QStringLiteral("w"));
}

void TDragDropForm::DeleteSelected()
{
    QList<int> rows;
    for (const QModelIndex& index : Files->selectionModel()->selectedIndexes())
        rows.append(index.row());
    // From the last row up, so the rows still to go keep their numbers.
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    for (int row : rows)
        delete Files->takeItem(row);
}

void TDragDropForm::FilesKeyDown(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete)
        DeleteSelected();
}

bool TDragDropForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Files && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        framework::RunGuarded([&] { FilesKeyDown(key); });
    }
    // The key goes on to the list's own handling in every case.
    return QWidget::eventFilter(watched, event);
}

void TDragDropForm::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DroppedPaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TDragDropForm::dragMoveEvent(QDragMoveEvent* event)
{
    if (!DroppedPaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TDragDropForm::dropEvent(QDropEvent* event)
{
    const QStringList paths = DroppedPaths(event->mimeData());
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    framework::RunGuarded([&] { DropFiles(paths); });
}

} // namespace parvula::app
