#pragma once
// Everything the check coordinator does to the user goes through this one interface: the main window
// implements it with its tray icons, notices and list; quarvel-check with console output; tests record
// the calls. Message boxes are not part of it: they go through ShowMsgBox (MsgBox.h).
//
// All calls come from the main thread.
#include "ServerCertificate.h"
#include "TypeDef.h"

#include <QString>

#include <functional>

class ICheckerUI {
public:
    virtual ~ICheckerUI() = default;

    // --- main window ---
    virtual bool MainWindowVisible() = 0;
    // Brings the application to the foreground (before a message box).
    virtual void BringToForeground() = 0;
    // Hides the application's taskbar button when the main window is minimized or hidden.
    virtual void HideTaskbarButtonIfHidden() = 0;
    // Hourglass cursor on (true) or the normal cursor again (false).
    virtual void SetBusyCursor(bool busy) = 0;
    // The tray menu item "Prüfe auf neue E-Mail..." and the toolbar button "  Auf neue E-Mails jetzt
    // prüfen  ".
    virtual void SetCheckCommandsEnabled(bool enabled) = 0;
    // The message count of the status bar.
    virtual void SetMessageCount(int count) = 0;
    // Fills the message list from the entries, in order (their Row is set by the list).
    virtual void RefillMessageList(const TMailList &list) = 0;
    // Empties the message list, keeping its columns.
    virtual void ClearMessageList() = 0;

    // --- mail tray icon and sound ---
    virtual bool MailIconShown() = 0;
    // Shows the mail icon, animated or with its normal image.
    virtual void ShowMailIcon(bool animate) = 0;
    // Stops the animation and removes the icon.
    virtual void HideMailIcon() = 0;
    virtual void SetMailIconTooltip(const QString &text) = 0;
    // Plays a sound file asynchronously; a missing file or no sound device plays nothing.
    virtual void PlaySound(const QString &file) = 0;

    // --- notices after a timed check ---
    virtual bool SpamNoticeOpen() = 0;
    virtual void CloseSpamNotice() = 0;
    // Opens and shows the spam notice with the number of messages and of spam among them; its
    // "Spam-Mails löschen" button deletes all checked entries in automatic mode.
    virtual void OpenSpamNotice(int total, int spam) = 0;
    virtual void CloseNewMailNotice() = 0;
    // Opens the new-mail notice; showStartsCheck tells whether its "Anzeigen..." starts a manual check.
    virtual void OpenNewMailNotice(int count, bool showStartsCheck) = 0;

    // --- progress window of a manual check ---
    // Opens and shows it; its cancel button calls cancel.
    virtual void OpenProgressWindow(std::function<void()> cancel) = 0;
    virtual bool ProgressWindowOpen() = 0;
    // One account's line: status 0 = begun, 1 = finished well, 2 = failed with code and error text, 3 = cancelled.
    virtual void ProgressLine(const QString &account, int status, int code, const QString &errorText) = 0;
    // True when a line shows a failed account.
    virtual bool ProgressHasFailures() = 0;
    // Switches the window to its finished-with-errors form and leaves it open for the user.
    virtual void ProgressFinishedWithErrors() = 0;
    virtual void CloseProgressWindow() = 0;
    virtual void BringProgressToFront() = 0;

    // --- wait before a retried deletion ---
    // Shows the count-down window for that many seconds and returns when it has closed.
    virtual void ShowDeleteCountdown(int seconds) = 0;

    // --- a server certificate a manual check refused ---
    // Shows the certificate the server of account ("user@host") presented and why it was refused, and
    // asks whether to trust exactly this certificate from now on. True: the user trusts it. A user
    // interface that cannot ask (no window) never trusts.
    virtual bool TrustCertificate(const QString &account, const CertificateProblem &problem)
    {
        (void)account;
        (void)problem;
        return false;
    }
};

// The user's side of a check without a window (command-line tools, benchmarks): no tray, notices or
// list; a failed mailbox's progress line is counted and handed to OnFailure.
class THeadlessCheckerUI : public ICheckerUI {
public:
    bool MainWindowVisible() override { return false; }
    void BringToForeground() override {}
    void HideTaskbarButtonIfHidden() override {}
    void SetBusyCursor(bool) override {}
    void SetCheckCommandsEnabled(bool) override {}
    void SetMessageCount(int) override {}
    void RefillMessageList(const TMailList &) override {}
    void ClearMessageList() override {}
    bool MailIconShown() override { return false; }
    void ShowMailIcon(bool) override {}
    void HideMailIcon() override {}
    void SetMailIconTooltip(const QString &) override {}
    void PlaySound(const QString &) override {}
    bool SpamNoticeOpen() override { return false; }
    void CloseSpamNotice() override {}
    void OpenSpamNotice(int, int) override {}
    void CloseNewMailNotice() override {}
    void OpenNewMailNotice(int, bool) override {}
    void OpenProgressWindow(std::function<void()>) override { m_progressOpen = true; }
    bool ProgressWindowOpen() override { return m_progressOpen; }
    void ProgressLine(const QString &account, int status, int code, const QString &errorText) override
    {
        if (status != 2)
            return;
        ++Failures;
        if (OnFailure)
            OnFailure(account, code, errorText.trimmed());
    }
    bool ProgressHasFailures() override { return Failures > 0; }
    void ProgressFinishedWithErrors() override { m_progressOpen = false; }
    void CloseProgressWindow() override { m_progressOpen = false; }
    void BringProgressToFront() override {}
    void ShowDeleteCountdown(int) override {}

    int Failures = 0;
    std::function<void(const QString &account, int code, const QString &errorText)> OnFailure;

private:
    bool m_progressOpen = false;
};
