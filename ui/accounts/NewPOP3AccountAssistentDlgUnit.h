#pragma once
// "Assistent zum Einrichten von Postfächern": five pages that lead a new user through one POP3 or IMAP
// account, with the servers of known providers filled in from the provider file. It stores nothing;
// whoever opened it takes Account() after a run that ended with OK, or opens the account editor when it
// was declined.
#include "ProviderListUnit.h"
#include "ServerSearch.h"
#include "TypeDef.h"

#include <QDialog>

#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class TPOP3Checker;

inline const QString kAssistantCaption = QStringLiteral("Assistent zum Einrichten von Postfächern");
inline const QString kOtherProvider = QStringLiteral("Anderer");
inline const QString kOnlyPop3Text = QStringLiteral("Quarvel kann nur POP3- und IMAP-E-Mail-Konten prüfen.");
inline const QString kNoAddressText = QStringLiteral("Bitte geben Sie Ihre E-Mail-Adresse ein!");
inline const QString kNoIncomingServerText = QStringLiteral("Bitte geben Sie den Posteingangsserver ein!");
inline const QString kNoLoginNameText = QStringLiteral("Bitte geben Sie den Kontonamen ein!");
inline const QString kNoLoginPasswordText = QStringLiteral("Bitte geben Sie das Kennwort ein!");
// The server search after the server page.
inline const QString kSearchWaitText = QStringLiteral("Suche die Einstellungen des Servers…");
inline const QString kPlainOnlyQuestion =
    QStringLiteral("Der Server bietet keine verschlüsselte Verbindung an. Kennwort unverschlüsselt senden?");
inline const QString kServerNotReachedText = QStringLiteral("Der Server %1 war nicht zu erreichen. %2");

class TNewPOP3AccountAssistentDlg : public QDialog {
    Q_OBJECT
public:
    enum TPage { pgStart = 0, pgProvider = 1, pgServers = 2, pgLogin = 3, pgFinish = 4 };

    // Reads the providers of this file once (a missing or unreadable one offers only "Anderer").
    explicit TNewPOP3AccountAssistentDlg(const QString &providerFile = ProviderFilePath(), QWidget *parent = nullptr);

    // " Ich möchte diesen Assistenten nicht verwenden." was ticked.
    bool Declined() const;
    // The account the entries make.
    TPOP3AccountSettings Account() const;
    int CurrentPage() const;
    // The provider chosen in the list; null for "Anderer".
    const TProviderEntry *SelectedProvider() const;

    // After the server page, the servers' port and security are searched (for "Anderer", and for a
    // provider whose server name was changed) as a server operation of operations, which must outlive
    // the assistant. Without it nothing is searched and the servers get the provider's or the plain values.
    void SetServerSearch(TPOP3Checker *operations, TServerSearchPlan plan = {});
    // True while a search runs.
    bool Searching() const { return m_searching; }

    // Handlers, named by their controls.
    void ProvidersCBChange();
    void AccountTypeCBChange();
    void NextBtnClick();
    void PrevBtnClick();
    void NotebookPageChanged();
    void CheckBox2Click();

    // Controls, by their names.
    QStackedWidget *Notebook = nullptr;
    QCheckBox *CheckBox2 = nullptr;
    QComboBox *ProvidersCB = nullptr;
    QLineEdit *EMailAddressEdit = nullptr;
    QComboBox *AccountTypeCB = nullptr;
    QLineEdit *POP3ServerEdit = nullptr;
    QLabel *SMTPServerText = nullptr;
    QLineEdit *SMTPServerEdit = nullptr;
    QLabel *AccountNameLabel = nullptr, *PasswordLabel = nullptr;
    QLineEdit *AccountNameEdit = nullptr;
    QLineEdit *PasswordEdit = nullptr;
    QCheckBox *SMTPAuthChkBox = nullptr;
    // A provider that offers the sign-in at the provider: chosen here (and fixed where the provider takes
    // nothing else); "Weiter" then starts the sign-in and goes on once it is done.
    QCheckBox *SignInChkBox = nullptr;
    QLabel *SignInStateLabel = nullptr;
    void SignInChkBoxClick();
    // True while the sign-in runs.
    bool SigningIn() const { return m_signingIn; }
    QPushButton *PrevBtn = nullptr, *NextBtn = nullptr, *CancelBtn = nullptr;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void focusFirstEmptyField();
    QWidget *createStartPage();
    QWidget *createProviderPage();
    QWidget *createServersPage();
    QWidget *createLoginPage();
    QWidget *createFinishPage();
    // The page's check; on a fault its box, and the focus to the field.
    bool checkPage(int page);
    bool fieldFault(const QString &text, QWidget *field);

    // The mailbox type chosen (TAccountType).
    int32_t accountType() const;
    // The names to search now (empty: that one is not searched); false when nothing is to be searched.
    bool searchWanted(QString *pop3, QString *smtp) const;
    void startSearch(const QString &pop3, const QString &smtp);
    void searchFinished(const TServerSearchResult &result);
    // The port of plain text the plan knows for a server (its upgrade candidate's).
    static quint16 plainPort(const QList<TProbeCandidate> &order, quint16 fallback);

    QList<TProvider> m_providers; // the offered ones, in the list's order; "Anderer" follows them
    TPOP3Checker *m_operations = nullptr;
    TServerSearchPlan m_plan;
    bool m_searching = false;
    // What a search settled for a server; Account() applies it while the field still names that server.
    struct TSettled {
        QString Host;
        int32_t Port = 0;
        int32_t Security = csNone;
        int32_t Type = atPOP3; // of the incoming server: a port found for POP3 is none for IMAP
    };
    std::optional<TSettled> m_incoming, m_outgoing;
    QString m_refreshToken; // of the sign-in made for the chosen provider
    bool m_signingIn = false;
    bool signInChosen() const;
    void startSignIn();
};
