#include "MailClientLaunch.h"
#include "ScopedEnv.h"
#include "TestProfile.h"

#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

TEST(MailClientCommand, CutToTheProgramPath)
{
    const struct {
        const char *command;
        const char *path;
    } cases[] = {
        {R"("C:\Program Files\Mail\mail.exe" /mailurl:%1)", R"(C:\Program Files\Mail\mail.exe)"},
        {R"("C:\Programme\Outlook Express\msimn.exe" -mailurl:%1)", R"(C:\Programme\Outlook Express\msimn.exe)"},
        {R"("C:\Program Files\Mail\mail.exe")", R"(C:\Program Files\Mail\mail.exe)"},
        {R"(C:\PROGRA~1\MOZILL~1\THUNDE~1.EXE -compose "%1")", R"(C:\PROGRA~1\MOZILL~1\THUNDE~1.EXE)"},
        {R"(C:\Program Files\Mail\mail.exe -compose %1)", R"(C:\Program Files\Mail\mail.exe)"},
        {R"(C:\Program Files\Mail\mail.exe %1)", R"(C:\Program Files\Mail\mail.exe)"},
        {R"(C:\Program Files\Mail\mail.exe)", R"(C:\Program Files\Mail\mail.exe)"},
        {R"(C:\Programs\mail.exe /mailto %1)", R"(C:\Programs\mail.exe)"},
        {R"(C:\Pro/gramme\mail.exe /x)", R"(C:\Pro)"},
        {R"("C:\unterminated\mail.exe)", R"(C:\unterminated\mail.exe)"},
        {"mail.exe   ", "mail.exe"},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CutMailClientCommand(QString::fromUtf8(c.command)), QString::fromUtf8(c.path)) << c.command;
}

TEST(MailClientCommand, DesktopExecArguments)
{
    const struct {
        const char *exec;
        QStringList args;
    } cases[] = {
        {"thunderbird %u", {"thunderbird"}},
        {"thunderbird -compose %u", {"thunderbird", "-compose"}},
        {R"("/opt/My Mail/mail" %U)", {"/opt/My Mail/mail"}},
        {R"(mail "say \"hi\" \\ \$x" %F)", {"mail", R"(say "hi" \ $x)"}},
        {"mail --url=%u 100%%", {"mail", "--url=", "100%"}},
        {"  spaced    out  ", {"spaced", "out"}},
        {"", {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(DesktopExecArguments(QString::fromUtf8(c.exec)), c.args) << c.exec;
}

// A private desktop: its own mimeapps.list and applications folder, and a mail program that writes its
// arguments into a marker file when started.
struct MailClientTest : ::testing::Test {
    QTemporaryDir dir;
    ScopedEnv env;
    RecordingMessageBox box;
    TMyTools tools;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QDir(dir.path()).mkpath(QStringLiteral("config"));
        QDir(dir.path()).mkpath(QStringLiteral("data/applications"));
        QDir(dir.path()).mkpath(QStringLiteral("bin"));
        env.set("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
        env.set("XDG_CONFIG_DIRS", dir.filePath(QStringLiteral("noconfig")).toLocal8Bit());
        env.set("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toLocal8Bit());
        env.set("XDG_DATA_DIRS", dir.filePath(QStringLiteral("nodata")).toLocal8Bit());
        env.unset("XDG_CURRENT_DESKTOP");
        env.unset("DESKTOP_SESSION");
        env.unset("KDE_FULL_SESSION");
        env.unset("GNOME_DESKTOP_SESSION_ID");
    }
    // A program that records its arguments in <marker>.
    QString program(const QString &relPath, const QString &marker)
    {
        const QString path = dir.filePath(relPath);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\nprintf '%s|' \"$@\" > \"" + dir.filePath(marker).toLocal8Bit() + ".tmp\"\nmv \"" +
                dir.filePath(marker).toLocal8Bit() + ".tmp\" \"" + dir.filePath(marker).toLocal8Bit() + "\"\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
    // Waits (bounded) for the started program's marker; its arguments, or "<not started>".
    QString started(const QString &marker)
    {
        QFile f(dir.filePath(marker));
        QElapsedTimer clock;
        clock.start();
        while (!f.exists() && clock.elapsed() < 15000)
            QThread::msleep(20);
        if (!f.open(QIODevice::ReadOnly))
            return QStringLiteral("<not started>");
        return QString::fromLocal8Bit(f.readAll());
    }
    void registerMailto(const QString &desktopId, const QString &desktopRelPath, const QByteArray &exec)
    {
        QFile list(dir.filePath(QStringLiteral("config/mimeapps.list")));
        ASSERT_TRUE(list.open(QIODevice::WriteOnly));
        list.write("[Default Applications]\nx-scheme-handler/mailto=" + desktopId.toUtf8() + "\n");
        const QString desktop = dir.filePath(QStringLiteral("data/applications/") + desktopRelPath);
        QDir().mkpath(QFileInfo(desktop).absolutePath());
        QFile f(desktop);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Desktop Entry]\nType=Application\nName=Testpost\nExec=" + exec +
                "\n\n[Desktop Action Compose]\nExec=/bin/false\n");
    }
};

TEST_F(MailClientTest, NoRegistrationAndNoSettingShowsTheErrorBox)
{
    QString path = QStringLiteral("stale");
    EXPECT_FALSE(GetDefaultMailClient(path));
    EXPECT_TRUE(path.isEmpty());
    EXPECT_FALSE(LaunchEMailClient(tools, QString()));
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown[0].text, QStringLiteral("Konnte E-Mail-Programm nicht öffnen!"));
    EXPECT_EQ(box.shown[0].caption, QStringLiteral("Fehler"));
    EXPECT_EQ(box.shown[0].kind, MsgError);
    EXPECT_EQ(box.shown[0].buttons, int(BtnOK));
}

TEST_F(MailClientTest, DesktopHandlerWithSwitchesIsStartedAsItsCommandLine)
{
    const QString mail = program(QStringLiteral("bin/testpost"), QStringLiteral("marker"));
    registerMailto(QStringLiteral("quarvel-testpost.desktop"), QStringLiteral("quarvel-testpost.desktop"),
                   mail.toLocal8Bit() + " -compose %u");
    QString path;
    ASSERT_TRUE(GetDefaultMailClient(path));
    EXPECT_EQ(path, mail + QStringLiteral(" -compose"));
    EXPECT_TRUE(LaunchEMailClient(tools, QString()));
    EXPECT_EQ(started(QStringLiteral("marker")), QStringLiteral("-compose|"));
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST_F(MailClientTest, DesktopHandlerFoundInAVendorFolderAndOnThePath)
{
    const QString mail = program(QStringLiteral("bin/testpost"), QStringLiteral("marker"));
    env.set("PATH", dir.filePath(QStringLiteral("bin")).toLocal8Bit() + ":" + qgetenv("PATH"));
    registerMailto(QStringLiteral("quarvel-testpost.desktop"), QStringLiteral("quarvel/testpost.desktop"),
                   "testpost %u");
    QString path;
    ASSERT_TRUE(GetDefaultMailClient(path));
    EXPECT_EQ(path, mail);
}

TEST_F(MailClientTest, ConfiguredPathWithBlanksStartsAtTheFirstAttempt)
{
    // The second attempt would split the path at its blank and fail, so starting proves the first.
    const QString mail = program(QStringLiteral("My Mail/post program"), QStringLiteral("marker"));
    EXPECT_TRUE(LaunchEMailClient(tools, mail));
    EXPECT_EQ(started(QStringLiteral("marker")), QStringLiteral("|"));
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST_F(MailClientTest, RunProcessAttempts)
{
    const QString mail = program(QStringLiteral("bin/testpost"), QStringLiteral("m1"));
    EXPECT_TRUE(tools.RunProcess(mail, QStringLiteral("-a \"b c\"")));
    EXPECT_EQ(started(QStringLiteral("m1")), QStringLiteral("-a|b c|"));

    // Path and switches in one text: only the second attempt, as a command line, can start it.
    const QString other = program(QStringLiteral("bin/other"), QStringLiteral("m2"));
    EXPECT_TRUE(tools.RunProcess(other + QStringLiteral(" -P work"), QString()));
    EXPECT_EQ(started(QStringLiteral("m2")), QStringLiteral("-P|work|"));

    EXPECT_FALSE(tools.RunProcess(dir.filePath(QStringLiteral("missing")), QString()));
    EXPECT_FALSE(tools.RunProcess(QString(), QString()));
    EXPECT_FALSE(LaunchEMailClient(tools, dir.filePath(QStringLiteral("missing"))));
    EXPECT_EQ(box.shown.size(), 1);
}

class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl &url) { opened << url; }
};

TEST(OpenWithShell, HandsLinksAndFilesToTheDesktop)
{
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("quarveltest"), &recorder, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("manual.htm"));
    QFile(file).open(QIODevice::WriteOnly);

    EXPECT_FALSE(OpenWithShell(QString()));
    EXPECT_TRUE(recorder.opened.isEmpty());
    EXPECT_TRUE(OpenWithShell(QStringLiteral("quarveltest://host/pfad?x=1")));
    EXPECT_TRUE(OpenWithShell(file));
    QDesktopServices::unsetUrlHandler(QStringLiteral("quarveltest"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_EQ(recorder.opened.size(), 2);
    EXPECT_EQ(recorder.opened[0], QUrl(QStringLiteral("quarveltest://host/pfad?x=1")));
    EXPECT_EQ(recorder.opened[1], QUrl::fromLocalFile(file));
}

} // namespace

#include "test_mailclient.moc"
