#include "ForeignFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace platform;

TEST(ForeignFile, ReadsRegularFilesUpToTheLimitAndNothingElse)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("f"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    const QByteArray content = QByteArray("0123456789").repeated(20000);
    f.write(content);
    f.close();
    ASSERT_TRUE(QFile::link(file, dir.filePath(QStringLiteral("link"))));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("none")), dir.filePath(QStringLiteral("dangling"))));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe"))).constData(), 0600), 0);
    QFile empty(dir.filePath(QStringLiteral("empty")));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();

    struct Case {
        QString path;
        qint64 limit;
        bool ok;
        QByteArray expected;
    } cases[] = {
        {file, 1 << 20, true, content},
        {file, 15, true, content.left(15)},
        {file, 0, true, QByteArray()},
        {dir.filePath(QStringLiteral("link")), 1 << 20, true, content},
        {dir.filePath(QStringLiteral("empty")), 100, true, QByteArray()},
        {dir.filePath(QStringLiteral("none")), 100, false, QByteArray()},
        {dir.filePath(QStringLiteral("dangling")), 100, false, QByteArray()},
        {dir.filePath(QStringLiteral("pipe")), 100, false, QByteArray()}, // would block a plain open
        {dir.path(), 100, false, QByteArray()},
        {QStringLiteral("/dev/zero"), 100, false, QByteArray()},
    };
    for (const Case &c : cases) {
        QByteArray out("stale");
        EXPECT_EQ(readForeignFile(c.path, c.limit, &out), c.ok) << c.path.toStdString();
        EXPECT_EQ(out, c.expected) << c.path.toStdString();
    }
}
