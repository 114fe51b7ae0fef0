#pragma once
// In the program's dialogs the Enter key in an edit field moves on to the next control instead of
// closing the dialog with its default button.
#include <QList>

class QWidget;

// Applies the rule to every single-line edit field inside root (present when called).
void EnterMovesToNextControl(QWidget *root);
// Applies the rule to exactly these controls (edit fields, sliders, check boxes).
void EnterMovesToNextControl(const QList<QWidget *> &controls);
