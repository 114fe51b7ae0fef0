#include "Paths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using namespace platform;

// The source tree's resources serve a program that runs where it was built; an installed copy finds its
// own files or none, never those of a source tree that happens to lie on the same machine.
TEST(Paths, TheSourceTreeServesOnlyAProgramInItsBuildTree)
{
    const QString manual = QStringLiteral("manual.htm");
    const QString source = QFileInfo(QStringLiteral(QUARVEL_TEST_SOURCE_DIR "/resources/manual.htm")).absoluteFilePath();
    ASSERT_TRUE(QFileInfo::exists(source));
    QTemporaryDir builtHere(QStringLiteral(QUARVEL_TEST_BINARY_DIR "/paths-test-XXXXXX"));
    ASSERT_TRUE(builtHere.isValid());
    EXPECT_EQ(findDataFile(manual, builtHere.path()), source);

    QTemporaryDir installed;
    ASSERT_TRUE(QDir().mkpath(installed.filePath(QStringLiteral("bin"))));
    EXPECT_EQ(findDataFile(manual, installed.filePath(QStringLiteral("bin"))), QString());
    // Its own share folder, as the install lays it out.
    ASSERT_TRUE(QDir().mkpath(installed.filePath(QStringLiteral("share/quarvel"))));
    QFile own(installed.filePath(QStringLiteral("share/quarvel/manual.htm")));
    ASSERT_TRUE(own.open(QIODevice::WriteOnly));
    own.close();
    EXPECT_EQ(findDataFile(manual, installed.filePath(QStringLiteral("bin"))),
              QFileInfo(own.fileName()).absoluteFilePath());
}
