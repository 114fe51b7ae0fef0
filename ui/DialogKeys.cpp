#include "DialogKeys.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QWidget>

namespace {

class TEnterToTab : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        // The widget's own Tab handling moves the focus along the dialog's tab order.
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QCoreApplication::sendEvent(watched, &tab);
        return true;
    }
};

} // namespace

void EnterMovesToNextControl(QWidget *root)
{
    auto *filter = new TEnterToTab(root);
    for (QLineEdit *edit : root->findChildren<QLineEdit *>())
        edit->installEventFilter(filter);
}

void EnterMovesToNextControl(const QList<QWidget *> &controls)
{
    for (QWidget *control : controls)
        control->installEventFilter(new TEnterToTab(control));
}
