#include "TestProfile.h"
#include "Paths.h"

#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

TestProfile::TestProfile()
{
    m_hadPrevious = qEnvironmentVariableIsSet(platform::kProfileEnv);
    m_previous = qgetenv(platform::kProfileEnv);
    qputenv(platform::kProfileEnv, m_dir.path().toLocal8Bit());
}

TestProfile::~TestProfile()
{
    if (m_hadPrevious)
        qputenv(platform::kProfileEnv, m_previous);
    else
        qunsetenv(platform::kProfileEnv);
}

RecordingMessageBox::RecordingMessageBox(int a) : answer(a)
{
    SetMessageBoxHandler(this);
}

RecordingMessageBox::~RecordingMessageBox()
{
    if (MessageBoxHandler() == this)
        SetMessageBoxHandler(nullptr);
}

int RecordingMessageBox::Show(const QString &text, const QString &caption, TMsgKind kind, int buttons)
{
    shown.append(Shown{text, caption, kind, buttons});
    return answerer ? answerer(shown.last()) : answer;
}

QString toolPath(const QString &name)
{
    return QStringLiteral(QUARVEL_TEST_BINARY_DIR "/tools/") + name;
}

int runProcess(const QString &program, const QStringList &args, QByteArray *out, QByteArray *err,
               const QByteArray &input, const QProcessEnvironment &env)
{
    QProcess p;
    if (!env.isEmpty())
        p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return -1;
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished(5000);
        return -1;
    }
    if (out)
        *out = p.readAllStandardOutput();
    if (err)
        *err = p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

int runCurrentTestUnprivileged(QByteArray *output)
{
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    if (!info)
        return -1;
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    // The other user must reach the program: every folder above it and the file itself open to others.
    for (QFileInfo f(self); !f.isRoot(); f = QFileInfo(f.absolutePath()))
        if (!f.permission(QFileDevice::ExeOther))
            return -1;
    const QString filter = QStringLiteral("--gtest_filter=%1.%2")
                               .arg(QString::fromUtf8(info->test_suite_name()), QString::fromUtf8(info->name()));
    QByteArray out, err;
    const int rc = runProcess(QStringLiteral("setpriv"),
                              {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                               QStringLiteral("--clear-groups"), self, filter},
                              &out, &err);
    if (output)
        *output = out + err;
    return rc;
}
