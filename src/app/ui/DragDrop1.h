// TDragDropForm: the file list window that takes dropped files and folders.
#pragma once

#include <QString>
#include <QHash>
#include <QStringList>
#include <QWidget>

#include "app/DragDrop1_collect.h"

class QListWidget;

namespace parvula::app {

class TDragDropForm : public QWidget {
    Q_OBJECT

public:
    explicit TDragDropForm(QWidget* parent = nullptr);

    // The entries, full paths in list order; several may be selected.
    QListWidget* Files = nullptr;
    // The accepted extensions, lower case, without dots, separated by commas; empty: every file.
    QString FileAccept;

    // The list's entries in order.
    QStringList Entries() const;
    // The folder each entry was dropped with (the empty text for a file dropped on its own).
    QHash<QString, QString> DroppedWith() const;
    // The body of the drop handler: adds the dropped files and folders.
    void DropFiles(const QStringList& paths);
    // The Delete key's action: removes every selected entry.
    void DeleteSelected();

    // How drops are collected (tests choose the case rule and the limits).
    void SetDropOptions(const TDropOptions& options) { m_dropOptions = options; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FilesKeyDown(QKeyEvent* event);
    void SetEntries(const QStringList& entries, const QStringList& selected,
        const QHash<QString, QString>& droppedWith);

    TDropOptions m_dropOptions;
};

// The one file list window of the program, alive from start-up to the end.
extern TDragDropForm* DragDropForm;

} // namespace parvula::app
