// TDragDropForm: drops of files and folders, the Delete key, selection and the list's refusal.
#include <ostream>
#include <vector>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QListWidget>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>

#include "app/ui/DragDrop1.h"
#include "framework/ui/spz1_msg.h"

using namespace parvula::app;
using namespace parvula::framework;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

class DropTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_previous = SetMsgResponder([this](const TMsgRequest& r) {
            boxes.push_back(r);
            return mrOk;
        });
    }
    void TearDown() override { SetMsgResponder(m_previous); }

    QString Make(const QString& relative)
    {
        const QString path = m_dir.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        return path;
    }
    QString Path(const QString& relative) const { return m_dir.filePath(relative); }

    // Sends a real drop event carrying these paths as file addresses.
    static void Drop(TDragDropForm& form, const QStringList& paths)
    {
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& p : paths)
            urls.append(QUrl::fromLocalFile(p));
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&form, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&form, &drop);
    }

    QStringList Names(const TDragDropForm& form) const
    {
        QStringList names;
        for (const QString& e : form.Entries())
            names.append(QDir(m_dir.path()).relativeFilePath(e));
        return names;
    }

    std::vector<TMsgRequest> boxes;

private:
    QTemporaryDir m_dir;
    TMsgResponder m_previous;
};

} // namespace

TEST_F(DropTest, EveryFileIsTakenUntilTheAcceptedExtensionsAreSet)
{
    TDragDropForm form;
    EXPECT_TRUE(form.FileAccept.isEmpty());
    EXPECT_TRUE(form.acceptDrops());
    Drop(form, { Make("notes.txt"), Make("photo") });
    EXPECT_EQ(Names(form), (QStringList { "notes.txt", "photo" }));

    form.FileAccept = DefaultFileAccept();
    Drop(form, { Make("more.txt"), Make("p/A.JPG") });
    EXPECT_EQ(Names(form), (QStringList { "notes.txt", "p/A.JPG", "photo" }));
    EXPECT_TRUE(boxes.empty()) << "a refused file is ignored silently";
}

TEST_F(DropTest, NewEntriesGoToTheirPlaceAndTheSelectionStays)
{
    TDragDropForm form;
    form.FileAccept = DefaultFileAccept();
    Drop(form, { Make("b.jpg"), Make("d.png") });
    form.Files->item(1)->setSelected(true); // d.png
    Make("folder/x.gif");
    Drop(form, { Make("C.bmp"), Path("folder"), Make("a.ico") });
    EXPECT_EQ(Names(form), (QStringList { "a.ico", "b.jpg", "C.bmp", "d.png", "folder/x.gif" }));
    ASSERT_EQ(form.Files->selectedItems().size(), 1);
    EXPECT_TRUE(form.Files->selectedItems()[0]->text().endsWith(QStringLiteral("d.png")));
}

TEST_F(DropTest, DeleteRemovesEverySelectedEntryAndNothingWithoutASelection)
{
    TDragDropForm form;
    Drop(form, { Make("1.jpg"), Make("2.jpg"), Make("3.jpg"), Make("4.jpg"), Make("5.jpg") });
    ASSERT_EQ(form.Files->count(), 5);

    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QCoreApplication::sendEvent(form.Files, &del);
    EXPECT_EQ(form.Files->count(), 5);

    for (int row : { 0, 2, 4 })
        form.Files->item(row)->setSelected(true);
    QCoreApplication::sendEvent(form.Files, &del);
    EXPECT_EQ(Names(form), (QStringList { "2.jpg", "4.jpg" }));

    // Other keys leave the list alone.
    form.Files->item(0)->setSelected(true);
    QKeyEvent other(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    QCoreApplication::sendEvent(form.Files, &other);
    EXPECT_EQ(form.Files->count(), 2);
}

TEST_F(DropTest, AFullListShowsItsErrorAndKeepsWhatFitted)
{
    TDragDropForm form;
    TDropOptions small;
    small.capacity = 2;
    form.SetDropOptions(small);
    Drop(form, { Make("a.jpg"), Make("b.jpg"), Make("c.jpg") });
    EXPECT_EQ(Names(form), (QStringList { "a.jpg", "b.jpg" }));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Zeile kann nicht eingefügt werden."));
    EXPECT_EQ(boxes[0].kind, TMsgKind::Error);
    EXPECT_EQ(boxes[0].caption, ApplicationTitle());
}

TEST_F(DropTest, ALimitOfTheWalkIsToldAsAWarning)
{
    TDragDropForm form;
    TDropOptions few;
    few.maxFiles = 2;
    form.SetDropOptions(few);
    Make("d/a.jpg");
    Make("d/b.jpg");
    Make("d/c.jpg");
    Drop(form, { Path("d") });
    EXPECT_EQ(form.Files->count(), 2);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, TMsgKind::Warning);
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("first 2 files")));
}
