// Tests of the special folders, the default title and folder creation.
#include "platform/platform_folders.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "platform/platform_version.h"

using namespace parvula::platform;

namespace {

// Sets an environment variable for one scope.
class TEnvOverride {
public:
    TEnvOverride(const char* name, const QByteArray& value)
        : m_name(name)
        , m_had(qEnvironmentVariableIsSet(name))
        , m_old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~TEnvOverride()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

TEST(PlatformFolders, ConfigAndCommonDataFollowTheXdgFolders)
{
    QTemporaryDir dir;
    const TEnvOverride config("XDG_CONFIG_HOME", (dir.path() + "/conf/").toUtf8());
    const TEnvOverride data(
        "XDG_DATA_DIRS", (dir.path() + "/first:" + dir.path() + "/last/").toUtf8());
    EXPECT_EQ(SpecialFolderLocation(TSpecialFolder::RoamingAppData), dir.path() + "/conf");
    EXPECT_EQ(SpecialFolderLocation(TSpecialFolder::CommonAppData), dir.path() + "/last");
    const QString docs = SpecialFolderLocation(TSpecialFolder::Documents);
    EXPECT_FALSE(docs.endsWith(u'/'));
}

TEST(PlatformFolders, DefaultTitleIsTheExecutableNameUpToItsFirstDot)
{
    // The rule on this binary's own name: up to the first ".", all but the first letter lower.
    QString name = QFileInfo(OwnExecutablePath()).fileName();
    name = name.left(name.indexOf(u'.') < 0 ? name.size() : name.indexOf(u'.'));
    const QString title = DefaultApplicationTitle();
    EXPECT_FALSE(title.isEmpty());
    EXPECT_FALSE(title.contains(u'.'));
    EXPECT_EQ(title.left(1), name.left(1));
    EXPECT_EQ(title.mid(1), name.mid(1).toLower());

    const QString saved = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QStringLiteral("Parvula"));
    EXPECT_EQ(ApplicationTitle(), "Parvula");
    QCoreApplication::setApplicationName(saved);
}

TEST(PlatformFolders, CreatingAndEnteringFoldersReportsFailure)
{
    QTemporaryDir dir;
    const QString deep = dir.path() + "/a/b/c";
    EXPECT_TRUE(CreateFolderWithParents(deep));
    EXPECT_TRUE(QFileInfo(deep).isDir());
    EXPECT_TRUE(CreateFolderWithParents(deep)); // already there

    QFile plain(dir.path() + "/plain");
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    EXPECT_FALSE(CreateFolderWithParents(dir.path() + "/plain/sub"));
    EXPECT_FALSE(CreateFolderWithParents(QString()));

    const QString before = QDir::currentPath();
    EXPECT_FALSE(SetCurrentFolder(dir.path() + "/missing"));
    EXPECT_EQ(QDir::currentPath(), before);
    EXPECT_TRUE(SetCurrentFolder(deep));
    EXPECT_EQ(QDir::currentPath(), QDir(deep).canonicalPath());
    QDir::setCurrent(before);
}

} // namespace
