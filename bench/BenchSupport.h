#pragma once
// What the benchmarks share: sample data that looks like a real mailbox and a real profile, readings
// from /proc, and the small statistics they print. Nothing here measures or judges a time.
#include "MsgBox.h"
#include "SpamFilterClassUnit.h"
#include "TypeDef.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <deque>
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

// count entries as a header scan leaves them, in deque (stable addresses: lists keep pointers): the
// header block of SampleMail message n parsed into Message, MsgNumber n, a sample size, alternating
// between two mailboxes. State and Checked stay as a new entry has them.
void FillSampleEntries(std::deque<TMailEntry> &entries, int count);

// Mailboxes on 127.0.0.1 (nobody needs to listen there) with passwords, and spam rules of both kinds
// with distinct texts; the last three catch some of SampleMail's messages.
TPOP3Accounts SampleAccounts(int count, quint16 port = 1);
QList<TSimpleFilter> SampleRules(int count);

// Rules as a list grows over years: subject and header-field rules with every operation, on "Received"
// (all of them joined), "received" (the first one alone), From, Subject as transmitted, and fields many
// messages lack; now and then an inactive rule, and some whose text occurs in most messages without
// satisfying the operation. The last three catch some of SampleMail's messages (subject, word in the
// subject, Received), so a message that is no spam is compared with every rule.
QList<TSimpleFilter> MixedRules(int count);

// Exceptions as a user collects them with "Absender nie als Spam": the field From containing one sender's
// address (of SampleMail's senders, so that some match), and now and then one on the beginning of a
// subject.
QList<TSimpleFilter> AllowRules(int count);

// Writes a whole profile into the folder QUARVEL_PROFILE names: the mailboxes, timed checking on every
// checkMinutes minutes, a LAN connection, no first start, and the rules in "Filters.dat". False (with a
// line on stderr) when the profile does not read back as written.
bool WriteProfile(const TPOP3Accounts &accounts, const QList<TSimpleFilter> &rules, int checkMinutes = 30);

// A temporary profile folder, named by QUARVEL_PROFILE for this process and the children it starts from
// now on; removed with the object.
class TempProfile {
public:
    TempProfile();
    bool IsValid() const { return m_dir.isValid(); }
    QString Path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

// The number after the option `name` on the command line, or def when it is not given.
int ArgValue(int argc, char **argv, const char *name, int def);
// The text after the option `name`, or def.
QString ArgText(int argc, char **argv, const char *name, const QString &def = {});

// Fields of /proc/self/status in kB (VmRSS, VmHWM); -1 when absent.
qint64 SelfStatusKb(const char *field);
// The same of another process (/proc/<pid>/status); -1 when absent, as once the process has ended.
qint64 ProcessStatusKb(qint64 pid, const char *field);

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
