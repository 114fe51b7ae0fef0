#pragma once
// Test helpers shared by every test folder.
#include "MsgBox.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

#include <unistd.h>

// A private profile folder for one test: QUARVEL_PROFILE points at it while the object lives.
class TestProfile {
public:
    TestProfile();
    ~TestProfile();
    QString path() const { return m_dir.path(); }
    QString file(const QString &rel) const { return m_dir.filePath(rel); }

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious = false;
};

// Records every message box and answers with a fixed code.
class RecordingMessageBox : public IMessageBoxHandler {
public:
    struct Shown {
        QString text;
        QString caption;
        TMsgKind kind;
        int buttons;
    };
    explicit RecordingMessageBox(int answer = IDOK);
    ~RecordingMessageBox() override;
    int Show(const QString &text, const QString &caption, TMsgKind kind, int buttons) override;

    QList<Shown> shown;
    int answer;
    std::function<int(const Shown &)> answerer; // overrides answer when set
};

// Path of a built tool (quarvel-reg, ...) in the build tree.
QString toolPath(const QString &name);
// Runs a process to its end (60 s at most), input on its standard input, in env (empty: this process's);
// returns its exit code, -1 on a failure to start or a hang.
int runProcess(const QString &program, const QStringList &args, QByteArray *out = nullptr,
               QByteArray *err = nullptr, const QByteArray &input = {},
               const QProcessEnvironment &env = QProcessEnvironment());
// Runs the current test once more in a child process as the unprivileged user nobody, for tests of file
// permissions, which do not bind root. Returns the child's exit code (0: the test passed there), or -1
// when the child could not run (also when the program lies where others may not reach it); *output gets
// what it printed.
int runCurrentTestUnprivileged(QByteArray *output = nullptr);

// At the start of a test body: permissions do not bind root, so as root the test runs again as the user
// nobody and the body ends with that run's verdict (skipped where nobody cannot reach the test program).
#define RUN_UNPRIVILEGED_WHEN_ROOT()                                                                   \
    do {                                                                                               \
        if (geteuid() == 0) {                                                                          \
            QByteArray unprivilegedOutput;                                                             \
            const int unprivilegedRc = runCurrentTestUnprivileged(&unprivilegedOutput);                \
            if (unprivilegedRc < 0)                                                                    \
                GTEST_SKIP() << "cannot run as another user here";                                     \
            EXPECT_EQ(unprivilegedRc, 0) << unprivilegedOutput.constData();                            \
            return;                                                                                    \
        }                                                                                              \
    } while (false)
