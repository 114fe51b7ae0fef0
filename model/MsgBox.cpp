#include "MsgBox.h"

#include "TextCodec.h"

#include <atomic>
#include <cstdio>

namespace {
std::atomic<IMessageBoxHandler *> g_handler{nullptr};
std::atomic<bool> g_suppressed{false};
}

void SetMessageBoxesSuppressed(bool on)
{
    g_suppressed = on;
}

void SetMessageBoxHandler(IMessageBoxHandler *handler)
{
    g_handler = handler;
}

IMessageBoxHandler *MessageBoxHandler()
{
    return g_handler;
}

QString DefaultCaption(TMsgKind kind)
{
    switch (kind) {
    case MsgError: return QStringLiteral("Fehler");
    case MsgInformation: return QStringLiteral("Information");
    case MsgQuestion: return QStringLiteral("Frage");
    case MsgWarning: return QStringLiteral("Warnung");
    case MsgConfirmation: return QStringLiteral("Bestätigung");
    }
    return QString();
}

int ShowMsgBox(const QString &text, const QString &caption, TMsgKind kind, int buttons)
{
    const QString cap = caption.isEmpty() ? DefaultCaption(kind) : caption;
    if (g_suppressed)
        return CautiousAnswer(buttons);
    if (IMessageBoxHandler *h = g_handler)
        return h->Show(text, cap, kind, buttons);
    // The text may quote a server or a mail: nothing in it may act on the terminal.
    std::fprintf(stderr, "%s: %s\n", platform::terminalSafe(cap).toLocal8Bit().constData(),
                 platform::terminalSafe(text, true).toLocal8Bit().constData());
    return CautiousAnswer(buttons);
}

int CautiousAnswer(int buttons)
{
    if (buttons & (BtnYesNo | BtnYesNoCancel))
        return (buttons & BtnYesNoCancel) ? IDCANCEL : IDNO;
    if (buttons & (BtnOKCancel | BtnRetryCancel))
        return IDCANCEL;
    if (buttons & BtnAbortRetryIgnore)
        return IDABORT;
    return IDOK;
}
