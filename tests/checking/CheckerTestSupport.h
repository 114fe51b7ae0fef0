#pragma once
// What the worker and coordinator tests share: a user interface that records what the coordinator does,
// a socket factory whose sockets all play one script, POP3 script pieces, and a fixture with a private
// profile, the settings store, the rule store and the coordinator.
#include "CheckerUI.h"
#include "EventWait.h"
#include "FakeLineSocket.h"
#include "MailDeletion.h"
#include "POP3Check.h"
#include "QtPrinters.h"
#include "RegistrySettingsUnit.h"
#include "SpamDetectorUnit.h"
#include "SpamFilterClassUnit.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <atomic>
#include <memory>

// Records every call as one line of text, and answers the questions from its fields.
class RecordingCheckerUI : public ICheckerUI {
public:
    bool MainWindowVisible() override { return mainVisible; }
    void BringToForeground() override { calls << QStringLiteral("BringToForeground"); }
    void HideTaskbarButtonIfHidden() override {}
    void SetBusyCursor(bool busy) override { calls << QStringLiteral("SetBusyCursor(%1)").arg(busy); }
    void SetCheckCommandsEnabled(bool on) override { calls << QStringLiteral("SetCheckCommandsEnabled(%1)").arg(on); }
    void SetMessageCount(int n) override { calls << QStringLiteral("SetMessageCount(%1)").arg(n); }
    void RefillMessageList(const TMailList &list) override
    {
        calls << QStringLiteral("RefillMessageList(%1)").arg(list.Count());
        rows.clear();
        for (TMailEntry *e : list)
            rows.append(e);
    }
    void ClearMessageList() override
    {
        calls << QStringLiteral("ClearMessageList");
        rows.clear();
    }
    bool MailIconShown() override { return mailIcon; }
    void ShowMailIcon(bool animate) override
    {
        calls << QStringLiteral("ShowMailIcon(%1)").arg(animate ? "animated" : "still");
        mailIcon = true;
    }
    void HideMailIcon() override
    {
        calls << QStringLiteral("HideMailIcon");
        mailIcon = false;
    }
    void SetMailIconTooltip(const QString &text) override { calls << QStringLiteral("Tooltip: ") + text; }
    void PlaySound(const QString &file) override { calls << QStringLiteral("PlaySound(%1)").arg(file); }
    bool SpamNoticeOpen() override { return spamNotice; }
    void CloseSpamNotice() override
    {
        calls << QStringLiteral("CloseSpamNotice");
        spamNotice = false;
    }
    void OpenSpamNotice(int total, int spam) override
    {
        calls << QStringLiteral("OpenSpamNotice(%1, %2)").arg(total).arg(spam);
        spamNotice = true;
    }
    void CloseNewMailNotice() override { calls << QStringLiteral("CloseNewMailNotice"); }
    void OpenNewMailNotice(int count, bool showStartsCheck) override
    {
        calls << QStringLiteral("OpenNewMailNotice(%1, %2)").arg(count).arg(showStartsCheck ? "check" : "show");
    }
    void OpenProgressWindow(std::function<void()> cancel) override
    {
        calls << QStringLiteral("OpenProgressWindow");
        cancelButton = std::move(cancel);
        progressOpen = true;
    }
    bool ProgressWindowOpen() override { return progressOpen; }
    void ProgressLine(const QString &account, int status, int code, const QString &errorText) override
    {
        progress << QStringLiteral("%1 %2 %3 %4").arg(account).arg(status).arg(code).arg(errorText).trimmed();
    }
    bool ProgressHasFailures() override
    {
        for (const QString &line : std::as_const(progress))
            if (line.section(QLatin1Char(' '), 1, 1) == QLatin1String("2"))
                return true;
        return false;
    }
    void ProgressFinishedWithErrors() override { calls << QStringLiteral("ProgressFinishedWithErrors"); }
    void CloseProgressWindow() override
    {
        calls << QStringLiteral("CloseProgressWindow");
        progressOpen = false;
    }
    void BringProgressToFront() override { calls << QStringLiteral("BringProgressToFront"); }
    void ShowDeleteCountdown(int seconds) override { calls << QStringLiteral("ShowDeleteCountdown(%1)").arg(seconds); }
    bool TrustCertificate(const QString &account, const CertificateProblem &problem) override
    {
        calls << QStringLiteral("TrustCertificate");
        trustAsked << account + QLatin1Char(' ') + problem.Text();
        return trustAnswer;
    }

    QStringList calls;
    QStringList progress;      // "account status code error"
    QList<TMailEntry *> rows;  // the list as last filled
    bool mainVisible = false;
    bool mailIcon = false;
    bool spamNotice = false;
    bool progressOpen = false;
    std::function<void()> cancelButton;
    QStringList trustAsked;    // "account problem text", one per question
    bool trustAnswer = false;
};

// Every socket it makes plays the one shared script, so a test can follow a conversation across the
// clients the worker creates and frees.
class SharedFakeSocket : public LineSocket {
public:
    explicit SharedFakeSocket(std::shared_ptr<FakeLineSocket> fake) : m_fake(std::move(fake)) {}
    Status connectToHost(const QString &host, quint16 port, int timeoutMs) override
    {
        return m_fake->connectToHost(host, port, timeoutMs);
    }
    bool isConnected() const override { return m_fake->isConnected(); }
    bool canReadLine() const override { return m_fake->canReadLine(); }
    Status readLine(QByteArray *line, int timeoutMs, int maxLength) override
    {
        return m_fake->readLine(line, timeoutMs, maxLength);
    }
    Status readSome(QByteArray *data, qint64 maxCount, int timeoutMs) override
    {
        return m_fake->readSome(data, maxCount, timeoutMs);
    }
    Status write(const QByteArray &data) override { return m_fake->write(data); }
    void discardInput() override { m_fake->discardInput(); }
    void close() override { m_fake->close(); }
    void abort() override { m_fake->abort(); }
    QString errorString() const override { return m_fake->errorString(); }
    void setTrustedCertificate(const QString &sha256Fingerprint) override
    {
        m_fake->setTrustedCertificate(sha256Fingerprint);
    }
    Status connectToHostEncrypted(const QString &host, quint16 port, int timeoutMs) override
    {
        return m_fake->connectToHostEncrypted(host, port, timeoutMs);
    }
    Status startTls(int timeoutMs) override { return m_fake->startTls(timeoutMs); }
    bool isEncrypted() const override { return m_fake->isEncrypted(); }
    CertificateProblem certificateProblem() const override { return m_fake->certificateProblem(); }

private:
    std::shared_ptr<FakeLineSocket> m_fake;
};

// --- script pieces -------------------------------------------------------------------------------------

using Script = QList<FakeLineSocket::Step>;

// A new connection and a USER/PASS login; withUidl adds UIDL to the capability listing, pipelining
// PIPELINING.
inline Script Login(const QByteArray &user = "bob", const QByteArray &password = "pw", bool withUidl = true,
                    bool pipelining = false)
{
    Script s{Accept(), S("+OK POP3 ready"), C("CAPA"), S("+OK"), S("TOP")};
    if (withUidl)
        s << S("UIDL");
    if (pipelining)
        s << S("PIPELINING");
    s << S(".") << C("USER " + user) << S("+OK") << C("PASS " + password) << S("+OK logged in");
    return s;
}

inline Script Quit()
{
    return {C("QUIT"), S("+OK bye")};
}

// A small message's header block as TOP n 0 sends it.
inline QByteArrayList HeaderLines(const QByteArray &subject, const QByteArray &id,
                                  const QByteArray &from = "Anna <anna@example.test>")
{
    QByteArrayList lines{"From: " + from, "To: bob@example.test", "Subject: " + subject};
    if (!id.isEmpty())
        lines << "Message-ID: <" + id + "@example.test>";
    lines << "";
    return lines;
}

// TOP n 0 of one message.
inline Script Top(int n, const QByteArray &subject, const QByteArray &id)
{
    Script s{C("TOP " + QByteArray::number(n) + " 0"), S("+OK")};
    for (const QByteArray &line : HeaderLines(subject, id))
        s << S(line);
    return s << S(".");
}

// TOP n 0 and LIST n of one message.
inline Script Header(int n, const QByteArray &subject, const QByteArray &id, int size = 1000)
{
    const QByteArray num = QByteArray::number(n);
    return Top(n, subject, id) << C("LIST " + num) << S("+OK " + num + ' ' + QByteArray::number(size));
}

// LIST: the size of every message, numbered from 1.
inline Script Sizes(const QList<int> &sizes)
{
    Script s{C("LIST"), S("+OK")};
    for (int i = 0; i < sizes.size(); ++i)
        s << S(QByteArray::number(i + 1) + ' ' + QByteArray::number(sizes.at(i)));
    s << S(".");
    return s;
}

inline Script Uidl(const QByteArrayList &uids)
{
    Script s{C("UIDL"), S("+OK")};
    for (int i = 0; i < uids.size(); ++i)
        s << S(QByteArray::number(i + 1) + ' ' + uids.at(i));
    s << S(".");
    return s;
}

// STAT and the UIDL listing, as a session reads them before its first deletion or text fetch.
inline Script Listing(const QByteArrayList &uids)
{
    const QByteArray n = QByteArray::number(uids.size());
    return Script{C("STAT"), S("+OK " + n + ' ' + QByteArray::number(uids.size() * 1000))} << Uidl(uids);
}

// The header block of HeaderLines as TOP n 0 delivers it.
inline QByteArray HeaderBlock(const QByteArray &subject, const QByteArray &id)
{
    return HeaderLines(subject, id).join("\r\n") + "\r\n";
}

// A mailbox as the worker scans it: login, STAT, the LIST and UIDL listings, TOP n 0 for each, QUIT.
struct ScriptMessage {
    QByteArray subject;
    QByteArray id;
    int size = 1000;
    QByteArray uidl;
};

inline Script Scan(const QList<ScriptMessage> &messages, const QByteArray &user = "bob",
                   const QByteArray &password = "pw", bool withUidl = true, bool pipelining = false)
{
    Script s = Login(user, password, withUidl, pipelining);
    s << C("STAT") << S("+OK " + QByteArray::number(messages.size()) + " 5000");
    if (messages.isEmpty())
        return s << Quit();
    QByteArrayList uids;
    QList<int> sizes;
    for (const ScriptMessage &m : messages) {
        uids << m.uidl;
        sizes << m.size;
    }
    s << Sizes(sizes);
    if (withUidl)
        s << Uidl(uids);
    for (int i = 0; i < messages.size(); ++i)
        s << Top(i + 1, messages.at(i).subject, messages.at(i).id);
    return s << Quit();
}

inline TPOP3AccountSettings Account(const QString &host = QStringLiteral("pop.example.test"),
                                    const QString &user = QStringLiteral("bob"),
                                    const QString &password = QStringLiteral("pw"))
{
    TPOP3AccountSettings a;
    a.ServerName = host;
    a.AccountName = user;
    a.Password = password;
    a.Port = 110;
    a.ServerRetries = 1;
    return a;
}

inline TSimpleFilter SubjectRule(const QString &text, uint8_t operation = foContains)
{
    TSimpleFilter f;
    f.Active = true;
    f.Kind = fkSubject;
    f.Operation = operation;
    f.Text = text;
    return f;
}

inline TSimpleFilter HeaderRule(const QString &field, const QString &text, uint8_t operation = foContains)
{
    TSimpleFilter f;
    f.Active = true;
    f.Kind = fkHeaderField;
    f.Operation = operation;
    f.HeaderField = field;
    f.Text = text;
    return f;
}

// A private profile with a settings store, a rule store, a recording user interface, message boxes that
// are recorded, and a coordinator whose sockets play `fake`.
class CheckerFixture : public ::testing::Test {
protected:
    CheckerFixture() : filters(settings), detector(settings.Settings)
    {
        settings.Settings.DataPath = profile.file(QStringLiteral("data"));
        // The scripts hold no RETR before a DELE: the tests of the rescue copies switch them on.
        settings.Settings.KeepDeletedCopies = false;
    }

    // Stores the accounts and options and (re)creates the coordinator with them.
    void makeChecker(const TPOP3Accounts &accounts, TPOP3Check check = {})
    {
        checker.reset();
        settings.Settings.Accounts = accounts;
        settings.Settings.POP3Check = check;
        ASSERT_TRUE(settings.SavePOP3Settings(check, accounts));
        checker = std::make_unique<TPOP3Checker>(settings, detector, ui, options());
    }

    TPop3Options options()
    {
        TPop3Options o;
        o.SocketFactory = [f = fake] { return std::make_unique<SharedFakeSocket>(f); };
        o.TimeoutMs = 5000;
        o.Clock = [this] { return clock.load(); };
        // The scan's deadline runs on the script's time, never on how busy the machine is.
        o.ElapsedMs = [this] { return scanElapsed ? scanElapsed() : qint64(0); };
        o.Wait = [this](int ms) { waits << ms; };
        if (adjustOptions)
            adjustOptions(o);
        return o;
    }

    void play(const Script &script) { fake->play(script); }

    // --- the coordinator's operations, each waited for with the event loop running ---

    // A manual check; the number of entries shown (0 when it did not start).
    int checkNow(int accountIndex = -1)
    {
        int shown = -1;
        if (!checker->CheckNow(accountIndex, [&shown](int n) { shown = n; }))
            return 0;
        EXPECT_TRUE(processEventsUntil([&] { return shown >= 0; }, kGuardMs)) << "the check never ended";
        return std::max(shown, 0);
    }

    // Deletes the checked entries of rows as a deletion run does; deletedRows gets the Row of each deleted
    // entry (the entries themselves are freed).
    TDeletionResult deleteMarked(const QList<TMailEntry *> &rows,
                                 std::shared_ptr<IDeletionObserver> observer = nullptr,
                                 TDeletionHow how = TDeletionHow::ByHand)
    {
        QList<TMailEntry *> marked;
        for (TMailEntry *e : rows)
            if (e && e->Checked)
                marked.append(e);
        return deleteEntries(rows, marked, std::move(observer), how);
    }

    TDeletionResult deleteEntries(const QList<TMailEntry *> &rows, const QList<TMailEntry *> &marked,
                                  std::shared_ptr<IDeletionObserver> observer = nullptr,
                                  TDeletionHow how = TDeletionHow::ByHand)
    {
        TDeletionResult result;
        deletedRows.clear();
        bool done = false;
        EXPECT_TRUE(checker->BeginOperation(TServerOperationKind::DeletionRun));
        checker->DeleteEntries(rows, marked, how, std::move(observer), [&](const TDeletionResult &r) {
            result = r;
            for (const TMailEntry *e : r.DeletedEntries)
                deletedRows << e->Row;
            result.DeletedEntries.clear(); // freed right after this
            done = true;
        });
        EXPECT_TRUE(processEventsUntil([&] { return done; }, kGuardMs)) << "the deletion never ended";
        checker->EndOperation();
        return result;
    }

    // The single deletion of the list's command: true when deleted (or found gone), else error says why.
    bool deleteEntry(TMailEntry *entry, QString &error)
    {
        QList<TMailEntry *> rows;
        for (TMailEntry *e : checker->MailList)
            rows.append(e);
        const TDeletionResult result = deleteEntries(rows.contains(entry) ? rows : QList<TMailEntry *>{entry}, {entry});
        error = result.ErrorText;
        return result.Deleted == 1;
    }

    bool fetchText(TMailEntry *entry, QString *error = nullptr)
    {
        bool ok = false;
        bool done = false;
        QString text;
        EXPECT_TRUE(checker->BeginOperation(TServerOperationKind::TextFetch));
        checker->FetchEntryText(entry, [&](bool fetched, const QString &why) {
            ok = fetched;
            text = why;
            done = true;
        });
        EXPECT_TRUE(processEventsUntil([&] { return done; }, kGuardMs)) << "the fetch never ended";
        checker->EndOperation();
        if (error)
            *error = text;
        return ok;
    }

    // The login test; false with BusyText() when it did not start.
    bool testAccount(const TPOP3AccountSettings &account, QString &error, int &code,
                     CertificateProblem *refused = nullptr)
    {
        bool ok = false;
        bool done = false;
        const bool started = checker->TestAccount(
            account, [&](bool passed, int replyCode, const QString &why, const CertificateProblem &problem) {
                ok = passed;
                code = replyCode;
                error = why;
                if (refused)
                    *refused = problem;
                done = true;
            });
        if (!started) {
            error = TPOP3Checker::BusyText();
            code = 0;
            return false;
        }
        EXPECT_TRUE(processEventsUntil([&] { return done; }, kGuardMs)) << "the test never ended";
        return ok;
    }

    // The automatic removal after a timed check, within an operation of its own.
    void autoKill()
    {
        bool done = false;
        EXPECT_TRUE(checker->BeginOperation(TServerOperationKind::TimedCheck));
        checker->AutoKill([&done] { done = true; });
        EXPECT_TRUE(processEventsUntil([&] { return done; }, kGuardMs)) << "the removal never ended";
        checker->EndOperation();
    }

    // A run of the worker on this thread over the coordinator's accounts.
    bool runCheck(bool manual, bool countOnly, bool &allFailed)
    {
        return checker->EnsureWorker()->RunCheck(manual, countOnly, -1, checker->Accounts, allFailed);
    }

    static constexpr int kGuardMs = 120000;
    QList<int> deletedRows; // the Row of each entry the last deletion removed

    QString transcript() const { return fake->transcript().join(u'\n'); }

    // The whole script was used, exactly as written.
    void expectScriptDone()
    {
        EXPECT_EQ(fake->mismatches(), QStringList()) << transcript().toStdString();
        EXPECT_EQ(fake->unplayed(), QStringList()) << transcript().toStdString();
    }

    QByteArrayList written(const QByteArray &prefix) const
    {
        QByteArrayList out;
        for (const QByteArray &line : fake->written())
            if (line.startsWith(prefix))
                out << line;
        return out;
    }

    TestProfile profile;
    RecordingMessageBox boxes;
    TRegistrySettings settings;
    TSpamFilterClass filters;
    TSpamDetector detector;
    RecordingCheckerUI ui;
    std::shared_ptr<FakeLineSocket> fake = std::make_shared<FakeLineSocket>();
    std::atomic<int32_t> clock{12 * 3600};
    // How long the scan has taken so far, as the test's script has it (0 unless a test says otherwise).
    std::function<qint64()> scanElapsed;
    QList<int> waits;
    std::unique_ptr<TPOP3Checker> checker;
    // Changes the options of the next coordinator or worker (shorter deadlines, fewer time-outs).
    std::function<void(TPop3Options &)> adjustOptions;
};
