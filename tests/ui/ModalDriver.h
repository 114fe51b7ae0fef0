#pragma once
// Acting on modal dialogs that the code under test opens and waits in (QDialog::exec): the action is
// queued before the call and runs inside the dialog's own event loop once the dialog shows.
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

// Runs act on the next visible modal dialog of type T. When none shows within a minute, or another dialog
// waits on top instead, the test fails and that dialog is rejected so that the call returns.
template <typename T>
void onNextDialog(std::function<void(T *)> act)
{
    auto *timer = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [timer, clock, act] {
        QWidget *top = QApplication::activeModalWidget();
        if (auto *dlg = qobject_cast<T *>(top); dlg && dlg->isVisible()) {
            timer->stop();
            timer->deleteLater();
            act(dlg);
            return;
        }
        if (clock->elapsed() < 60000)
            return;
        timer->stop();
        timer->deleteLater();
        ADD_FAILURE() << "no " << T::staticMetaObject.className() << " was shown"
                      << (top ? " (another dialog waits on top)" : "");
        if (auto *other = qobject_cast<QDialog *>(top))
            other->reject();
    });
    timer->start(10);
}
