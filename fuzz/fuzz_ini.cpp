// libFuzzer target: the settings store on an arbitrary existing file. Reading never fails on its
// content; a key written is read back, and every section the file had is still there.
#include <cstddef>
#include <cstdint>
#include <unistd.h>

#include <QDir>
#include <QFile>

#include "framework/spz1_ini.h"

using namespace parvula::framework;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const QString path = [] {
        const QString folder
            = QDir::tempPath() + QStringLiteral("/parvula-fuzz-ini-") + QString::number(::getpid());
        QDir().mkpath(folder);
        return folder + QStringLiteral("/fuzz.ini");
    }();
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            __builtin_trap();
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    QStringList before;
    ListSections(ReadSettingsLines(path), before, true);
    (void)ReadSetting(QStringLiteral("parvula"), QStringLiteral("Width"), QString(), path);
    WriteSetting(
        QStringLiteral("FuzzSection"), QStringLiteral("FuzzKey"), QStringLiteral("v1"), path);
    if (ReadSetting(QStringLiteral("FuzzSection"), QStringLiteral("FuzzKey"), QString(), path)
        != QStringLiteral("v1"))
        __builtin_trap();
    QStringList after;
    ListSections(ReadSettingsLines(path), after, true);
    for (const QString& section : before)
        if (!after.contains(section))
            __builtin_trap();
    return 0;
}
