// Tests of the window position memory with an injected primary-screen size.
#include "framework/ui/spz1_winpos.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTemporaryDir>
#include <QWidget>

#include "framework/spz1_ini.h"
#include "framework/spz1_paths.h"
#include "platform/platform_version.h"

using namespace parvula::framework;

namespace {

class WindowPosition : public testing::Test {
protected:
    void SetUp() override
    {
        // The framework's folders inside a temporary folder; the portable switch is off.
        ASSERT_TRUE(m_dir.isValid());
        QDir(m_dir.path()).mkpath("bin");
        QDir(m_dir.path()).mkpath("config");
        TFolderSources sources;
        sources.exeFilePath
            = m_dir.path() + "/bin/" + QFileInfo(parvula::platform::OwnExecutablePath()).fileName();
        sources.roaming = m_dir.path() + "/config";
        sources.title = "Parvula";
        m_savedTitle = ProductTitle;
        ProductTitle.clear();
        PortableMode = -1;
        ResolveDataFolders(false, sources, false);
        m_form.setObjectName("Form1");
        m_form.move(30, 40);
    }
    void TearDown() override { ProductTitle = m_savedTitle; }

    void StoreEdges(const QString& top, const QString& left)
    {
        WriteSetting(QString(), "Form1.top", top);
        WriteSetting(QString(), "Form1.left", left);
    }

    const QSize m_screen { 1920, 1080 };
    QTemporaryDir m_dir;
    QString m_savedTitle;
    QWidget m_form;
};

TEST_F(WindowPosition, NoStoredKeysKeepTheDesignedPlace)
{
    PlaceWindow(&m_form, false, m_screen);
    EXPECT_EQ(m_form.pos(), QPoint(30, 40));
    EXPECT_TRUE(m_form.testAttribute(Qt::WA_Moved));
}

TEST_F(WindowPosition, EachEdgeIsCheckedOnItsOwn)
{
    struct TCase {
        const char* top;
        const char* left;
        QPoint expected;
    };
    const TCase cases[] = {
        { "979", "1819", { 1819, 979 } },
        { "980", "500", { 500, 40 } }, // top refused, left still applied
        { "200", "1820", { 30, 200 } }, // a window left on a monitor to the right
        { "-9", "-9", { -9, -9 } },
        { "-10", "-10", { 30, 40 } },
        { "-32000", "-32000", { 30, 40 } }, // where a minimised window reports itself
        { "0", "0", { 0, 0 } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.top) + "," + c.left);
        m_form.move(30, 40);
        StoreEdges(c.top, c.left);
        PlaceWindow(&m_form, false, m_screen);
        EXPECT_EQ(m_form.pos(), c.expected);
    }
}

TEST_F(WindowPosition, NonIntegerEdgeRaisesAndLeavesTheWindow)
{
    const std::pair<const char*, const char*> cases[]
        = { { "12px", "5" }, { "5", "abc" }, { "", "5" }, { "1.5", "5" }, { "$10", "5" } };
    for (const auto& [top, left] : cases) {
        SCOPED_TRACE(std::string(top) + "," + left);
        m_form.move(30, 40);
        WriteSettingsLines(SettingsFilePath(),
            { "[" + DefaultSettingsSection() + "]", QStringLiteral("Form1.top=") + top,
                QStringLiteral("Form1.left=") + left });
        EXPECT_THROW(PlaceWindow(&m_form, false, m_screen), ESettingsError);
        EXPECT_EQ(m_form.pos(), QPoint(30, 40));
    }
}

TEST_F(WindowPosition, StoreWritesBothEdgesOnceInTheDefaultSection)
{
    m_form.move(120, 80);
    PlaceWindow(&m_form, true, m_screen);
    const QString path = SettingsFilePath();
    const QString section = DefaultSettingsSection();
    EXPECT_EQ(ReadSetting(section, "Form1.top", "?"), "80");
    EXPECT_EQ(ReadSetting(section, "Form1.left", "?"), "120");

    const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-2);
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(old, QFileDevice::FileModificationTime));
    }
    PlaceWindow(&m_form, true, m_screen);
    EXPECT_EQ(QFileInfo(path).lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch());

    QWidget restored;
    restored.setObjectName("Form1");
    PlaceWindow(&restored, false, m_screen);
    EXPECT_EQ(restored.pos(), QPoint(120, 80));
}

TEST_F(WindowPosition, ChildWidgetsAreLeftAlone)
{
    StoreEdges("300", "300");
    auto* child = new QLabel(&m_form);
    child->setObjectName("Form1");
    child->move(5, 6);
    PlaceWindow(child, false, m_screen);
    EXPECT_EQ(child->pos(), QPoint(5, 6));

    const QString path = SettingsFilePath();
    QFile::remove(path);
    PlaceWindow(child, true, m_screen);
    EXPECT_FALSE(QFile::exists(path));
}

} // namespace
