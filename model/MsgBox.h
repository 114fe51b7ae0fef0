#pragma once
// The one modal message box. The core calls ShowMsgBox; the UI installs a handler that shows a real
// box, tests install one that records and answers.
#include <QString>

enum TMsgKind { MsgError = 0, MsgInformation = 1, MsgQuestion = 2, MsgWarning = 3, MsgConfirmation = 4 };

enum TMsgButtons {
    BtnAbortRetryIgnore = 1,
    BtnOK = 2,
    BtnOKCancel = 4,
    BtnRetryCancel = 8,
    BtnYesNo = 16,
    BtnYesNoCancel = 32,
    // Added to one of the above: the second button is the default one (a question whose safe answer is No).
    BtnDefaultSecond = 256,
};

// Button codes, as the platform reports them.
enum TMsgResult { IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7 };

class IMessageBoxHandler {
public:
    virtual ~IMessageBoxHandler() = default;
    // caption is already the default caption when the caller gave none.
    virtual int Show(const QString &text, const QString &caption, TMsgKind kind, int buttons) = 0;
};

// Installs the handler (nullptr: the headless fallback, which prints to stderr and answers with the
// cautious button: OK, Cancel or No).
void SetMessageBoxHandler(IMessageBoxHandler *handler);
IMessageBoxHandler *MessageBoxHandler();

// While on (the program is ending), no box is shown: every call returns the cautious answer at once.
void SetMessageBoxesSuppressed(bool on);

QString DefaultCaption(TMsgKind kind);
// The answer of a box nobody can see: OK, Cancel, No or Abort.
int CautiousAnswer(int buttons);
int ShowMsgBox(const QString &text, const QString &caption, TMsgKind kind, int buttons);

// The three usual forms.
inline int ErrorBox(const QString &text) { return ShowMsgBox(text, QString(), MsgError, BtnOK); }
inline int InfoBox(const QString &text) { return ShowMsgBox(text, QString(), MsgInformation, BtnOK); }
inline bool YesNoQuestion(const QString &text)
{
    return ShowMsgBox(text, QString(), MsgConfirmation, BtnYesNo) == IDYES;
}
