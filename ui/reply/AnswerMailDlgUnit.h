#pragma once
// The reply dialog "E-Mail beantworten": a plain reply to a waiting message, quoted with "> ", sent by
// SMTP from one of the user's accounts with a signature line at its end.
#include "ReposApp.h"
#include "TypeDef.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <memory>

class QAction;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QTabWidget;
class TRegistrySettings;
class TPOP3Checker;
class TSMTPSendClass;

inline const QString kAnswerCaption = QStringLiteral("E-Mail beantworten");
// The product's web address, named in the signature line of every reply.
inline const QString kProductWebAddress = QStringLiteral("https://www.quarvel.de");
inline const QString kSignatureLine = QStringLiteral("**** Versendet mit Quarvel ") + kProductWebAddress;
inline constexpr int kMaxReplyBodyChars = 2000000;

// The explanation of an SMTP reply code; empty for codes it does not know.
QString SMTPReplyText(int code);
// "Re: " before the subject, unless it starts with "Re:" (exactly so, at the very start).
QString ReplySubject(const QString &subject);
// What the reply quotes: the main body's lines when it holds more than blanks, otherwise the lines of
// every text part (plain and HTML alike) one after another.
QStringList ReplyBodyLines(const MailMessage &message);
// Addresses as they are shown and typed: "Name <address>" when there is a name (quoted where the name
// would otherwise be read as more than one address), else the bare address; joined by ", ".
QString AddressListText(const QList<TMailAddress> &addresses);
// The text of a sender item: the address, three blanks, "(" account "@" server ")".
QString FromItemText(const TPOP3AccountSettings &account);
// The error box's text for a failed send. An error that starts with a reply code gets that code's
// explanation after it.
QString SendErrorText(const QString &error);

class TAnswerMailDlg : public QDialog {
    Q_OBJECT
public:
    // Lists the senders of settings' accounts and restores the placement. Sending is a server operation of
    // operations (one at a time, given up when the program ends).
    TAnswerMailDlg(TRegistrySettings &settings, TPOP3Checker &operations, QWidget *parent = nullptr);
    ~TAnswerMailDlg() override;

    // Fills subject, addresses, body and sender from the message being answered and its account index.
    void Prepare(const MailMessage &message, int accountIndex);

    // The delivery, for tests that point it at their own servers.
    TSMTPSendClass &Sender() { return *m_sender; }
    // True while a reply is being sent.
    bool Sending() const { return m_sending; }

    void SendBtnClick();
    void CancelBtnClick();

    QAction *SendBtn = nullptr;
    QAction *CancelBtn = nullptr;
    QTabWidget *Pages = nullptr;
    QComboBox *FromCB = nullptr;
    QLineEdit *ToEdit = nullptr;
    QLineEdit *CcEdit = nullptr;
    QLineEdit *SubjectEdit = nullptr;
    QPlainTextEdit *MailBodyMemo = nullptr;

    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The reply as it goes out, from the fields and the chosen account.
    MailMessage composeReply(const TPOP3AccountSettings &account) const;
    // One delivery as a server operation on the worker, with the hourglass; false when another operation
    // runs. sendFinished follows.
    bool startSend(const TPOP3AccountSettings &account, bool afterTrust);
    void sendFinished(TPOP3AccountSettings account, bool afterTrust, bool sent, const QString &error);
    // After a send refused for the outgoing server's certificate: offers to trust exactly that
    // certificate; when the user does, it is stored with the account (and set in account). True then.
    bool trustRefusedCertificate(TPOP3AccountSettings &account);
    void updateSendButton();
    void limitBodyLength(int position, int added);

    TRegistrySettings &m_settings;
    TPOP3Checker &m_operations;
    std::shared_ptr<TSMTPSendClass> m_sender; // shared with the job that delivers
    TRePosApp m_placement;
    bool m_quoted = false;
    bool m_sending = false;
    bool m_cancelRequested = false;
};
