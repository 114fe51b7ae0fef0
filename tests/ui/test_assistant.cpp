// The new-account assistant on the offscreen platform: its pages and texts, the provider list read from a
// provider file made here, the page checks, declining it, and through the mailbox list dialog the account
// it makes, down to what the settings store holds after "Speichern".
#include "AccountDialogsFixture.h"
#include "CheckBoxGrid.h"
#include "DovecotSuite.h"
#include "EventWait.h"
#include "FakeLineSocket.h"
#include "ImportTestUtil.h"
#include "JobWaitDialog.h"
#include "NewPOP3AccountAssistentDlgUnit.h"
#include "POP3Check.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTemporaryDir>

#include <functional>

namespace {

const QByteArray kProviders = "; Anbieter zum Test\r\n"
                              "[ProviderIndex]\r\n"
                              "1=zeta mail\r\n"
                              "2=Alpha\r\n"
                              "3=IMAP-Dienst\r\n"
                              "4=Sicher\r\n"
                              "5=Wort\r\n"
                              "6=Ausgang\r\n"
                              "[zeta mail]\r\nPOP3Server=pop.zeta.de\r\n"
                              "[Alpha]\r\nAccountName=E-Mail-Adresse\r\nAccountPasswort=Passwort\r\nAccountType=0\r\n"
                              "POP3Server= pop.alpha.de \r\nSMTPServer=smtp.alpha.de\r\nSMTPAuth=1\r\n"
                              "[IMAP-Dienst]\r\nAccountType=2\r\nPOP3Server=imap.x.de\r\n"
                              "[Sicher]\r\nAccountName=Kundennummer\r\nAccountPasswort=Kennwort\r\nPOP3Server=pop.sicher.de\r\n"
                              "SMTPServer=smtp.sicher.de\r\nSMTPAuth=1\r\nInboxSSL=1\r\nOutboxSSL=1\r\nPOP3Port=995\r\nSMTPPort=587\r\n"
                              "IMAPServer=imap.sicher.de\r\nIMAPSSL=1\r\n"
                              "[Wort]\r\nPOP3Server=pop.wort.de\r\nSMTPAuth=ja\r\n"
                              "[Ausgang]\r\nPOP3Server=pop.aus.de\r\nSMTPServer=smtp.aus.de\r\nOutboxSSL=1\r\n";

// The POP3 account the provider "Sicher" makes for the address kunde@sicher.de: TLS on both servers.
TPOP3AccountSettings sicherAccount(const QString &login, const QString &password)
{
    TPOP3AccountSettings a;
    a.ServerName = QStringLiteral("pop.sicher.de");
    a.Port = 995;
    a.POP3Security = csSSLTLS;
    a.AccountName = login;
    a.Password = password;
    a.UseProviderSMTP = true;
    a.SMTPServer = QStringLiteral("smtp.sicher.de");
    a.SMTPPort = 587;
    a.SMTPSecurity = csStartTLS;
    a.SMTPEMailAddress = QStringLiteral("kunde@sicher.de");
    a.SMTPAuth = true;
    a.SMTPAccountName = login;
    a.SMTPPassword = password;
    return a;
}

class AssistantTest : public AccountDialogsTest {
protected:
    void SetUp() override { writeProviders(kProviders); }
    void writeProviders(const QByteArray &content) { writeFile(providerFile(), content); }
    QString providerFile() const { return files.filePath(QStringLiteral("EProv.ini")); }
    std::unique_ptr<TNewPOP3AccountAssistentDlg> assistant()
    {
        return std::make_unique<TNewPOP3AccountAssistentDlg>(providerFile());
    }
    static void choose(TNewPOP3AccountAssistentDlg &a, const QString &provider)
    {
        const int index = a.ProvidersCB->findText(provider);
        ASSERT_GE(index, 0) << provider.toStdString();
        a.ProvidersCB->setCurrentIndex(index);
    }
    // Walks from the start page to the last one with these entries; the provider's servers stay.
    static void fillAndFinish(TNewPOP3AccountAssistentDlg &a, const QString &provider, const QString &address,
                              const QString &login, const QString &password)
    {
        a.NextBtn->click();
        choose(a, provider);
        a.EMailAddressEdit->setText(address);
        a.NextBtn->click();
        a.NextBtn->click();
        a.AccountNameEdit->setText(login);
        a.PasswordEdit->setText(password);
        a.NextBtn->click();
        ASSERT_EQ(a.CurrentPage(), TNewPOP3AccountAssistentDlg::pgFinish);
        a.NextBtn->click();
    }

    QTemporaryDir files;
};

TEST_F(AssistantTest, ItOpensOnItsStartPageWithItsTexts)
{
    auto dlg = assistant();
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Assistent zum Einrichten von Postfächern"));
    ASSERT_EQ(dlg->Notebook->count(), 5);
    EXPECT_EQ(dlg->CurrentPage(), TNewPOP3AccountAssistentDlg::pgStart);
    EXPECT_FALSE(dlg->PrevBtn->isEnabled());
    EXPECT_TRUE(dlg->NextBtn->isEnabled());
    EXPECT_EQ(dlg->PrevBtn->text(), QStringLiteral("< &Zurück"));
    EXPECT_EQ(dlg->NextBtn->text(), QStringLiteral("&Weiter >"));
    EXPECT_EQ(dlg->CancelBtn->text(), QStringLiteral("Abbrechen"));
    EXPECT_EQ(dlg->CheckBox2->text(), QStringLiteral(" Ich möchte diesen Assistenten nicht verwenden."));
    EXPECT_EQ(comboItems(dlg->AccountTypeCB),
              (QStringList{QStringLiteral("POP3"), QStringLiteral("AOL"), QStringLiteral("HTTP-Mail"), QStringLiteral("IMAP")}));
    EXPECT_EQ(dlg->SMTPServerText->text(),
              QStringLiteral("Ein SMTP-Server wird für den Postausgang benötigt. Lassen Sie die Angabe leer damit Quarvel "
                             "den eingebauten SMTP-Server verwendet."));
    EXPECT_EQ(dlg->SMTPAuthChkBox->text(), QStringLiteral("SMTP-Authentifizierung notwendig."));
    EXPECT_EQ(dlg->PasswordEdit->echoMode(), QLineEdit::Password);

    // The white header: the bold title, its line and the program's icon.
    const QList<QLabel *> labels = dlg->findChildren<QLabel *>();
    bool boldTitle = false, line = false, icon = false;
    for (const QLabel *l : labels) {
        boldTitle |= l->text() == QLatin1String("Ein neues Postfach einrichten") && l->font().bold();
        line |= l->text() == QStringLiteral("Zur einfachen Einrichtung von E-Mail-Konten sollten Sie diesen Assistenten verwenden.");
        icon |= !l->pixmap().isNull() && l->pixmap().deviceIndependentSize().toSize() == QSize(32, 32);
    }
    EXPECT_TRUE(boldTitle);
    EXPECT_TRUE(line);
    EXPECT_TRUE(icon);
}

TEST_F(AssistantTest, ItOffersThePop3ProvidersSortedAndFillsInWhatTheChosenOneGives)
{
    auto dlg = assistant();
    // Secured providers are offered (they become TLS accounts); other mailbox kinds are not.
    EXPECT_EQ(comboItems(dlg->ProvidersCB),
              (QStringList{QStringLiteral("Alpha"), QStringLiteral("Ausgang"), QStringLiteral("Sicher"), QStringLiteral("Wort"),
                           QStringLiteral("zeta mail"), QStringLiteral("Anderer")}));
    EXPECT_EQ(dlg->ProvidersCB->currentIndex(), 0);
    EXPECT_EQ(dlg->POP3ServerEdit->text(), QStringLiteral("pop.alpha.de"));

    const struct {
        const char *provider;
        const char *pop3, *smtp, *nameLabel, *passwordLabel;
        bool auth;
    } cases[] = {
        {"Sicher", "pop.sicher.de", "smtp.sicher.de", "Kontoname (Kundennummer):", "Kennwort (Kennwort):", true},
        {"Wort", "pop.wort.de", "", "Kontoname:", "Kennwort:", false}, // "ja" is no number: 0
        {"Anderer", "", "", "Kontoname:", "Kennwort:", false},
        {"Alpha", "pop.alpha.de", "smtp.alpha.de", "Kontoname (E-Mail-Adresse):", "Kennwort (Passwort):", true},
        {"Ausgang", "pop.aus.de", "smtp.aus.de", "Kontoname:", "Kennwort:", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.provider);
        dlg->AccountNameEdit->setText(QStringLiteral("getippt"));
        dlg->PasswordEdit->setText(QStringLiteral("geheim"));
        dlg->AccountTypeCB->setCurrentIndex(0);
        choose(*dlg, QLatin1String(c.provider));
        EXPECT_EQ(dlg->POP3ServerEdit->text(), QLatin1String(c.pop3));
        EXPECT_EQ(dlg->SMTPServerEdit->text(), QLatin1String(c.smtp));
        EXPECT_EQ(dlg->AccountNameLabel->text(), QString::fromUtf8(c.nameLabel));
        EXPECT_EQ(dlg->PasswordLabel->text(), QString::fromUtf8(c.passwordLabel));
        EXPECT_EQ(dlg->SMTPAuthChkBox->isChecked(), c.auth);
        // A new choice always empties the login.
        EXPECT_TRUE(dlg->AccountNameEdit->text().isEmpty());
        EXPECT_TRUE(dlg->PasswordEdit->text().isEmpty());
        EXPECT_EQ(dlg->AccountTypeCB->currentText(), QStringLiteral("POP3"));
    }
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST_F(AssistantTest, WithoutUsableProvidersOnlyAndererIsOffered)
{
    const struct {
        const char *name;
        QByteArray content; // empty: no file at all
    } cases[] = {
        {"no file", QByteArray()},
        {"empty file", QByteArray(" ")},
        {"an index without sections", "[ProviderIndex]\r\n1=Fehlt\r\n"},
        {"IMAP without its IMAP server", "[ProviderIndex]\r\n1=IMAP\r\n[IMAP]\r\nAccountType=3\r\nPOP3Server=imap.x.de\r\n"},
        {"other mailbox kinds", "[ProviderIndex]\r\n1=AOL\r\n[AOL]\r\nAccountType=1\r\nPOP3Server=aol.x.de\r\nIMAPServer=i.x.de\r\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(providerFile());
        if (!c.content.isEmpty())
            writeProviders(c.content);
        auto dlg = assistant();
        dlg->show();
        EXPECT_EQ(comboItems(dlg->ProvidersCB), QStringList{QStringLiteral("Anderer")});
        EXPECT_EQ(dlg->ProvidersCB->currentIndex(), 0);
        for (const QLineEdit *field : {dlg->EMailAddressEdit, dlg->POP3ServerEdit, dlg->SMTPServerEdit,
                                       dlg->AccountNameEdit, dlg->PasswordEdit})
            EXPECT_TRUE(field->text().isEmpty());
        EXPECT_EQ(dlg->AccountNameLabel->text(), QStringLiteral("Kontoname:"));
        EXPECT_EQ(dlg->PasswordLabel->text(), QStringLiteral("Kennwort:"));
        EXPECT_FALSE(dlg->SMTPAuthChkBox->isChecked());
    }
    EXPECT_TRUE(box.shown.isEmpty()) << "a missing provider file is no error";
}

TEST_F(AssistantTest, Pop3AndImapCanBeChosenAndTheIncomingServerFollowsTheType)
{
    auto dlg = assistant();
    choose(*dlg, QStringLiteral("Sicher"));
    using A = TNewPOP3AccountAssistentDlg;
    const struct Step {
        const char *name;
        std::function<void(A &)> act;
        const char *type, *server;
        bool refused; // the box saying which types can be read
    } steps[] = {
        {"AOL", [](A &a) { a.AccountTypeCB->setCurrentIndex(1); }, "POP3", "pop.sicher.de", true},
        {"HTTP-Mail", [](A &a) { a.AccountTypeCB->setCurrentIndex(2); }, "POP3", "pop.sicher.de", true},
        {"IMAP: the provider's IMAP server", [](A &a) { a.AccountTypeCB->setCurrentIndex(3); }, "IMAP", "imap.sicher.de", false},
        {"AOL from IMAP falls back to POP3", [](A &a) { a.AccountTypeCB->setCurrentIndex(1); }, "POP3", "pop.sicher.de", true},
        {"a server typed over the provider's stays",
         [](A &a) {
             a.AccountTypeCB->setCurrentIndex(3);
             a.POP3ServerEdit->setText(QStringLiteral("mail.eigen.de"));
             a.AccountTypeCB->setCurrentIndex(0);
         },
         "POP3", "mail.eigen.de", false},
        {"a provider without IMAP starts as POP3",
         [](A &a) {
             a.AccountTypeCB->setCurrentIndex(3);
             choose(a, QStringLiteral("Alpha"));
         },
         "POP3", "pop.alpha.de", false},
    };
    for (const Step &st : steps) {
        SCOPED_TRACE(st.name);
        box.shown.clear();
        st.act(*dlg);
        EXPECT_EQ(dlg->AccountTypeCB->currentText(), QLatin1String(st.type));
        EXPECT_EQ(dlg->POP3ServerEdit->text(), QLatin1String(st.server));
        if (!st.refused) {
            EXPECT_TRUE(box.shown.isEmpty());
            continue;
        }
        ASSERT_EQ(box.shown.size(), 1);
        EXPECT_EQ(box.shown.at(0).text, QStringLiteral("Quarvel kann nur POP3- und IMAP-E-Mail-Konten prüfen."));
        EXPECT_EQ(box.shown.at(0).kind, MsgError);
    }

    // A provider the file sets up as IMAP first.
    writeProviders("[ProviderIndex]\r\n1=Nur IMAP\r\n[Nur IMAP]\r\nAccountType=3\r\nIMAPServer=imap.nur.de\r\n");
    auto imapFirst = assistant();
    EXPECT_EQ(imapFirst->AccountTypeCB->currentText(), QStringLiteral("IMAP"));
    EXPECT_EQ(imapFirst->POP3ServerEdit->text(), QStringLiteral("imap.nur.de"));
}

TEST_F(AssistantTest, EachPageChecksItsFieldsBeforeTheNextAndTheLastOneFinishes)
{
    auto dlg = assistant();
    showActive(dlg.get());
    using A = TNewPOP3AccountAssistentDlg;
    const struct Step {
        const char *name;
        std::function<void(A &)> act;
        int page;                // where the assistant stands afterwards
        const char *message;     // the error box shown, if any
        QLineEdit *A::*focus;    // the field that has the focus after the box
        const char *nextCaption;
    } steps[] = {
        {"start page", [](A &a) { a.NextBtn->click(); }, A::pgProvider, nullptr, nullptr, "&Weiter >"},
        {"no address", [](A &a) { a.NextBtn->click(); }, A::pgProvider, "Bitte geben Sie Ihre E-Mail-Adresse ein!",
         &A::EMailAddressEdit, "&Weiter >"},
        {"blanks only",
         [](A &a) {
             a.EMailAddressEdit->setText(QStringLiteral("   "));
             a.NextBtn->click();
         },
         A::pgProvider, "Bitte geben Sie Ihre E-Mail-Adresse ein!", &A::EMailAddressEdit, "&Weiter >"},
        {"any address will do",
         [](A &a) {
             choose(a, QStringLiteral("Sicher"));
             a.EMailAddressEdit->setText(QStringLiteral("keine Adresse"));
             a.NextBtn->click();
         },
         A::pgServers, nullptr, nullptr, "&Weiter >"},
        {"no incoming server",
         [](A &a) {
             a.POP3ServerEdit->clear();
             a.SMTPServerEdit->clear();
             a.NextBtn->click();
         },
         A::pgServers, "Bitte geben Sie den Posteingangsserver ein!", &A::POP3ServerEdit, "&Weiter >"},
        {"no outgoing server is fine",
         [](A &a) {
             a.POP3ServerEdit->setText(QStringLiteral("pop.eigen.de"));
             a.NextBtn->click();
         },
         A::pgLogin, nullptr, nullptr, "&Weiter >"},
        {"no login name", [](A &a) { a.NextBtn->click(); }, A::pgLogin, "Bitte geben Sie den Kontonamen ein!",
         &A::AccountNameEdit, "&Weiter >"},
        {"no password",
         [](A &a) {
             a.AccountNameEdit->setText(QStringLiteral("ich"));
             a.NextBtn->click();
         },
         A::pgLogin, "Bitte geben Sie das Kennwort ein!", &A::PasswordEdit, "&Weiter >"},
        {"all given",
         [](A &a) {
             a.PasswordEdit->setText(QStringLiteral("geheim"));
             a.NextBtn->click();
         },
         A::pgFinish, nullptr, nullptr, "Fertig stellen"},
        {"back from the last page", [](A &a) { a.PrevBtn->click(); }, A::pgLogin, nullptr, nullptr, "&Weiter >"},
        {"and forward again", [](A &a) { a.NextBtn->click(); }, A::pgFinish, nullptr, nullptr, "Fertig stellen"},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.name);
        box.shown.clear();
        s.act(*dlg);
        EXPECT_EQ(dlg->CurrentPage(), s.page);
        EXPECT_EQ(dlg->NextBtn->text(), QString::fromUtf8(s.nextCaption));
        EXPECT_EQ(dlg->PrevBtn->isEnabled(), s.page != A::pgStart);
        if (!s.message) {
            EXPECT_TRUE(box.shown.isEmpty());
            continue;
        }
        ASSERT_EQ(box.shown.size(), 1);
        EXPECT_EQ(box.shown.at(0).text, QString::fromUtf8(s.message));
        EXPECT_EQ(box.shown.at(0).kind, MsgError);
        EXPECT_EQ(QApplication::focusWidget(), (*dlg).*s.focus);
    }
    EXPECT_TRUE(dlg->isVisible());
    dlg->NextBtn->click();
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_FALSE(dlg->Declined());
    const TPOP3AccountSettings a = dlg->Account();
    EXPECT_EQ(a.ServerName, QStringLiteral("pop.eigen.de"));
    EXPECT_EQ(a.AccountName, QStringLiteral("ich"));
    EXPECT_EQ(a.Password, QStringLiteral("geheim"));
    EXPECT_FALSE(a.UseProviderSMTP);
    // The provider's security stays with the server name typed over its own: no password in clear.
    EXPECT_EQ(a.Port, 995);
    EXPECT_EQ(a.POP3Security, csSSLTLS);
}

TEST_F(AssistantTest, DecliningItEndsAtOnceWithOkAndWithoutChecks)
{
    auto dlg = assistant();
    dlg->show();
    dlg->CheckBox2->setChecked(true);
    EXPECT_EQ(dlg->NextBtn->text(), QStringLiteral("Fertig stellen"));
    EXPECT_FALSE(dlg->CancelBtn->isEnabled());
    dlg->CheckBox2->setChecked(false);
    EXPECT_EQ(dlg->NextBtn->text(), QStringLiteral("&Weiter >"));
    EXPECT_TRUE(dlg->CancelBtn->isEnabled());
    dlg->CheckBox2->setChecked(true);
    dlg->NextBtn->click();
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_TRUE(dlg->Declined());
    EXPECT_EQ(dlg->CurrentPage(), TNewPOP3AccountAssistentDlg::pgStart);
    EXPECT_TRUE(box.shown.isEmpty());
}

TEST_F(AssistantTest, HinzufuegenAppendsTheAccountItMakesAndSpeichernStoresIt)
{
    start({account(QStringLiteral("alt"), QStringLiteral("pop.alt.de"))});
    auto dlg = listDialog();
    dlg->ProviderFile = providerFile();
    // The search for "Anderer" meets a server that speaks plain text only, played here: nothing is
    // refused on TLS, then a greeting without STLS. The box's answer "Ja" accepts a plain account.
    dlg->SearchPlan.SocketFactory = [calls = std::make_shared<int>(0)] {
        auto socket = std::make_unique<FakeLineSocket>();
        if ((*calls)++ == 0)
            socket->play({Refuse("Connection refused")});
        else
            socket->play({S("+OK bereit"), C("CAPA"), S("+OK"), S("USER"), S(".")});
        return socket;
    };
    TCheckBoxGrid *grid = dlg->AccountsGrid;

    // Cancelled: nothing is added.
    onNextDialog<TNewPOP3AccountAssistentDlg>([](TNewPOP3AccountAssistentDlg *a) {
        a->NextBtn->click();
        a->CancelBtn->click();
    });
    dlg->AddAccountBtn->click();
    EXPECT_EQ(grid->RowCount(), 2);

    // A provider that wants secured connections makes a TLS account with its ports.
    onNextDialog<TNewPOP3AccountAssistentDlg>([](TNewPOP3AccountAssistentDlg *a) {
        fillAndFinish(*a, QStringLiteral("Sicher"), QStringLiteral("kunde@sicher.de"), QStringLiteral("K-123"),
                      QStringLiteral("pw-sicher"));
    });
    dlg->AddAccountBtn->click();
    // "Anderer" with no outgoing server: a plain account that sends through the built-in SMTP.
    onNextDialog<TNewPOP3AccountAssistentDlg>([](TNewPOP3AccountAssistentDlg *a) {
        a->NextBtn->click();
        choose(*a, QStringLiteral("Anderer"));
        a->EMailAddressEdit->setText(QStringLiteral("ich@eigen.de"));
        a->NextBtn->click();
        a->POP3ServerEdit->setText(QStringLiteral("pop.eigen.de"));
        a->NextBtn->click();
        ASSERT_TRUE(processEventsUntil([a] { return !a->Searching(); }));
        a->AccountNameEdit->setText(QStringLiteral("ich"));
        a->PasswordEdit->setText(QStringLiteral("pw-ich"));
        a->SMTPAuthChkBox->setChecked(true);
        a->NextBtn->click();
        a->NextBtn->click();
    });
    dlg->AddAccountBtn->click();
    ASSERT_EQ(grid->RowCount(), 4);
    EXPECT_EQ(grid->Cell(0, 2), QStringLiteral("K-123@pop.sicher.de"));
    EXPECT_EQ(grid->Cell(0, 3), QStringLiteral("ich@pop.eigen.de"));
    EXPECT_TRUE(grid->GetChecked(0, 2));
    EXPECT_TRUE(grid->GetChecked(0, 3));
    // The listed provider was not searched; "Anderer" was, and asked before going plain.
    EXPECT_EQ(texts(box), QStringList{kPlainOnlyQuestion});
    dlg->SaveBtn->click();

    const TPOP3AccountSettings tls = sicherAccount(QStringLiteral("K-123"), QStringLiteral("pw-sicher"));
    TPOP3AccountSettings plain;
    plain.ServerName = QStringLiteral("pop.eigen.de");
    plain.AccountName = QStringLiteral("ich");
    plain.Password = QStringLiteral("pw-ich");
    plain.SMTPEMailAddress = QStringLiteral("ich@eigen.de");
    plain.SMTPAuth = true;
    plain.SMTPAccountName = QStringLiteral("ich");
    plain.SMTPPassword = QStringLiteral("pw-ich");
    const TPOP3Accounts expected{account(QStringLiteral("alt"), QStringLiteral("pop.alt.de")), tls, plain};
    expectStored(expected);
}

TEST_F(AssistantTest, AnImapAccountIsStoredWithTheProvidersImapSecurityAndListedAsImap)
{
    start();
    auto dlg = listDialog();
    dlg->ProviderFile = providerFile();
    onNextDialog<TNewPOP3AccountAssistentDlg>([](TNewPOP3AccountAssistentDlg *a) {
        a->NextBtn->click();
        choose(*a, QStringLiteral("Sicher"));
        a->EMailAddressEdit->setText(QStringLiteral("kunde@sicher.de"));
        a->NextBtn->click();
        a->AccountTypeCB->setCurrentIndex(3);
        a->NextBtn->click();
        a->AccountNameEdit->setText(QStringLiteral("K-9"));
        a->PasswordEdit->setText(QStringLiteral("pw-imap"));
        a->NextBtn->click();
        a->NextBtn->click();
    });
    dlg->AddAccountBtn->click();
    ASSERT_EQ(dlg->AccountsGrid->RowCount(), 2);
    EXPECT_EQ(dlg->AccountsGrid->Cell(0, 1), QStringLiteral("K-9@imap.sicher.de"));
    EXPECT_EQ(dlg->AccountsGrid->Cell(1, 1), QStringLiteral("IMAP"));
    EXPECT_TRUE(box.shown.isEmpty()) << texts(box).join(QLatin1Char('|')).toStdString();
    dlg->SaveBtn->click();

    TPOP3AccountSettings imap = sicherAccount(QStringLiteral("K-9"), QStringLiteral("pw-imap"));
    imap.AccountType = atIMAP;
    imap.ServerName = QStringLiteral("imap.sicher.de");
    imap.Port = 993;
    expectStored({imap});
}

TEST_F(AssistantTest, DecliningItFromTheListOpensTheEditorOnABlankAccount)
{
    start();
    auto dlg = listDialog();
    dlg->ProviderFile = providerFile();
    bool blank = false;
    declineNextAssistant();
    onNextDialog<TPOP3AccountsCfg>([&](TPOP3AccountsCfg *ed) {
        blank = ed->windowTitle() == QLatin1String("Neues Postfach") && ed->POP3ServerAddressEdit->text().isEmpty()
                && ed->POP3PortEdit->text() == QLatin1String("110");
        ed->reject();
    });
    dlg->AddAccountBtn->click();
    EXPECT_TRUE(blank);
    EXPECT_TRUE(dlg->AccountsGrid->IsEmpty());
}

// The search after the server page, through the list dialog, against a private Dovecot with TLS.
class AssistantSearchTest : public WithTlsDovecot<AssistantTest> {
protected:
    // Opens the assistant from the list dialog, goes to the server page with "Anderer" and the server's
    // address (and the mailbox kind of the type list), presses "Weiter" there, lets during() act while the
    // search runs, and waits for its end.
    void searchFrom(TPOP3Cfg &list, const std::function<void(TNewPOP3AccountAssistentDlg *)> &during,
                    const std::function<void(TNewPOP3AccountAssistentDlg *)> &after, int kind = pmkPOP3)
    {
        onNextDialog<TNewPOP3AccountAssistentDlg>([&](TNewPOP3AccountAssistentDlg *a) {
            a->NextBtn->click();
            choose(*a, QStringLiteral("Anderer"));
            a->EMailAddressEdit->setText(QStringLiteral("ich@example.test"));
            a->NextBtn->click();
            a->AccountTypeCB->setCurrentIndex(kind);
            a->POP3ServerEdit->setText(server->host());
            a->NextBtn->click();
            EXPECT_TRUE(a->Searching());
            if (during)
                during(a);
            EXPECT_TRUE(processEventsUntil([a] { return !a->Searching(); }, 120000));
            after(a);
        });
        list.AddAccountBtn->click();
    }

    // After a search that settled the servers: the login page, filled in, and on to the end.
    static void loginAndFinish(TNewPOP3AccountAssistentDlg *a)
    {
        EXPECT_EQ(a->CurrentPage(), TNewPOP3AccountAssistentDlg::pgLogin);
        a->AccountNameEdit->setText(QStringLiteral("ich"));
        a->PasswordEdit->setText(QStringLiteral("geheim"));
        a->NextBtn->click();
        a->NextBtn->click();
    }
};

TEST_F(AssistantSearchTest, TheServersSecurityIsFoundAndAPlainOnlyPortAsksFirst)
{
    start();
    auto list = listDialog();
    list->ProviderFile = providerFile();

    // Nobody on the first port, TLS from the first byte on the second: the account gets that one.
    const quint16 nobody = freeLoopbackPort();
    list->SearchPlan.Incoming = {{nobody, true}, {server->tlsPort(), true}, {server->port(), false}};
    QString waitText;
    searchFrom(
        *list,
        [&](TNewPOP3AccountAssistentDlg *a) {
            if (auto *wait = a->findChild<TJobWaitDialog *>())
                waitText = wait->Text();
        },
        &loginAndFinish);
    EXPECT_EQ(waitText, kSearchWaitText);
    ASSERT_EQ(list->ListedAccounts().size(), 1);
    EXPECT_EQ(list->ListedAccounts()[0].Port, server->tlsPort());
    EXPECT_EQ(list->ListedAccounts()[0].POP3Security, int32_t(csSSLTLS));
    EXPECT_TRUE(box.shown.isEmpty()) << texts(box).join(QLatin1Char('|')).toStdString();

    // Only plain text answers (TLS asked for on the POP3 port): the question, "Nein", and nothing is made.
    list->SearchPlan.Incoming = {{server->port(), true}};
    box.answer = IDNO;
    searchFrom(*list, {}, [&](TNewPOP3AccountAssistentDlg *a) {
        EXPECT_EQ(a->CurrentPage(), TNewPOP3AccountAssistentDlg::pgServers);
        a->CancelBtn->click();
    });
    EXPECT_EQ(texts(box), QStringList{kPlainOnlyQuestion});
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_TRUE(box.shown[0].buttons & BtnDefaultSecond);
    EXPECT_EQ(list->ListedAccounts().size(), 1);
}

TEST_F(AssistantSearchTest, AnImapServerIsSearchedOnTheImapPorts)
{
    start();
    auto list = listDialog();
    list->ProviderFile = providerFile();
    // The POP3 places would find TLS at once; an IMAP account must not get them.
    list->SearchPlan.Incoming = {{server->tlsPort(), true}};
    list->SearchPlan.ImapIncoming = {{freeLoopbackPort(), true}, {server->imapsPort(), true}, {server->imapPort(), false}};
    searchFrom(
        *list, {},
        &loginAndFinish,
        pmkIMAP);
    ASSERT_EQ(list->ListedAccounts().size(), 1);
    const TPOP3AccountSettings made = list->ListedAccounts()[0];
    EXPECT_EQ(made.AccountType, atIMAP);
    EXPECT_EQ(made.Port, server->imapsPort());
    EXPECT_EQ(made.POP3Security, int32_t(csSSLTLS));
    EXPECT_TRUE(box.shown.isEmpty()) << texts(box).join(QLatin1Char('|')).toStdString();
}

TEST_F(AssistantSearchTest, ASilentPortIsGivenUpAndTheWaitCanBeCancelled)
{
    start();
    auto list = listDialog();
    list->ProviderFile = providerFile();
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));

    // Given up within its limit: nothing answered, the user is told and stays on the server page.
    list->SearchPlan.Incoming = {{silent.serverPort(), true}};
    list->SearchPlan.LimitMs = 1000;
    searchFrom(*list, {}, [&](TNewPOP3AccountAssistentDlg *a) {
        EXPECT_EQ(a->CurrentPage(), TNewPOP3AccountAssistentDlg::pgServers);
        a->CancelBtn->click();
    });
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_TRUE(box.shown[0].text.startsWith(kServerNotReachedText.arg(server->host(), QString()).trimmed()));
    EXPECT_TRUE(box.shown[0].text.contains(FailureExplanation(TFailureKind::TimedOut)));

    // With the product's limit, "Abbrechen" of the wait window ends it: no box, still on the server page.
    box.shown.clear();
    list->SearchPlan.LimitMs = kProbeLimitMs;
    searchFrom(
        *list,
        [&](TNewPOP3AccountAssistentDlg *a) {
            TJobWaitDialog *wait = nullptr;
            ASSERT_TRUE(processEventsUntil([&] { return (wait = a->findChild<TJobWaitDialog *>()) != nullptr; }));
            wait->CancelButton()->click();
        },
        [&](TNewPOP3AccountAssistentDlg *a) {
            EXPECT_EQ(a->CurrentPage(), TNewPOP3AccountAssistentDlg::pgServers);
            a->CancelBtn->click();
        });
    EXPECT_TRUE(box.shown.isEmpty()) << texts(box).join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(main->Checker().OperationRunning());
    EXPECT_TRUE(list->ListedAccounts().isEmpty());
}

} // namespace
