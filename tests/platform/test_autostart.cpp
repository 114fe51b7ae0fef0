#include "AutoStart.h"
#include "DesktopEntry.h"
#include "Paths.h"
#include "ScopedEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;

namespace {

void writeFile(const QString &path, const QByteArray &bytes, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
    f.close();
    if (executable)
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(DesktopEntry, ExecValueGivesTheArgumentBack)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("e.desktop"));
    const char *const programs[] = {
        "/usr/bin/quarvel",  "/opt/My Mail/quarvel", "/a/\"q\"/b",  "/a/$HOME/`id`", "/a\\b\\\\c",
        "/100%/q%u",         "/home/jürgen/quarvel", "/a;b&c|d",    "/a\tb",         "/new\nline",
        "/tilde~/(x)*?#<>'", " /leading/blank ",
    };
    for (const char *p : programs) {
        const QString program = QString::fromUtf8(p);
        writeFile(file, "[Desktop Entry]\nExec=" + DesktopExecValue(program).toUtf8() + "\n");
        EXPECT_EQ(DesktopExecArguments(ReadDesktopExec(file)), QStringList{program}) << p;
    }
    // A plain path stays as it is.
    EXPECT_EQ(DesktopExecValue(QStringLiteral("/usr/bin/quarvel")), QStringLiteral("/usr/bin/quarvel"));
}

TEST(DesktopEntry, ReadsOnlyItsOwnGroupAndNoSpecialFiles)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("e.desktop"));
    writeFile(file, "# comment\n[Desktop Action New]\nExec=/bin/false\n"
                    "[Desktop Entry]\nName = Quarvel \nName[de]=Quarvel DE\nHidden=true\nName=second\n"
                    "Comment=a\\sb\\\\c\nbroken line\n=no key\n");
    const QHash<QString, QString> e = ReadDesktopEntry(file);
    EXPECT_EQ(e.value(QStringLiteral("Name")), QStringLiteral("Quarvel"));
    EXPECT_EQ(e.value(QStringLiteral("Name[de]")), QStringLiteral("Quarvel DE"));
    EXPECT_EQ(e.value(QStringLiteral("Hidden")), QStringLiteral("true"));
    EXPECT_EQ(e.value(QStringLiteral("Comment")), QStringLiteral("a b\\c"));
    EXPECT_FALSE(e.contains(QStringLiteral("Exec")));
    EXPECT_EQ(e.size(), 4);

    EXPECT_TRUE(ReadDesktopEntry(dir.filePath(QStringLiteral("missing.desktop"))).isEmpty());
    EXPECT_TRUE(ReadDesktopEntry(dir.path()).isEmpty());
    // A named pipe would block a reader for ever.
    const QString fifo = dir.filePath(QStringLiteral("pipe.desktop"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_TRUE(ReadDesktopEntry(fifo).isEmpty());
}

// A private desktop: user and system configuration folders, this program and another copy of it.
struct AutoStartTest : ::testing::Test {
    QTemporaryDir dir;
    ScopedEnv env;
    QString program, otherCopy;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        env.unset(kProfileEnv);
        env.set("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
        env.set("XDG_CONFIG_DIRS", ("relative:" + dir.filePath(QStringLiteral("sys1")) + ":" +
                                    dir.filePath(QStringLiteral("sys2")))
                                       .toLocal8Bit());
        program = dir.filePath(QStringLiteral("bin/quarvel"));
        otherCopy = dir.filePath(QStringLiteral("old/quarvel"));
        writeFile(program, "#!/bin/sh\n", true);
        writeFile(otherCopy, "#!/bin/sh\n", true);
    }
    QString userEntry() const { return dir.filePath(QStringLiteral("config/autostart/quarvel.desktop")); }
    QString systemEntry(int n) const
    {
        return dir.filePath(QStringLiteral("sys%1/autostart/quarvel.desktop").arg(n));
    }
    void writeEntry(const QString &file, const QByteArray &exec, const QByteArray &more = QByteArray())
    {
        writeFile(file, "[Desktop Entry]\nType=Application\nName=Quarvel\nExec=" + exec + "\n" + more);
    }
};

TEST_F(AutoStartTest, FoldersFollowTheEnvironmentAndTheProfile)
{
    EXPECT_EQ(UserAutoStartFolder(), dir.filePath(QStringLiteral("config/autostart")));
    EXPECT_EQ(SystemAutoStartFolders(), (QStringList{dir.filePath(QStringLiteral("sys1/autostart")),
                                                     dir.filePath(QStringLiteral("sys2/autostart"))}));
    env.unset("XDG_CONFIG_HOME");
    env.unset("XDG_CONFIG_DIRS");
    EXPECT_EQ(UserAutoStartFolder(), QDir::homePath() + QStringLiteral("/.config/autostart"));
    EXPECT_EQ(SystemAutoStartFolders(), QStringList{QStringLiteral("/etc/xdg/autostart")});
    env.set(kProfileEnv, dir.filePath(QStringLiteral("profile")).toLocal8Bit());
    EXPECT_EQ(UserAutoStartFolder(), dir.filePath(QStringLiteral("profile/autostart")));
    EXPECT_EQ(SystemAutoStartFolders(), QStringList{dir.filePath(QStringLiteral("profile/autostart-system"))});
}

TEST_F(AutoStartTest, TickReopenUntick)
{
    EXPECT_FALSE(IsAutoStartEnabled(program));
    ASSERT_EQ(SetAutoStart(true, program), 0);
    EXPECT_EQ(DesktopExecArguments(ReadDesktopExec(userEntry())), QStringList{program});
    EXPECT_TRUE(IsAutoStartEnabled(program));
    EXPECT_FALSE(IsAutoStartEnabled(otherCopy));
    EXPECT_EQ(QFileInfo(userEntry()).permissions() & (QFile::ReadOther | QFile::WriteOther), QFile::ReadOther);
    // Nothing but the entry is left in the folder.
    EXPECT_EQ(QDir(QFileInfo(userEntry()).absolutePath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("quarvel.desktop")});

    ASSERT_EQ(SetAutoStart(false, program), 0);
    EXPECT_FALSE(QFileInfo::exists(userEntry()));
    EXPECT_FALSE(IsAutoStartEnabled(program));
    // Removing what is not there is reported.
    EXPECT_EQ(SetAutoStart(false, program), kAutoStartAccessDenied);
}

TEST_F(AutoStartTest, WhichEntriesStartThisProgram)
{
    QFile::link(program, dir.filePath(QStringLiteral("link")));
    const QString upper = dir.filePath(QStringLiteral("bin/QUARVEL"));
    writeFile(upper, "#!/bin/sh\n", true);
    env.set("PATH", dir.filePath(QStringLiteral("bin")).toLocal8Bit() + ":/usr/bin:/bin");
    const struct {
        const char *name;
        QByteArray exec;
        QByteArray more;
        bool starts;
    } cases[] = {
        {"the program", program.toUtf8(), "", true},
        {"through a link", dir.filePath(QStringLiteral("link")).toUtf8(), "", true},
        {"with dot-dot", dir.filePath(QStringLiteral("bin/../bin/quarvel")).toUtf8(), "", true},
        {"quoted", "\"" + program.toUtf8() + "\"", "", true},
        {"a bare name found in PATH", "quarvel", "", true},
        {"another letter case is another file", upper.toUtf8(), "", false},
        {"another copy", otherCopy.toUtf8(), "", false},
        {"with arguments", program.toUtf8() + " --hidden", "", false},
        {"switched off", program.toUtf8(), "Hidden=true\n", false},
        {"switched off in GNOME", program.toUtf8(), "X-GNOME-Autostart-enabled=false\n", false},
        {"empty Exec", "", "", false},
    };
    for (const auto &c : cases) {
        writeEntry(userEntry(), c.exec, c.more);
        EXPECT_EQ(IsAutoStartEnabled(program), c.starts) << c.name;
    }
    writeFile(userEntry(), QByteArray("\x00\xff\x7f[Desktop", 11));
    EXPECT_FALSE(IsAutoStartEnabled(program));
    QFile::remove(userEntry());
    ASSERT_EQ(::mkfifo(QFile::encodeName(userEntry()).constData(), 0600), 0);
    EXPECT_FALSE(IsAutoStartEnabled(program)); // and does not hang
}

TEST_F(AutoStartTest, AnotherCopysEntryIsReplacedOnTick)
{
    writeEntry(userEntry(), otherCopy.toUtf8());
    EXPECT_FALSE(IsAutoStartEnabled(program));
    EXPECT_EQ(SetAutoStart(false, program), kAutoStartAccessDenied);
    EXPECT_TRUE(QFileInfo::exists(userEntry())); // not ours to remove
    ASSERT_EQ(SetAutoStart(true, program), 0);
    EXPECT_TRUE(IsAutoStartEnabled(program));
    EXPECT_EQ(DesktopExecArguments(ReadDesktopExec(userEntry())), QStringList{program});
    EXPECT_TRUE(QFileInfo::exists(otherCopy));
}

TEST_F(AutoStartTest, SystemWideEntriesAndTheUsersOverride)
{
    writeEntry(systemEntry(2), program.toUtf8());
    EXPECT_TRUE(IsAutoStartEnabled(program));
    // A more important system folder wins over a less important one.
    writeEntry(systemEntry(1), otherCopy.toUtf8());
    EXPECT_FALSE(IsAutoStartEnabled(program));
    QFile::remove(systemEntry(1));
    // The user's entry of the same name overrides the system's.
    writeEntry(userEntry(), otherCopy.toUtf8());
    EXPECT_FALSE(IsAutoStartEnabled(program));
    QFile::remove(userEntry());

    // Switching off leaves the system's file alone and hides it for this user.
    ASSERT_EQ(SetAutoStart(false, program), 0);
    EXPECT_FALSE(IsAutoStartEnabled(program));
    EXPECT_TRUE(QFileInfo::exists(systemEntry(2)));
    EXPECT_EQ(ReadDesktopEntry(userEntry()).value(QStringLiteral("Hidden")), QStringLiteral("true"));
    ASSERT_EQ(SetAutoStart(true, program), 0);
    EXPECT_TRUE(IsAutoStartEnabled(program));
    ASSERT_EQ(SetAutoStart(false, program), 0);
    EXPECT_FALSE(IsAutoStartEnabled(program));
}

TEST_F(AutoStartTest, UnwritableFolderAndFileGiveTheirCodes)
{
    // The autostart folder's name is taken by a file: the folder cannot be made.
    writeFile(dir.filePath(QStringLiteral("config/autostart")), "not a folder");
    EXPECT_EQ(SetAutoStart(true, program), kAutoStartAccessDenied);
    EXPECT_FALSE(IsAutoStartEnabled(program));
    EXPECT_EQ(SetAutoStart(false, program), kAutoStartAccessDenied);
    QFile::remove(dir.filePath(QStringLiteral("config/autostart")));

    // The entry's name is taken by a folder: writing the file itself fails with the system's code.
    QDir().mkpath(userEntry());
    EXPECT_EQ(SetAutoStart(true, program), EISDIR);
    EXPECT_TRUE(QFileInfo(userEntry()).isDir());
    EXPECT_EQ(QDir(QFileInfo(userEntry()).absolutePath()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(AutoStartTest, ADeniedDeletionGivesTheSystemsCode)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "the superuser may delete in any folder";
    ASSERT_EQ(SetAutoStart(true, program), 0);
    const QString folder = QFileInfo(userEntry()).absolutePath();
    ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    EXPECT_EQ(SetAutoStart(false, program), EACCES);
    EXPECT_EQ(SetAutoStart(true, program), kAutoStartAccessDenied);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_TRUE(IsAutoStartEnabled(program));
}

TEST_F(AutoStartTest, TheRunningProgramByDefault)
{
    ASSERT_EQ(SetAutoStart(true), 0);
    EXPECT_EQ(DesktopExecArguments(ReadDesktopExec(userEntry())), QStringList{programFile()});
    EXPECT_TRUE(IsAutoStartEnabled());
    EXPECT_FALSE(IsAutoStartEnabled(program));
}

} // namespace
