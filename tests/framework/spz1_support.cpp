// Test helpers of the framework tests: framework folders inside a temporary folder, file bytes.
#include "framework/spz1_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/platform_version.h"

namespace parvula::test {

QString RealExeName() { return QFileInfo(platform::OwnExecutablePath()).fileName(); }

TFrameworkSandbox::TFrameworkSandbox()
    : m_savedTitle(framework::ProductTitle)
{
    EXPECT_TRUE(m_dir.isValid());
    QDir(m_dir.path()).mkpath(QStringLiteral("bin"));
    QDir(m_dir.path()).mkpath(QStringLiteral("docs"));
    QDir(m_dir.path()).mkpath(QStringLiteral("config"));
}

TFrameworkSandbox::~TFrameworkSandbox() { framework::ProductTitle = m_savedTitle; }

framework::TFolderSources TFrameworkSandbox::Sources() const
{
    framework::TFolderSources s;
    s.exeFilePath = Bin() + RealExeName();
    s.documents = Root() + QStringLiteral("docs");
    s.roaming = Root() + QStringLiteral("config");
    s.title = QStringLiteral("Parvula");
    return s;
}

void TFrameworkSandbox::Resolve(const framework::TFolderSources& sources)
{
    framework::ProductTitle.clear();
    framework::PortableMode = -1;
    framework::ResolveDataFolders(false, sources, false);
}

QByteArray ReadBytes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

} // namespace parvula::test
