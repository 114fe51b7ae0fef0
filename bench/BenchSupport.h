#pragma once
// What the benchmarks share: sample data that looks like a real mailbox and a real profile, readings
// from /proc, and the small statistics they print. Nothing here measures or judges a time.
#include "MsgBox.h"
#include "SpamFilterClassUnit.h"
#include "TypeDef.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <random>
#include <vector>

namespace bench {

// Header blocks as a POP3 server sends them for TOP n 0: several Received lines, a folded DKIM
// signature, encoded names and subjects, CR LF line ends. The same seed gives the same messages.
class SampleMail {
public:
    explicit SampleMail(uint32_t seed = 20240611);
    // The header block of message number n (1-based; the number goes into the Message-ID).
    QByteArray HeaderBlock(int n);
    // A whole message: the header block, an empty line and a short text body.
    QByteArray Message(int n);
    // A message size as mailboxes have them: mostly a few KB, some attachments up to several MB.
    int32_t Size();

private:
    std::mt19937 m_rng;
    int pick(int count);
};

// Mailboxes on 127.0.0.1 (nobody needs to listen there) with passwords, and spam rules of both kinds
// with distinct texts; the last three catch some of SampleMail's messages.
TPOP3Accounts SampleAccounts(int count, quint16 port = 1);
QList<TSimpleFilter> SampleRules(int count);

// Writes a whole profile into the folder QUARVEL_PROFILE names: the mailboxes, timed checking on every
// checkMinutes minutes, a LAN connection, no first start, and the rules in "Filters.dat". False (with a
// line on stderr) when the profile does not read back as written.
bool WriteProfile(const TPOP3Accounts &accounts, const QList<TSimpleFilter> &rules, int checkMinutes = 30);

// Fields of /proc/self/status in kB (VmRSS, VmHWM); -1 when absent.
qint64 SelfStatusKb(const char *field);

// CLOCK_MONOTONIC in nanoseconds: comparable between processes of one machine.
qint64 MonotonicNs();

double Median(std::vector<double> v);
double Min(const std::vector<double> &v);

// Answers every message box cautiously and counts them: a box during a benchmark means the figures
// describe something other than the path meant, and the benchmark says so.
class CountingMessageBox : public IMessageBoxHandler {
public:
    CountingMessageBox();
    ~CountingMessageBox() override;
    int Show(const QString &text, const QString &caption, TMsgKind kind, int buttons) override;
    int Count = 0;
    QString First;
};

} // namespace bench
