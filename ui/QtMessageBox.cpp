#include "QtMessageBox.h"

#include <QApplication>
#include <QAbstractButton>
#include <QFile>

#include <utility>
#include <QMessageBox>
#include <QPushButton>

int TQtMessageBox::Show(const QString &text, const QString &caption, TMsgKind kind, int buttons)
{
#ifdef QUARVEL_TEST_HOOKS
    // For tests of the whole program only: boxes are written to a file and answered cautiously.
    const QString testLog = qEnvironmentVariable("QUARVEL_TEST_MSGBOX_LOG");
    if (!testLog.isEmpty()) {
        QFile f(testLog);
        if (f.open(QIODevice::Append))
            f.write((caption + QStringLiteral(": ") + text + QLatin1Char('\n')).toUtf8());
        return CautiousAnswer(buttons);
    }
#endif
    QMessageBox::Icon icon = QMessageBox::Warning;
    switch (kind) {
    case MsgError: icon = QMessageBox::Warning; break;
    case MsgInformation: icon = QMessageBox::Information; break;
    case MsgQuestion:
    case MsgConfirmation: icon = QMessageBox::Question; break;
    case MsgWarning: icon = QMessageBox::Critical; break;
    }
    QMessageBox::StandardButtons set = QMessageBox::Ok;
    if (buttons & BtnAbortRetryIgnore)
        set = QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    else if (buttons & BtnOKCancel)
        set = QMessageBox::Ok | QMessageBox::Cancel;
    else if (buttons & BtnRetryCancel)
        set = QMessageBox::Retry | QMessageBox::Cancel;
    else if (buttons & BtnYesNo)
        set = QMessageBox::Yes | QMessageBox::No;
    else if (buttons & BtnYesNoCancel)
        set = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;

    // Windows' boxes take "\r" as a line break too.
    QString body = text;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(icon, caption, body, set, QApplication::activeWindow());
    // The text may quote a server or a file: markup in it is shown as written, never rendered.
    box.setTextFormat(Qt::PlainText);
    // The program speaks German whatever translations the system has installed.
    const std::pair<QMessageBox::StandardButton, const char *> captions[] = {
        {QMessageBox::Ok, "OK"},          {QMessageBox::Cancel, "Abbrechen"}, {QMessageBox::Yes, "&Ja"},
        {QMessageBox::No, "&Nein"},       {QMessageBox::Abort, "&Abbrechen"}, {QMessageBox::Retry, "&Wiederholen"},
        {QMessageBox::Ignore, "&Ignorieren"},
    };
    for (const auto &[button, text] : captions)
        if (QAbstractButton *b = box.button(button))
            b->setText(QString::fromUtf8(text));
    if (buttons & BtnDefaultSecond) {
        const QList<QAbstractButton *> order = box.buttons();
        for (QMessageBox::StandardButton second : {QMessageBox::No, QMessageBox::Cancel, QMessageBox::Retry})
            if (QAbstractButton *b = box.button(second); b && order.size() > 1) {
                box.setDefaultButton(static_cast<QPushButton *>(b));
                break;
            }
    }
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.raise();
    box.activateWindow();
    switch (box.exec()) {
    case QMessageBox::Ok: return IDOK;
    case QMessageBox::Cancel: return IDCANCEL;
    case QMessageBox::Abort: return IDABORT;
    case QMessageBox::Retry: return IDRETRY;
    case QMessageBox::Ignore: return IDIGNORE;
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    default: break;
    }
    // Closed with Escape or the window's button.
    return CautiousAnswer(buttons);
}
