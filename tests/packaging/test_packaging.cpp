// Quarvel as it is installed: `cmake --install` into a throwaway folder, and the Debian package that
// CPack makes from the same rules, unpacked with dpkg-deb. Both must hold every file the program looks
// for, start from there, and carry a desktop entry and metainfo that the desktop's own tools accept.
#include "DesktopEntry.h"
#include "Paths.h"
#include "QtPrinters.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kBuild = QStringLiteral(QUARVEL_TEST_BINARY_DIR);
const QString kSource = QStringLiteral(QUARVEL_TEST_SOURCE_DIR);
const QString kAppId = QStringLiteral("de.tessmar.Quarvel");

struct Outcome {
    int code = -1;
    QByteArray out, err;
};

// Runs a process to its end (5 minutes at most) with extra environment variables.
Outcome run(const QString &program, const QStringList &args, const QMap<QString, QString> &env = {})
{
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (auto it = env.begin(); it != env.end(); ++it)
        e.insert(it.key(), it.value());
    p.setProcessEnvironment(e);
    p.start(program, args);
    Outcome r;
    if (!p.waitForStarted(10000))
        return r;
    p.closeWriteChannel();
    if (!p.waitForFinished(300000)) {
        p.kill();
        p.waitForFinished(5000);
        return r;
    }
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

std::string shown(const Outcome &r)
{
    return (r.out + r.err).toStdString();
}

// The command-line tools that this build made: each is installed with a manual page.
QStringList builtPrograms()
{
    QStringList programs{QStringLiteral("quarvel")};
    for (const char *tool : {"quarvel-reg", "quarvel-rules", "quarvel-check"})
        if (QFileInfo::exists(kBuild + QStringLiteral("/tools/") + QLatin1String(tool)))
            programs << QLatin1String(tool);
    return programs;
}

// The data files the program looks up by name that the source tree has (EProv.ini arrives later).
QStringList dataFiles()
{
    QStringList files;
    for (const char *name : {"manual.htm", "EProv.ini"})
        if (QFileInfo::exists(kSource + QStringLiteral("/resources/") + QLatin1String(name)))
            files << QLatin1String(name);
    return files;
}

// Checks an installed tree below usr/: programs, data files where the program finds them, and the
// program starting from there.
void expectProgramTree(const QString &usr)
{
    for (const QString &program : builtPrograms()) {
        const QFileInfo bin(usr + QStringLiteral("/bin/") + program);
        EXPECT_TRUE(bin.isFile() && bin.isExecutable()) << bin.filePath().toStdString();
    }
    ASSERT_TRUE(dataFiles().contains(QStringLiteral("manual.htm")));
    for (const QString &name : dataFiles()) {
        // The program's own lookup, as it runs from the installed folder.
        const QString found = platform::findDataFile(name, usr + QStringLiteral("/bin"));
        EXPECT_TRUE(found.startsWith(usr + QLatin1Char('/'))) << name.toStdString() << " found at " << found.toStdString();
    }
    const Outcome version = run(usr + QStringLiteral("/bin/quarvel"), {QStringLiteral("--version")});
    EXPECT_EQ(version.code, 0) << shown(version);
    EXPECT_EQ(version.out, QByteArray("Quarvel " QUARVEL_TEST_VERSION "\n"));
}

// One installation per test program run into a throwaway folder.
class Installed : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir();
        const Outcome install = run(QStringLiteral("cmake"),
                                {QStringLiteral("--install"), kBuild, QStringLiteral("--prefix"), QStringLiteral("/usr")},
                                {{QStringLiteral("DESTDIR"), s_dir->filePath(QStringLiteral("root"))}});
        s_installed = install.code == 0;
        s_installLog = shown(install);
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(s_installed) << s_installLog; }
    static QString usr(const QString &rel = QString())
    {
        return s_dir->filePath(QStringLiteral("root/usr")) + (rel.isEmpty() ? QString() : QLatin1Char('/') + rel);
    }

    static inline QTemporaryDir *s_dir = nullptr;
    static inline bool s_installed = false;
    static inline std::string s_installLog;
};

TEST_F(Installed, HoldsEveryFileTheProgramLooksForAndStartsFromThere)
{
    expectProgramTree(usr());
}

TEST_F(Installed, DesktopEntryAndMetainfoPassTheirValidators)
{
    const QString desktop = usr(QStringLiteral("share/applications/") + kAppId + QStringLiteral(".desktop"));
    const QString metainfo = usr(QStringLiteral("share/metainfo/") + kAppId + QStringLiteral(".metainfo.xml"));
    const Outcome entry = run(QStringLiteral("desktop-file-validate"), {desktop});
    EXPECT_EQ(entry.code, 0) << shown(entry);
    EXPECT_TRUE((entry.out + entry.err).trimmed().isEmpty()) << shown(entry); // not even a hint
    const Outcome meta = run(QStringLiteral("appstreamcli"), {QStringLiteral("validate"), QStringLiteral("--no-net"), metainfo});
    EXPECT_EQ(meta.code, 0) << shown(meta);

    // The entry starts the installed program with the installed icon, and is no mailto handler.
    const QHash<QString, QString> e = platform::ReadDesktopEntry(desktop);
    EXPECT_TRUE(QFileInfo(usr(QStringLiteral("bin/")) + e.value(QStringLiteral("Exec"))).isExecutable());
    EXPECT_TRUE(QFileInfo::exists(usr(QStringLiteral("share/icons/hicolor/scalable/apps/")) + e.value(QStringLiteral("Icon")) +
                                  QStringLiteral(".svg")));
    EXPECT_FALSE(e.value(QStringLiteral("MimeType")).contains(QStringLiteral("mailto")));
    EXPECT_TRUE(e.value(QStringLiteral("Categories")).split(QLatin1Char(';')).contains(QStringLiteral("Email")));
    QFile metaFile(metainfo);
    ASSERT_TRUE(metaFile.open(QIODevice::ReadOnly));
    const QByteArray xml = metaFile.readAll();
    EXPECT_TRUE(xml.contains("<release version=\"" QUARVEL_TEST_VERSION "\"")) << xml.toStdString();
    EXPECT_TRUE(xml.contains("<launchable type=\"desktop-id\">" + kAppId.toUtf8() + ".desktop</launchable>"));
}

TEST_F(Installed, IconInTheHicolorThemeAtTheUsualSizes)
{
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString png = usr(QStringLiteral("share/icons/hicolor/%1x%1/apps/quarvel.png").arg(size));
        const QImage image(png);
        EXPECT_EQ(image.size(), QSize(size, size)) << png.toStdString();
        EXPECT_TRUE(image.hasAlphaChannel()) << png.toStdString();
    }
    const QImage svg(usr(QStringLiteral("share/icons/hicolor/scalable/apps/quarvel.svg")));
    EXPECT_FALSE(svg.isNull());
}

TEST_F(Installed, AManualPageForEachProgramThatFormatsWithoutWarnings)
{
    QStringList pages;
    for (QDirIterator it(usr(QStringLiteral("share/man/man1")), QDir::Files); it.hasNext();)
        pages << QFileInfo(it.next()).fileName();
    pages.sort();
    QStringList expected;
    for (const QString &program : builtPrograms())
        expected << program + QStringLiteral(".1.gz");
    expected.sort();
    EXPECT_EQ(pages, expected);
    // Every installed program has its page.
    for (QDirIterator it(usr(QStringLiteral("bin")), QDir::Files); it.hasNext();)
        EXPECT_TRUE(pages.contains(QFileInfo(it.next()).fileName() + QStringLiteral(".1.gz")));

    for (const QString &page : pages) {
        const QString gz = usr(QStringLiteral("share/man/man1/")) + page;
        const Outcome text = run(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("gzip -dc \"$1\" | groff -man -ww -z -K utf8"),
                                                   QStringLiteral("sh"), gz});
        EXPECT_EQ(text.code, 0) << page.toStdString() << ": " << shown(text);
        EXPECT_TRUE(text.err.isEmpty()) << page.toStdString() << ": " << shown(text);
    }
}

TEST(DebianPackage, MadeByCPackWithLibraryDependenciesAndStartsWhenUnpacked)
{
    QTemporaryDir dir;
    // gzip rather than the package's xz keeps this quick; the contents are the same.
    const Outcome pack = run(QStringLiteral("cpack"),
                         {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
                          kBuild + QStringLiteral("/CPackConfig.cmake"), QStringLiteral("-B"), dir.path(),
                          QStringLiteral("-D"), QStringLiteral("CPACK_DEBIAN_COMPRESSION_TYPE=gzip")});
    ASSERT_EQ(pack.code, 0) << shown(pack);
    const QStringList debs = QDir(dir.path()).entryList({QStringLiteral("quarvel_*.deb")}, QDir::Files);
    ASSERT_EQ(debs.size(), 1) << shown(pack);
    EXPECT_TRUE(debs.first().startsWith(QStringLiteral("quarvel_" QUARVEL_TEST_VERSION "_")));
    const QString deb = dir.filePath(debs.first());

    const Outcome depends = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb, QStringLiteral("Depends")});
    ASSERT_EQ(depends.code, 0) << shown(depends);
    // From the shared-library scan, and the one program started by name.
    for (const char *package : {"libqt6widgets6", "libqt6network6", "libgmime-3.0-0", "libsqlite3-0", "libssl3", "libc6",
                                "xdg-utils"})
        EXPECT_TRUE(depends.out.contains(package)) << package << " not in " << depends.out.toStdString();

    const Outcome description = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb, QStringLiteral("Description")});
    EXPECT_FALSE(description.out.contains(";")) << description.out.toStdString(); // no CMake list left in it
    EXPECT_EQ(description.out.count('\n'), 4) << description.out.toStdString();

    const Outcome unpack = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb, dir.filePath(QStringLiteral("root"))});
    ASSERT_EQ(unpack.code, 0) << shown(unpack);
    expectProgramTree(dir.filePath(QStringLiteral("root/usr")));
    EXPECT_TRUE(QFileInfo::exists(dir.filePath(QStringLiteral("root/usr/share/applications/")) + kAppId +
                                  QStringLiteral(".desktop")));
}

} // namespace
