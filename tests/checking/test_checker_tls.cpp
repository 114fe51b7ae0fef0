// Checking, deleting and reading mail on a private Dovecot over TLS (STLS on one port, TLS from the first
// byte on another), the certificate the user trusts after a manual check, and quarvel-check on such a
// mailbox.
#include "DovecotCheckerSupport.h"
#include "MailDeletion.h"
#include "ToolSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace {

QByteArray mail(const QByteArray &subject)
{
    return "From: Anna <anna@example.test>\r\nTo: bob@example.test\r\nSubject: " + subject + "\r\nMessage-ID: <"
        + subject.toHex() + "@example.test>\r\n\r\nHallo ueber TLS.\r\n";
}

class TlsCheckerTest : public MailboxOnDovecot<WithTlsDovecot<CheckerFixture>> {
protected:
    // The suite's mailbox over STLS or TLS, with the server's certificate trusted.
    TPOP3AccountSettings account(int32_t security, const QString &name) const
    {
        TPOP3AccountSettings a = Account(server->host(), name, QStringLiteral("pass-") + name);
        a.POP3Security = security;
        a.Port = security == csSSLTLS ? server->tlsPort() : server->port();
        a.POP3CertSHA256 = certificate.Fingerprint;
        return a;
    }

    QString progress() const { return ui.progress.join(u'\n'); }
};

TEST_F(TlsCheckerTest, ScanTextAndDeletionOverStlsAndImplicitTlsWithEitherLogin)
{
    filters.AddFilter(SubjectRule(QStringLiteral("gewinnspiel")));
    const struct {
        const char *name;
        int32_t security;
        bool apop;
    } cases[] = {{"stls-userpass", csStartTLS, false},
                 {"stls-apop", csStartTLS, true},
                 {"tls-userpass", csSSLTLS, false},
                 {"tls-apop", csSSLTLS, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = user + QLatin1Char('-') + QLatin1String(c.name);
        ASSERT_TRUE(server->addUser(name, QStringLiteral("pass-") + name));
        for (const QByteArray subject : {"Hallo", "Ihr Gewinnspiel", "Rechnung"})
            ASSERT_FALSE(server->deliver(name, mail(subject)).isEmpty());
        TPOP3AccountSettings a = account(c.security, name);
        a.UseAPOP = c.apop;
        makeRealChecker({a});

        // The login really is the one asked for, inside TLS.
        TPop3Thread *worker = checker->EnsureWorker();
        bool fatal = false;
        int code = 0;
        QString error;
        ASSERT_TRUE(worker->Connect(a, fatal, code, error)) << error.toStdString() << server->log().toStdString();
        EXPECT_TRUE(worker->Client()->isEncrypted());
        EXPECT_EQ(worker->Client()->authKind(), c.apop ? Pop3Client::AuthKind::Apop : Pop3Client::AuthKind::UserPass);
        worker->FreeClient();

        ASSERT_EQ(checkNow(), 3) << progress().toStdString();
        EXPECT_EQ(checker->MailList[1]->State, int(msSpam));
        QString textError;
        ASSERT_TRUE(fetchText(checker->MailList[0], &textError)) << textError.toStdString();
        EXPECT_TRUE(checker->MailList[0]->Message.Body.contains(QStringLiteral("Hallo ueber TLS.")));

        const TDeletionResult result = deleteMarked(rows());
        EXPECT_FALSE(result.Failed) << result.ErrorText.toStdString();
        EXPECT_EQ(result.Deleted, 1);
        EXPECT_EQ(server->messageIds(name).size(), 2);
        EXPECT_TRUE(ui.trustAsked.isEmpty());

        // Dovecot's own record of every login of this user says how it was secured.
        const QStringList logins =
            server->log().split(u'\n').filter(QStringLiteral("Login: user=<%1>").arg(name));
        EXPECT_GE(logins.size(), 4) << server->log().toStdString();
        for (const QString &line : logins)
            EXPECT_TRUE(line.contains(QStringLiteral(", TLS,"))) << line.toStdString();
    }
}

TEST_F(TlsCheckerTest, WrongHostNameFailsEvenWithTheCertificateTrustedAndIsNotOffered)
{
    server->deliver(user, mail("Hallo"));
    TPOP3AccountSettings a = account(csSSLTLS, user);
    a.ServerName = QStringLiteral("localhost"); // the certificate names 127.0.0.1 only
    makeRealChecker({a});
    EXPECT_EQ(checkNow(), 0);
    EXPECT_TRUE(progress().contains(QStringLiteral("es gilt nicht für den Servernamen \"localhost\"")))
        << progress().toStdString();
    EXPECT_TRUE(progress().contains(certificate.Fingerprint));
    EXPECT_TRUE(ui.trustAsked.isEmpty()) << "trusting the certificate would not help";
}

// An own server, so that its certificate can be replaced.
TEST_F(TlsCheckerTest, UntrustedCertificateIsOfferedAfterAManualCheckAndTrustedUntilItIsReplaced)
{
    TestCertificate first, second;
    QString error;
    ASSERT_TRUE(certificates->selfSigned(QStringLiteral("First"), {QStringLiteral("IP:127.0.0.1")}, &first, &error)
                && certificates->selfSigned(QStringLiteral("Second"), {QStringLiteral("IP:127.0.0.1")}, &second, &error))
        << error.toStdString();
    DovecotServer own;
    ASSERT_TRUE(own.addUser(user, password()));
    ASSERT_TRUE(own.setTls(first.CertificateFile, first.KeyFile));
    ASSERT_TRUE(own.start(&error)) << error.toStdString();
    own.deliver(user, mail("Hallo"));
    TPOP3AccountSettings a = Account(own.host(), user, password());
    a.POP3Security = csSSLTLS;
    a.Port = own.tlsPort();
    makeRealChecker({a});

    // Refused and shown while the check still holds its commands; the user says no, so nothing is stored.
    EXPECT_EQ(checkNow(), 0);
    const qsizetype asked = ui.calls.indexOf(QStringLiteral("TrustCertificate"));
    EXPECT_GT(asked, ui.calls.indexOf(QStringLiteral("SetCheckCommandsEnabled(0)")));
    EXPECT_LT(asked, ui.calls.indexOf(QStringLiteral("SetCheckCommandsEnabled(1)")));
    EXPECT_TRUE(ui.progress.last().contains(QStringLiteral("es ist selbst signiert")));
    EXPECT_TRUE(ui.progress.last().endsWith(QStringLiteral("SHA-256-Fingerabdruck: ") + first.Fingerprint))
        << progress().toStdString();
    ASSERT_EQ(ui.trustAsked.size(), 1);
    EXPECT_TRUE(ui.trustAsked.last().startsWith(user + QStringLiteral("@127.0.0.1 Das Zertifikat")));
    EXPECT_TRUE(ui.trustAsked.last().contains(first.Fingerprint));
    EXPECT_TRUE(checker->Accounts[0].POP3CertSHA256.isEmpty());

    // Trusted: stored with the account, in the program's copies too, and the next check goes through.
    ui.trustAnswer = true;
    EXPECT_EQ(checkNow(), 0);
    ASSERT_EQ(ui.trustAsked.size(), 2);
    EXPECT_EQ(checker->Accounts[0].POP3CertSHA256, first.Fingerprint);
    EXPECT_EQ(settings.Settings.Accounts[0].POP3CertSHA256, first.Fingerprint);
    TRegistrySettings reread;
    reread.Load();
    ASSERT_EQ(reread.Settings.Accounts.size(), 1);
    EXPECT_EQ(reread.Settings.Accounts[0].POP3CertSHA256, first.Fingerprint);
    EXPECT_EQ(checkNow(), 1) << progress().toStdString();
    EXPECT_EQ(ui.trustAsked.size(), 2);

    // Another certificate on the same server is refused again, with its own fingerprint.
    own.stop();
    ASSERT_TRUE(own.setTls(second.CertificateFile, second.KeyFile));
    ASSERT_TRUE(own.start(&error)) << error.toStdString();
    TPOP3AccountSettings moved = checker->Accounts[0];
    moved.Port = own.tlsPort();
    ASSERT_TRUE(settings.SavePOP3Settings(checker->POP3Check, {moved}));
    checker->ReloadConfig();
    ui.trustAnswer = false;
    EXPECT_EQ(checkNow(), 0);
    EXPECT_TRUE(ui.progress.last().endsWith(second.Fingerprint)) << progress().toStdString();
    ASSERT_EQ(ui.trustAsked.size(), 3);
    EXPECT_TRUE(ui.trustAsked.last().contains(second.Fingerprint));
    EXPECT_EQ(checker->Accounts[0].POP3CertSHA256, first.Fingerprint);
}

// The account editor's test hands back the refused certificate for the same question.
TEST_F(TlsCheckerTest, AccountTestHandsBackARefusedCertificate)
{
    TPOP3AccountSettings a = account(csStartTLS, user);
    makeRealChecker({a});
    QString error;
    int code = 0;
    CertificateProblem refused;
    EXPECT_TRUE(testAccount(a, error, code, &refused)) << error.toStdString();
    EXPECT_TRUE(refused.IsNull());

    a.POP3CertSHA256.clear();
    EXPECT_FALSE(testAccount(a, error, code, &refused));
    EXPECT_TRUE(error.contains(certificate.Fingerprint)) << error.toStdString();
    EXPECT_TRUE(refused.CanBeTrusted());
    EXPECT_EQ(refused.Certificate, certificate.Certificate);
    EXPECT_EQ(refused.Port, server->port());
}

TEST_F(TlsCheckerTest, TimedCheckNeverAsks)
{
    server->deliver(user, mail("Hallo"));
    TPOP3AccountSettings a = account(csSSLTLS, user);
    a.POP3CertSHA256.clear();
    TPOP3Check check;
    check.EMailCheck = true;
    TPop3Options o;
    o.FirstWakeMs = 10;
    o.WakeMs = 10;
    o.Clock = [this] { return clock.load(); };
    makeRealChecker({a}, check, o);
    int done = 0;
    checker->OnCheckDone = [&done](TPOP3Checker *, bool) { ++done; };
    checker->SetActive(true);
    clock += 180;
    const QDeadlineTimer deadline(30000);
    while (done < 2 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    checker->SetActive(false);
    ASSERT_GE(done, 2);
    EXPECT_TRUE(checker->Accounts[0].CheckFailed);
    EXPECT_TRUE(ui.trustAsked.isEmpty());
}

// --- quarvel-check --------------------------------------------------------------------------------------

// Headless: the refusal with its fingerprint on stderr, trust written with quarvel-reg, then the check.
TEST_F(TlsCheckerTest, QuarvelCheckReportsTheFingerprintAndWorksOnceItIsStored)
{
    server->deliver(user, mail("Hallo"));
    AddMailbox(0, server->host(), server->tlsPort(), user, password());
    SetMailboxValue(0, QStringLiteral("POP3Security"), QStringLiteral("2"));
    QByteArray out, err;
    EXPECT_EQ(RunQuarvelCheck({}, &out, &err), 1);
    EXPECT_TRUE(err.contains(("SHA-256-Fingerabdruck: " + certificate.Fingerprint).toUtf8())) << err.toStdString();
    EXPECT_TRUE(out.isEmpty());

    // A fingerprint that is none is refused; the one from the message is stored in its usual form.
    QByteArray regErr;
    EXPECT_EQ(runProcess(toolPath(QStringLiteral("quarvel-reg")),
                         {QStringLiteral("add"), MailboxKey(0), QStringLiteral("/v"), QStringLiteral("POP3CertSHA256"),
                          QStringLiteral("/d"), QStringLiteral("AB:CD"), QStringLiteral("/f")},
                         nullptr, &regErr),
              2);
    EXPECT_TRUE(regErr.contains("SHA-256-Fingerabdruck")) << regErr.toStdString();
    SetMailboxValue(0, QStringLiteral("POP3CertSHA256"), QString(certificate.Fingerprint).remove(u':').toLower());
    TRegistrySettings stored;
    stored.Load();
    ASSERT_EQ(stored.Settings.Accounts.size(), 1);
    EXPECT_EQ(stored.Settings.Accounts[0].POP3CertSHA256, certificate.Fingerprint);

    ASSERT_EQ(RunQuarvelCheck({}, &out, &err), 0) << err.toStdString();
    EXPECT_TRUE(out.startsWith((user + QStringLiteral("@127.0.0.1\t1\t")).toUtf8())) << out.toStdString();
}

} // namespace
