#include "AnswerMailDlgUnit.h"

#include "CertificateTrustDialog.h"
#include "MsgBox.h"
#include "POP3Check.h"
#include "RegistrySettingsUnit.h"
#include "SMTPUnit.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTextCursor>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {

struct ReplyCode {
    int code;
    const char *text;
};

// UTF-8 literals: several carry umlauts.
constexpr ReplyCode kReplyTexts[] = {
    {211, "System status, or system help reply."},
    {221, "Unerwartetes Beenden der Verbindung"},
    {250, "Mail versendet."},
    {251, "Benutzer lokal nicht eingerichtet, wird weitergeleitet"},
    {252, "Verifizierung des Nutzer nicht möglich, Mail wird aber trotzdem angenommen."},
    {253, "OK, messages pending messages for node node started."},
    {354, "Start mail input; end with <CRLF>.<CRLF> Exception: Attached file not found or access denied."},
    {355, "Octet-offset is the transaction offset."},
    {421, "DNS Service gerade nicht verfügbar!"},
    {432, "A password transition is needed"},
    {450, "Mailbox gerade nicht aufrufbar."},
    {451, "Festplatte des Servers voll"},
    {452, "Mailbox voll."},
    {454, "Temporäres Problem bei Authentifizierung"},
    {500, "Syntax error, command unrecognized [This may include errors such as command line too long]"},
    {501, "Syntax-Fehler in Parametern oder Argumenten"},
    {502, "Befehl nicht implementiert!"},
    {503, "Falsche Kommandoreihenfolge!"},
    {504, "Kommando nicht implementiert"},
    {521, "Server akzeptiert keine Mail."},
    {530, "Authentifizierung für den Mailversand erforderlich!"},
    {534, "Authentication mechanism is too weak"},
    {535, "SMTP Benutzername oder Passwort für den Mailversand falsch."},
    {538, "Encryption required for requested authentication mechanism"},
    {550, "Mailbox nicht vorhanden."},
    {551, "Benutzer lokal nicht eingerichtet."},
    {552, "Mailbox voll!"},
    {553, "Mail kann nicht versendet werden, z.B. Syntaxfehler in der E-Mail Adresse"},
    {554, "Versand fehlgeschlagen"},
};

// A display name that a reader of the address list would take apart needs quotes.
QString displayName(const QString &name)
{
    static const QString special = QStringLiteral("()<>[]:;@\\,.\"");
    if (!std::any_of(name.begin(), name.end(), [](QChar c) { return special.contains(c); }))
        return name;
    QString quoted = name;
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QStringList editorLines(const QPlainTextEdit *editor)
{
    const QString text = editor->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

} // namespace

QString SMTPReplyText(int code)
{
    for (const ReplyCode &r : kReplyTexts)
        if (r.code == code)
            return QString::fromUtf8(r.text);
    return QString();
}

QString ReplySubject(const QString &subject)
{
    return subject.startsWith(QLatin1String("Re:")) ? subject : QStringLiteral("Re: ") + subject;
}

QStringList ReplyBodyLines(const MailMessage &message)
{
    if (!message.Body.join(QLatin1Char('\n')).trimmed().isEmpty())
        return message.Body;
    QStringList lines;
    for (const TMailPart &part : message.Parts)
        if (part.IsText)
            lines += part.Body;
    return lines;
}

QString AddressListText(const QList<TMailAddress> &addresses)
{
    QStringList items;
    for (const TMailAddress &a : addresses)
        items.append(a.Name.isEmpty() ? a.Address
                                      : displayName(a.Name) + QStringLiteral(" <") + a.Address + QLatin1Char('>'));
    return items.join(QStringLiteral(", "));
}

QString FromItemText(const TPOP3AccountSettings &account)
{
    return account.SMTPEMailAddress + QStringLiteral("   (") + account.AccountName + QLatin1Char('@')
           + account.ServerName + QLatin1Char(')');
}

QString SendErrorText(const QString &error)
{
    qsizetype digits = 0;
    while (digits < error.size() && error.at(digits) >= QLatin1Char('0') && error.at(digits) <= QLatin1Char('9'))
        ++digits;
    QString detail = error;
    if (digits > 0)
        detail += QLatin1Char(' ') + SMTPReplyText(error.left(std::min<qsizetype>(digits, 9)).toInt());
    return QStringLiteral("Beim Versenden der E-Mail ist ein Fehler %1 aufgetreten.").arg(detail);
}

TAnswerMailDlg::TAnswerMailDlg(TRegistrySettings &settings, TPOP3Checker &operations, QWidget *parent)
    : QDialog(parent), m_settings(settings), m_operations(operations), m_sender(std::make_shared<TSMTPSendClass>()),
      m_placement(this)
{
    // No sending while another server operation runs; the end of the program ends a delivery at once.
    connect(&m_operations, &TPOP3Checker::OperationChanged, this, [this] { updateSendButton(); });
    connect(&m_operations, &TPOP3Checker::QuitRequestedSignal, this, [this] {
        if (m_sending)
            CancelBtnClick();
    });
    setWindowTitle(kAnswerCaption);

    auto *tools = new QToolBar(this);
    tools->setToolButtonStyle(Qt::ToolButtonTextOnly);
    SendBtn = tools->addAction(QStringLiteral("   Absenden "));
    SendBtn->setToolTip(QStringLiteral("E-Mail versenden"));
    CancelBtn = tools->addAction(QStringLiteral("  Abbrechen "));
    CancelBtn->setToolTip(QStringLiteral("E-Mailversand abbrechen."));
    connect(SendBtn, &QAction::triggered, this, &TAnswerMailDlg::SendBtnClick);
    connect(CancelBtn, &QAction::triggered, this, &TAnswerMailDlg::CancelBtnClick);

    Pages = new QTabWidget(this);
    auto *mailPage = new QWidget(Pages);
    auto *form = new QFormLayout(mailPage);
    FromCB = new QComboBox(mailPage);
    ToEdit = new QLineEdit(mailPage);
    CcEdit = new QLineEdit(mailPage);
    SubjectEdit = new QLineEdit(mailPage);
    form->addRow(QStringLiteral("Von:"), FromCB);
    form->addRow(QStringLiteral("An:"), ToEdit);
    form->addRow(QStringLiteral("Cc:"), CcEdit);
    form->addRow(QStringLiteral("Betreff:"), SubjectEdit);
    Pages->addTab(mailPage, QStringLiteral("Mail"));

    MailBodyMemo = new QPlainTextEdit(this);
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(13);
    MailBodyMemo->setFont(font);
    MailBodyMemo->setMinimumSize(320, 300);
    connect(MailBodyMemo->document(), &QTextDocument::contentsChange, this,
            [this](int position, int, int added) { limitBodyLength(position, added); });

    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(tools);
    layout->addWidget(Pages);
    layout->addWidget(MailBodyMemo, 1);

    // One item per account with a sender address; each names the first account of its server and login.
    const TPOP3Accounts &accounts = m_settings.Settings.Accounts;
    for (const TPOP3AccountSettings &account : accounts)
        if (!account.SMTPEMailAddress.isEmpty())
            FromCB->addItem(FromItemText(account), m_settings.FindAccount(account.ServerName, account.AccountName));
    FromCB->setCurrentIndex(-1);
    connect(FromCB, &QComboBox::currentIndexChanged, this, [this] { updateSendButton(); });
    updateSendButton();

    for (QWidget *w : std::initializer_list<QWidget *>{FromCB, ToEdit, CcEdit, SubjectEdit})
        w->installEventFilter(this);

    m_placement.InifileName = kProgramKey;
    m_placement.SectionName = QStringLiteral("ReplyMailWindowPosition");
    m_placement.AllowMaximized = true;
    m_placement.RestorePlacement();
}

TAnswerMailDlg::~TAnswerMailDlg()
{
    // A delivery still under way (the program is ending) gives up; its job keeps the sender alive.
    if (m_sending)
        m_sender->Abort();
    m_placement.SavePlacement();
}

void TAnswerMailDlg::Prepare(const MailMessage &message, int accountIndex)
{
    SubjectEdit->setText(ReplySubject(message.Subject));
    MailBodyMemo->setPlainText(ReplyBodyLines(message).join(QLatin1Char('\n')));
    const int item = FromCB->findData(accountIndex);
    if (item >= 0)
        FromCB->setCurrentIndex(item);
    ToEdit->setText(message.From.Address);
    CcEdit->setText(AddressListText(message.Cc));
}

void TAnswerMailDlg::updateSendButton()
{
    SendBtn->setEnabled(FromCB->currentIndex() >= 0 && !m_sending && !m_operations.OperationRunning());
}

void TAnswerMailDlg::limitBodyLength(int position, int added)
{
    const int excess = MailBodyMemo->document()->characterCount() - 1 - kMaxReplyBodyChars;
    if (excess <= 0 || added <= 0)
        return;
    // What went beyond the limit is dropped from the end of the text just put in.
    QTextCursor cursor(MailBodyMemo->document());
    const int end = position + added;
    cursor.setPosition(std::max(position, end - excess));
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

void TAnswerMailDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_quoted) {
        m_quoted = true;
        QStringList lines = editorLines(MailBodyMemo);
        for (QString &line : lines)
            line.prepend(QStringLiteral("> "));
        MailBodyMemo->setPlainText(lines.join(QLatin1Char('\n')));
    }
    if (FromCB->currentIndex() < 0 && FromCB->count() > 0)
        FromCB->setCurrentIndex(0);
    updateSendButton();
    MailBodyMemo->moveCursor(QTextCursor::Start);
}

bool TAnswerMailDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            focusNextChild();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

MailMessage TAnswerMailDlg::composeReply(const TPOP3AccountSettings &account) const
{
    // A new message: nothing of the received one travels with it.
    MailMessage reply;
    reply.Clear();
    reply.From.Address = account.SMTPEMailAddress;
    reply.Recipients.append(TMailAddress{QString(), ToEdit->text()});
    if (!CcEdit->text().isEmpty())
        reply.Cc.append(TMailAddress{QString(), CcEdit->text()});
    reply.Subject = SubjectEdit->text();
    reply.Body = editorLines(MailBodyMemo);
    reply.Body << QString() << kSignatureLine;
    return reply;
}

bool TAnswerMailDlg::startSend(const TPOP3AccountSettings &account, bool afterTrust)
{
    // The operation ends with the delivery, before any question or result box.
    if (!m_operations.BeginOperation(TServerOperationKind::SendMail))
        return false;
    m_sending = true;
    m_cancelRequested = false;
    updateSendButton();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct Outcome {
        bool Sent = false;
        QString Error;
    };
    auto outcome = std::make_shared<Outcome>();
    std::shared_ptr<TSMTPSendClass> sender = m_sender;
    sender->Account = account;
    // The delivery and its name lookups wait on the worker's thread, never in this window.
    m_operations.RunJob(
        [sender, message = composeReply(account), outcome](TPop3Thread &worker) {
            worker.SetJobAbort([sender] { sender->Abort(); });
            outcome->Sent = sender->SendMail(message, outcome->Error);
        },
        [self = QPointer<TAnswerMailDlg>(this), operations = &m_operations, outcome, account, afterTrust] {
            operations->EndOperation();
            if (self)
                self->sendFinished(account, afterTrust, outcome->Sent, outcome->Error);
        });
    return true;
}

void TAnswerMailDlg::sendFinished(TPOP3AccountSettings account, bool afterTrust, bool sent, const QString &error)
{
    QApplication::restoreOverrideCursor();
    m_sending = false;
    updateSendButton();
    if (m_cancelRequested || m_operations.QuitRequested()) {
        QDialog::reject();
        return;
    }
    if (sent) {
        InfoBox(QStringLiteral("Die Nachricht wurde erfolgreich versendet."));
        accept();
        return;
    }
    // A certificate refused before anything was sent: once the user trusts it, the reply goes at once,
    // as it was asked to. Asked once per click, so a server that shows a new certificate each time cannot
    // keep the user in a loop of questions.
    if (!afterTrust && trustRefusedCertificate(account) && startSend(account, true))
        return;
    // The dialog stays as it is, so the user can correct and send again.
    ErrorBox(SendErrorText(error));
}

bool TAnswerMailDlg::trustRefusedCertificate(TPOP3AccountSettings &account)
{
    const CertificateProblem refused = m_sender->RefusedCertificate();
    if (!refused.CanBeTrusted()
        || !AskTrustCertificate(this, account.AccountName + QLatin1Char('@') + account.ServerName, refused))
        return false;
    // This send uses the trust even when it cannot be kept for the next ones.
    account.SMTPCertSHA256 = certificateFingerprint(refused.Certificate);
    if (!m_operations.StoreTrustedCertificate(account, true, refused.Certificate))
        ErrorBox(TPOP3Checker::CertificateNotStoredText(account));
    return true;
}

void TAnswerMailDlg::SendBtnClick()
{
    const TPOP3Accounts &accounts = m_settings.Settings.Accounts;
    const int index = FromCB->currentIndex() >= 0 ? FromCB->currentData().toInt() : -1;
    if (m_sending || index < 0 || index >= accounts.size())
        return;
    if (!startSend(accounts.at(index), false))
        ErrorBox(TPOP3Checker::BusyText());
}

void TAnswerMailDlg::CancelBtnClick()
{
    if (m_sending) {
        // The delivery gives up on the worker; the dialog closes when it has.
        m_cancelRequested = true;
        m_operations.CancelOperation();
        return;
    }
    QDialog::reject();
}

void TAnswerMailDlg::reject()
{
    // Escape and the close button never pull the dialog from under a delivery in progress.
    if (!m_sending)
        QDialog::reject();
}

void TAnswerMailDlg::closeEvent(QCloseEvent *event)
{
    if (m_sending) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
