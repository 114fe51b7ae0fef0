// The reply dialog on the offscreen platform: how it prepares the reply, its controls, and what a send
// shows, against a real SMTP receiver on loopback.
#include "AnswerMailDlgUnit.h"
#include "EventWait.h"
#include "CertificateTrustDialog.h"
#include "CheckerUI.h"
#include "POP3Check.h"
#include "QtPrinters.h"
#include "RegIni.h"
#include "RegistrySettingsUnit.h"
#include "SMTPUnit.h"
#include "SpamDetectorUnit.h"
#include "SmtpTestServer.h"
#include "TestCertificates.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

namespace {

TPOP3AccountSettings account(const QString &server, const QString &login, const QString &address)
{
    TPOP3AccountSettings a;
    a.ServerName = server;
    a.AccountName = login;
    a.SMTPEMailAddress = address;
    return a;
}

MailMessage parsed(const QByteArray &raw)
{
    MailMessage m;
    EXPECT_TRUE(m.FillFromRaw(raw));
    return m;
}

// --- The pieces the dialog is made of -------------------------------------------------------------

TEST(ReplyPieces, SubjectGetsReOnlyWhenItDoesNotStartWithIt)
{
    const struct {
        const char *subject, *reply;
    } cases[] = {
        {"Re: Angebot", "Re: Angebot"}, {"Re:Angebot", "Re:Angebot"},   {"RE: Angebot", "Re: RE: Angebot"},
        {"AW: Angebot", "Re: AW: Angebot"}, {" Re: x", "Re:  Re: x"}, {"", "Re: "},
        {"Grüße", "Re: Grüße"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ReplySubject(QString::fromUtf8(c.subject)), QString::fromUtf8(c.reply)) << c.subject;
}

TEST(ReplyPieces, BodyIsTheMainBodyOrElseEveryTextPart)
{
    const MailMessage plain = parsed("Subject: s\r\n\r\nZeile 1\r\nZeile 2\r\n");
    EXPECT_EQ(ReplyBodyLines(plain), QStringList({"Zeile 1", "Zeile 2"}));

    const MailMessage htmlOnly = parsed("Subject: s\r\nContent-Type: multipart/alternative; boundary=b\r\n\r\n"
                                        "--b\r\nContent-Type: text/plain\r\n\r\nText\r\n"
                                        "--b\r\nContent-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n\r\nAAAA\r\n"
                                        "--b\r\nContent-Type: text/html\r\n\r\n<p>Hallo</p>\r\n--b--\r\n");
    EXPECT_EQ(ReplyBodyLines(htmlOnly), QStringList({"Text", "<p>Hallo</p>"}));

    MailMessage blanks = plain;
    blanks.Body = {"  ", ""};
    EXPECT_EQ(ReplyBodyLines(blanks), QStringList());
}

TEST(ReplyPieces, AddressesInTheFormTheyAreTyped)
{
    EXPECT_EQ(AddressListText({{"", "a@b.de"}, {"Anna Muster", "anna@b.de"}, {"Doe, John", "j@d.de"},
                               {"Ä \"Q\" Ö", "q@d.de"}}),
              QString::fromUtf8("a@b.de, Anna Muster <anna@b.de>, \"Doe, John\" <j@d.de>, \"Ä \\\"Q\\\" Ö\" <q@d.de>"));
    // What the dialog shows reads back as the same addresses.
    const QList<TMailAddress> cc{{"Doe, John", "j@d.de"}, {"", "x@y.de"}};
    EXPECT_EQ(ParseAddressList(AddressListText(cc)), cc);
    EXPECT_EQ(AddressListText({}), QString());
}

TEST(ReplyPieces, ErrorTextExplainsTheReplyCode)
{
    const struct {
        const char *error, *box;
    } cases[] = {
        {"550 5.1.1 unknown user",
         "Beim Versenden der E-Mail ist ein Fehler 550 5.1.1 unknown user Mailbox nicht vorhanden. aufgetreten."},
        {"600  No MX-entry found.", "Beim Versenden der E-Mail ist ein Fehler 600  No MX-entry found.  aufgetreten."},
        {"421 busy", "Beim Versenden der E-Mail ist ein Fehler 421 busy DNS Service gerade nicht verfügbar! aufgetreten."},
        {"535 nope",
         "Beim Versenden der E-Mail ist ein Fehler 535 nope SMTP Benutzername oder Passwort für den Mailversand falsch. "
         "aufgetreten."},
        {"0 Connection refused", "Beim Versenden der E-Mail ist ein Fehler 0 Connection refused  aufgetreten."},
        {"Es ist keine Empfängeradresse angegeben.",
         "Beim Versenden der E-Mail ist ein Fehler Es ist keine Empfängeradresse angegeben. aufgetreten."},
        {"99999999999999 x", "Beim Versenden der E-Mail ist ein Fehler 99999999999999 x  aufgetreten."},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SendErrorText(QString::fromUtf8(c.error)), QString::fromUtf8(c.box)) << c.error;
    EXPECT_EQ(SMTPReplyText(252), QString::fromUtf8("Verifizierung des Nutzer nicht möglich, Mail wird aber trotzdem angenommen."));
    EXPECT_EQ(SMTPReplyText(354), "Start mail input; end with <CRLF>.<CRLF> Exception: Attached file not found or access denied.");
    EXPECT_EQ(SMTPReplyText(554), "Versand fehlgeschlagen");
    for (int unknown : {0, 200, 220, 600, 555})
        EXPECT_EQ(SMTPReplyText(unknown), QString()) << unknown;
}

// --- The dialog -----------------------------------------------------------------------------------

class ReplyDialog : public ::testing::Test {
protected:
    ReplyDialog()
    {
        settings.Settings.Accounts = {
            account("pop.example.org", "anna", "anna@example.org"),
            account("pop.example.org", "nosender", ""),
            account("pop.example.net", "bert", "bert@example.net"),
            account("pop.example.org", "anna", "anna.zwei@example.org"), // the same login once more
        };
    }

    TestProfile profile;
    RecordingMessageBox box;
    TRegistrySettings settings;
    // The owner of the server operation of the moment, as the main window has it.
    TSpamDetector detector{settings.Settings};
    THeadlessCheckerUI checkerUI;
    TPOP3Checker checker{settings, detector, checkerUI};

    // A click on "Absenden", and the wait for the delivery (and any second one after a trust question).
    void send(TAnswerMailDlg &dlg)
    {
        dlg.SendBtn->trigger();
        EXPECT_TRUE(processEventsUntil([&] { return !checker.OperationRunning(); }, 120000));
    }
};

TEST_F(ReplyDialog, CaptionsAndSenderItems)
{
    TAnswerMailDlg dlg(settings, checker);
    EXPECT_EQ(dlg.windowTitle(), "E-Mail beantworten");
    EXPECT_EQ(dlg.SendBtn->text(), "   Absenden ");
    EXPECT_EQ(dlg.SendBtn->toolTip(), "E-Mail versenden");
    EXPECT_EQ(dlg.CancelBtn->text(), "  Abbrechen ");
    EXPECT_EQ(dlg.CancelBtn->toolTip(), "E-Mailversand abbrechen.");
    EXPECT_EQ(dlg.Pages->tabText(0), "Mail");
    EXPECT_EQ(dlg.MailBodyMemo->font().family(), "Courier New");
    EXPECT_EQ(dlg.MailBodyMemo->font().pixelSize(), 13);
    EXPECT_GE(dlg.MailBodyMemo->minimumWidth(), 320);
    EXPECT_GE(dlg.MailBodyMemo->minimumHeight(), 300);

    ASSERT_EQ(dlg.FromCB->count(), 3);
    const struct {
        const char *text;
        int index;
    } items[] = {{"anna@example.org   (anna@pop.example.org)", 0},
                 {"bert@example.net   (bert@pop.example.net)", 2},
                 {"anna.zwei@example.org   (anna@pop.example.org)", 0}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(dlg.FromCB->itemText(i), items[i].text);
        EXPECT_EQ(dlg.FromCB->itemData(i).toInt(), items[i].index) << "both items of one login name its first account";
    }
    EXPECT_FALSE(dlg.FromCB->isEditable());
}

TEST_F(ReplyDialog, PreparedReplyIsQuotedOnShow)
{
    const MailMessage original = parsed("From: Carla Beispiel <carla@example.com>\r\nTo: anna@example.org\r\n"
                                        "Cc: \"Doe, John\" <john@example.com>, x@example.com\r\n"
                                        "Subject: =?utf-8?q?Gr=C3=BC=C3=9Fe?=\r\n\r\nErste Zeile\r\n\r\nDritte\r\n");
    TAnswerMailDlg dlg(settings, checker);
    dlg.Prepare(original, 2);
    dlg.show();
    EXPECT_EQ(dlg.SubjectEdit->text(), "Re: Grüße");
    EXPECT_EQ(dlg.ToEdit->text(), "carla@example.com");
    EXPECT_EQ(dlg.CcEdit->text(), "\"Doe, John\" <john@example.com>, x@example.com");
    EXPECT_EQ(dlg.FromCB->currentIndex(), 1) << "the item of the message's account";
    EXPECT_TRUE(dlg.SendBtn->isEnabled());
    EXPECT_EQ(dlg.MailBodyMemo->toPlainText(), "> Erste Zeile\n> \n> Dritte");
    EXPECT_EQ(dlg.MailBodyMemo->textCursor().position(), 0);
    EXPECT_FALSE(dlg.MailBodyMemo->textCursor().hasSelection());

    // Shown again (after being hidden) it is not quoted twice.
    dlg.hide();
    dlg.show();
    EXPECT_EQ(dlg.MailBodyMemo->toPlainText(), "> Erste Zeile\n> \n> Dritte");
}

TEST_F(ReplyDialog, EmptyBodyAndUnknownAccountStillOpen)
{
    TAnswerMailDlg dlg(settings, checker);
    dlg.Prepare(parsed("From: a@b.de\r\nSubject: leer\r\n\r\n"), 1); // the account without sender address
    dlg.show();
    EXPECT_EQ(dlg.MailBodyMemo->toPlainText(), "");
    EXPECT_EQ(dlg.FromCB->currentIndex(), 0) << "no item of its own: the first is chosen";
    EXPECT_TRUE(dlg.SendBtn->isEnabled());
}

TEST_F(ReplyDialog, NoSenderNoSending)
{
    settings.Settings.Accounts = {account("pop.example.org", "nosender", "")};
    TAnswerMailDlg dlg(settings, checker);
    dlg.Prepare(parsed("From: a@b.de\r\nSubject: x\r\n\r\ny\r\n"), 0);
    dlg.show();
    EXPECT_EQ(dlg.FromCB->count(), 0);
    EXPECT_FALSE(dlg.SendBtn->isEnabled());
    send(dlg);
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST_F(ReplyDialog, EnterMovesToTheNextField)
{
    TAnswerMailDlg dlg(settings, checker);
    dlg.show();
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    const QList<QWidget *> order{dlg.FromCB, dlg.ToEdit, dlg.CcEdit, dlg.SubjectEdit, dlg.MailBodyMemo};
    for (qsizetype i = 0; i + 1 < order.size(); ++i) {
        order[i]->setFocus();
        ASSERT_TRUE(order[i]->hasFocus());
        QTest::keyClick(order[i], Qt::Key_Return);
        EXPECT_TRUE(order[i + 1]->hasFocus()) << "after field " << i;
    }
    dlg.ToEdit->setText("kept");
    dlg.ToEdit->setFocus();
    QTest::keyClick(dlg.ToEdit, Qt::Key_Enter);
    EXPECT_EQ(dlg.ToEdit->text(), "kept");
    EXPECT_TRUE(dlg.isVisible()) << "Enter never closes the dialog";
}

TEST_F(ReplyDialog, BodyIsLimitedToTwoMillionCharacters)
{
    TAnswerMailDlg dlg(settings, checker);
    QString text = (QString(99, QLatin1Char('a')) + QLatin1Char('\n')).repeated(kMaxReplyBodyChars / 100);
    text.chop(5); // five characters below the limit, ending in "a"
    dlg.MailBodyMemo->setPlainText(text);
    ASSERT_EQ(dlg.MailBodyMemo->toPlainText().size(), kMaxReplyBodyChars - 5);
    dlg.MailBodyMemo->moveCursor(QTextCursor::End);
    dlg.MailBodyMemo->insertPlainText(QStringLiteral("0123456789"));
    EXPECT_EQ(dlg.MailBodyMemo->toPlainText().size(), kMaxReplyBodyChars);
    EXPECT_TRUE(dlg.MailBodyMemo->toPlainText().endsWith("a01234"));
}

TEST_F(ReplyDialog, PlacementIsKeptUnderItsOwnSection)
{
    {
        TAnswerMailDlg dlg(settings, checker);
        dlg.show();
        dlg.setGeometry(60, 30, 520, 540);
    }
    TTheRegIniFile reg;
    reg.Area = kProgramKey;
    reg.Section = QStringLiteral("ReplyMailWindowPosition");
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("Width"), -1), 520);
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("Height"), -1), 540);
    TAnswerMailDlg again(settings, checker);
    EXPECT_EQ(again.size(), QSize(520, 540));
}

// --- Sending --------------------------------------------------------------------------------------

class ReplySending : public ReplyDialog {
protected:
    void start(const SmtpTestServer::Options &options = {})
    {
        server = std::make_unique<SmtpTestServer>(options);
        QString why;
        ASSERT_TRUE(server->start(&why)) << why.toStdString();
        for (TPOP3AccountSettings &a : settings.Settings.Accounts) {
            a.SMTPServer = server->host();
            a.SMTPPort = server->port();
        }
    }
    void prepare(TAnswerMailDlg &dlg)
    {
        dlg.Prepare(parsed("From: Carla <carla@example.com>\r\nSubject: Frage\r\n\r\nWie geht's?\r\n"), 2);
        dlg.show();
    }
    std::unique_ptr<SmtpTestServer> server;
};

TEST_F(ReplySending, SentReplyCarriesQuoteAndSignatureAndClosesTheDialog)
{
    start();
    TAnswerMailDlg dlg(settings, checker);
    prepare(dlg);
    dlg.MailBodyMemo->appendPlainText(QStringLiteral("Gut, danke – bis Dienstag."));
    send(dlg);

    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown[0].text, "Die Nachricht wurde erfolgreich versendet.");
    EXPECT_EQ(box.shown[0].kind, MsgInformation);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the hourglass is gone";

    ASSERT_EQ(server->messages().size(), 1);
    const SmtpTestServer::Message got = server->messages().value(0);
    EXPECT_EQ(got.from, "bert@example.net");
    EXPECT_EQ(got.recipients, QStringList({"carla@example.com"}));
    MailMessage sent;
    ASSERT_TRUE(sent.FillFromRaw(got.data));
    EXPECT_EQ(sent.Subject, "Re: Frage");
    EXPECT_EQ(sent.Body, QStringList({"> Wie geht's?", "Gut, danke – bis Dienstag.", "", kSignatureLine}));
    EXPECT_EQ(sent.HeaderValue("X-Mailer"), "Quarvel 2.20");
}

TEST_F(ReplySending, RefusalShowsTheErrorAndKeepsEverything)
{
    SmtpTestServer::Options options;
    options.rejectRecipients = {QStringLiteral("carla@example.com")};
    start(options);
    TAnswerMailDlg dlg(settings, checker);
    prepare(dlg);
    send(dlg);

    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown[0].kind, MsgError);
    EXPECT_EQ(box.shown[0].caption, "Fehler");
    EXPECT_EQ(box.shown[0].text, "Beim Versenden der E-Mail ist ein Fehler 550 5.1.1 <carla@example.com>: Recipient "
                                 "address rejected Mailbox nicht vorhanden. aufgetreten.");
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.ToEdit->text(), "carla@example.com");
    EXPECT_EQ(dlg.MailBodyMemo->toPlainText(), "> Wie geht's?");
    EXPECT_TRUE(dlg.SendBtn->isEnabled());

    // Corrected, the same dialog sends.
    dlg.ToEdit->setText(QStringLiteral("Carla <carla@example.net>"));
    send(dlg);
    EXPECT_EQ(box.shown.last().text, "Die Nachricht wurde erfolgreich versendet.");
    ASSERT_EQ(server->messages().size(), 1);
    EXPECT_EQ(server->messages()[0].recipients, QStringList({"carla@example.net"}));
}

TEST_F(ReplySending, DirectModeWithoutExchangerIsError600)
{
    TAnswerMailDlg dlg(settings, checker); // no SMTP server: direct mode
    dlg.Sender().DNSServers = [] { return QList<TDNSServerAddress>(); };
    prepare(dlg);
    send(dlg);
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown[0].text, "Beim Versenden der E-Mail ist ein Fehler 600  No MX-entry found.  aufgetreten.");
    EXPECT_TRUE(dlg.isVisible());
}

TEST_F(ReplySending, CancelDuringTheWaitEndsTheDeliveryAndTheDialog)
{
    // A server that accepts the connection and never greets: the send waits for it.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    for (TPOP3AccountSettings &a : settings.Settings.Accounts) {
        a.SMTPServer = QStringLiteral("127.0.0.1");
        a.SMTPPort = silent.serverPort();
    }
    TAnswerMailDlg dlg(settings, checker);
    prepare(dlg);
    QTimer::singleShot(200, &dlg, [&dlg] {
        EXPECT_TRUE(dlg.Sending());
        EXPECT_FALSE(dlg.SendBtn->isEnabled());
        dlg.close(); // refused while sending
        EXPECT_TRUE(dlg.isVisible());
        dlg.CancelBtn->trigger();
    });
    QElapsedTimer clock;
    clock.start();
    send(dlg);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_TRUE(box.shown.isEmpty()) << box.shown.value(0).text.toStdString();
}

TEST_F(ReplySending, NoSendingWhileAnotherServerOperationRunsAndTheEndOfTheProgramEndsADelivery)
{
    start();
    TAnswerMailDlg dlg(settings, checker);
    prepare(dlg);
    {
        TServerOperation fetch(checker, TServerOperationKind::TextFetch);
        ASSERT_TRUE(fetch);
        EXPECT_FALSE(dlg.SendBtn->isEnabled());
        dlg.SendBtnClick(); // a click that slipped through
        ASSERT_EQ(box.shown.size(), 1);
        EXPECT_EQ(box.shown[0].text, TPOP3Checker::BusyText());
    }
    EXPECT_TRUE(dlg.SendBtn->isEnabled());
    EXPECT_TRUE(server->messages().isEmpty());

    // "Quarvel beenden" while the reply waits for a server that never greets.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    for (TPOP3AccountSettings &a : settings.Settings.Accounts)
        a.SMTPPort = silent.serverPort();
    QTimer::singleShot(200, &dlg, [this] {
        EXPECT_EQ(checker.CurrentOperation(), TServerOperationKind::SendMail);
        checker.AbortForQuit();
    });
    QElapsedTimer clock;
    clock.start();
    send(dlg);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_FALSE(checker.OperationRunning());
}

// --- A certificate the outgoing server's handshake refused ------------------------------------------

class ReplyTls : public ReplySending {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(certificates.selfSigned(QStringLiteral("Outgoing"), {QStringLiteral("IP:127.0.0.1")}, &first, &error)
                    && certificates.selfSigned(QStringLiteral("Replaced"), {QStringLiteral("IP:127.0.0.1")}, &second,
                                               &error))
            << error.toStdString();
    }

    // Every account sends through a receiver that demands STARTTLS with certificate; stored, as the
    // program keeps them, so that a trust can be stored with the account.
    void startTls(const TestCertificate &certificate)
    {
        SmtpTestServer::Options options;
        options.tls = QStringLiteral("starttls");
        options.certificateFile = certificate.CertificateFile;
        options.keyFile = certificate.KeyFile;
        start(options);
        for (TPOP3AccountSettings &a : settings.Settings.Accounts)
            a.SMTPSecurity = csStartTLS;
        ASSERT_TRUE(settings.SavePOP3Settings(settings.Settings.POP3Check, settings.Settings.Accounts));
        checker.ReloadConfig();
    }

    // Answers the certificate question whenever it is asked, remembering what it showed.
    void answerTrustQuestions(QObject *owner, bool trust)
    {
        auto *poll = new QTimer(owner);
        QObject::connect(poll, &QTimer::timeout, poll, [this, trust] {
            if (auto *dialog = qobject_cast<TCertificateTrustDialog *>(QApplication::activeModalWidget())) {
                questions << dialog->Text();
                (trust ? dialog->TrustButton() : dialog->CancelButton())->click();
            }
        });
        poll->start(20);
    }

    TestCertificates certificates;
    TestCertificate first, second;
    QStringList questions;
};

TEST_F(ReplyTls, DeclinedCertificateIsTheSendError)
{
    startTls(first);
    TAnswerMailDlg dlg(settings, checker);
    answerTrustQuestions(&dlg, false);
    prepare(dlg);
    send(dlg);

    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].contains(QStringLiteral("des Kontos bert@pop.example.net"))) << questions[0].toStdString();
    EXPECT_TRUE(questions[0].contains(first.Fingerprint));
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown[0].kind, MsgError);
    EXPECT_TRUE(box.shown[0].text.startsWith(QStringLiteral(
        "Beim Versenden der E-Mail ist ein Fehler 0 Das Zertifikat des Servers 127.0.0.1 wurde abgelehnt: es ist "
        "selbst signiert.")))
        << box.shown[0].text.toStdString();
    EXPECT_TRUE(box.shown[0].text.contains(first.Fingerprint));
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(dlg.SendBtn->isEnabled());
    EXPECT_TRUE(server->messages().isEmpty());
    TRegistrySettings reread;
    reread.Load();
    EXPECT_TRUE(reread.Settings.Accounts.at(2).SMTPCertSHA256.isEmpty());
}

TEST_F(ReplyTls, TrustedCertificateIsStoredWithTheAccountAndTheReplyGoesAtOnce)
{
    startTls(first);
    {
        TAnswerMailDlg dlg(settings, checker);
        answerTrustQuestions(&dlg, true);
        prepare(dlg);
        send(dlg);

        ASSERT_EQ(questions.size(), 1);
        ASSERT_EQ(box.shown.size(), 1);
        EXPECT_EQ(box.shown[0].text, "Die Nachricht wurde erfolgreich versendet.");
        EXPECT_FALSE(dlg.isVisible());
        ASSERT_EQ(server->messages().size(), 1);
        EXPECT_TRUE(server->messages()[0].encrypted);
    }
    // Kept for this account's outgoing server, in the store and in both of the program's copies.
    TRegistrySettings reread;
    reread.Load();
    EXPECT_EQ(reread.Settings.Accounts.at(2).SMTPCertSHA256, first.Fingerprint);
    EXPECT_TRUE(reread.Settings.Accounts.at(2).POP3CertSHA256.isEmpty());
    EXPECT_TRUE(reread.Settings.Accounts.at(0).SMTPCertSHA256.isEmpty()) << "only the sending account trusts it";
    EXPECT_EQ(settings.Settings.Accounts.at(2).SMTPCertSHA256, first.Fingerprint);
    EXPECT_EQ(checker.Accounts.at(2).SMTPCertSHA256, first.Fingerprint);

    // The next reply asks nothing.
    box.shown.clear();
    {
        TAnswerMailDlg dlg(settings, checker);
        answerTrustQuestions(&dlg, false);
        prepare(dlg);
        send(dlg);
        EXPECT_EQ(questions.size(), 1);
        ASSERT_EQ(box.shown.size(), 1);
        EXPECT_EQ(box.shown[0].text, "Die Nachricht wurde erfolgreich versendet.");
    }
    // A replaced certificate is refused and asked about again.
    box.shown.clear();
    startTls(second);
    ASSERT_EQ(settings.Settings.Accounts.at(2).SMTPCertSHA256, first.Fingerprint);
    TAnswerMailDlg dlg(settings, checker);
    answerTrustQuestions(&dlg, false);
    prepare(dlg);
    send(dlg);
    ASSERT_EQ(questions.size(), 2);
    EXPECT_TRUE(questions[1].contains(second.Fingerprint));
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_TRUE(box.shown[0].text.contains(second.Fingerprint)) << box.shown[0].text.toStdString();
    EXPECT_TRUE(server->messages().isEmpty());
}

} // namespace
