#pragma once
// The message box of the program on Qt: owned by the active window, always brought to the foreground.
#include "MsgBox.h"

class TQtMessageBox : public IMessageBoxHandler {
public:
    int Show(const QString &text, const QString &caption, TMsgKind kind, int buttons) override;
};
