// The window's command line: paths made absolute against the start's folder, "--", --help,
// --version and a usage error.
#include <gtest/gtest.h>

#include <QDir>
#include <QStringList>

#include "app/main_args.h"

using namespace parvula::app;

TEST(WindowArgs, RelativePathsAreReadAgainstTheFolderOfTheStart)
{
    const TWindowArgs args
        = ParseWindowArgs({ QStringLiteral("b.jpg"), QStringLiteral("/abs/a.png"),
                              QStringLiteral("../up/c"), QStringLiteral("./d/") },
            QStringLiteral("/home/u/pics"));
    EXPECT_EQ(args.paths,
        (QStringList { QStringLiteral("/home/u/pics/b.jpg"), QStringLiteral("/abs/a.png"),
            QStringLiteral("/home/u/up/c"), QStringLiteral("/home/u/pics/d") }));
    EXPECT_FALSE(args.help);
    EXPECT_FALSE(args.version);
    EXPECT_TRUE(args.error.isEmpty());
}

TEST(WindowArgs, AfterTheDoubleDashEverythingIsAPath)
{
    const TWindowArgs args = ParseWindowArgs(
        { QStringLiteral("-x.jpg"), QStringLiteral("--"), QStringLiteral("--help") },
        QStringLiteral("/p"));
    EXPECT_EQ(
        args.paths, (QStringList { QStringLiteral("/p/-x.jpg"), QStringLiteral("/p/--help") }));
    EXPECT_FALSE(args.help);
    EXPECT_FALSE(AsksHelpOrVersion({ QStringLiteral("--"), QStringLiteral("--version") }));
}

TEST(WindowArgs, HelpVersionAndUnknownOptions)
{
    EXPECT_TRUE(ParseWindowArgs({ QStringLiteral("--help") }, QString()).help);
    EXPECT_TRUE(ParseWindowArgs({ QStringLiteral("--version") }, QString()).version);
    EXPECT_TRUE(AsksHelpOrVersion({ QStringLiteral("a.jpg"), QStringLiteral("--version") }));
    EXPECT_FALSE(AsksHelpOrVersion({ QStringLiteral("a.jpg") }));
    const TWindowArgs wrong = ParseWindowArgs({ QStringLiteral("--width") }, QString());
    EXPECT_EQ(wrong.error, QStringLiteral("unknown option --width"));
    EXPECT_TRUE(ParseWindowArgs({ QString() }, QStringLiteral("/p")).paths.isEmpty());
}
