// Test helpers of the framework tests: framework folders inside a temporary folder, file bytes.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include "framework/spz1_paths.h"

namespace parvula::test {

// The test executable's own file name: the store's default file and section follow it.
QString RealExeName();

// A temporary tree with bin/ (the executable's folder), docs/ and config/; Resolve points the
// framework at it without touching the real folders or the current folder.
class TFrameworkSandbox {
public:
    TFrameworkSandbox();
    ~TFrameworkSandbox();

    QString Root() const { return m_dir.path() + u'/'; }
    QString Bin() const { return Root() + QStringLiteral("bin/"); }
    framework::TFolderSources Sources() const;
    // Resolves the folders afresh: the portable switch is read again, ProductTitle cleared.
    void Resolve(const framework::TFolderSources& sources);
    void Resolve() { Resolve(Sources()); }

private:
    QTemporaryDir m_dir;
    QString m_savedTitle;
};

QByteArray ReadBytes(const QString& path);
void WriteBytes(const QString& path, const QByteArray& bytes);

} // namespace parvula::test
