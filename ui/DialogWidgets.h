#pragma once
// Small pieces the program's dialogs share: the masked password field, link and wrapped labels.
#include <QString>

#include <initializer_list>

class QDialog;
class QIcon;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;
class QWidget;

// The wait cursor while it lives; the normal one again however the work ends.
struct TBusyCursor {
    TBusyCursor();
    ~TBusyCursor();
    TBusyCursor(const TBusyCursor &) = delete;
    TBusyCursor &operator=(const TBusyCursor &) = delete;
};

// Enables or disables all of these controls.
void SetEnabled(std::initializer_list<QWidget *> controls, bool on);
// The field shows one "*" per character, whatever the style would draw.
void MaskWithStars(QLineEdit *edit);
// What an empty password field shows while the password stays in the keyring.
inline const QString kKeyringPlaceholder = QStringLiteral("(im Schlüsselbund gespeichert)");
// A label that breaks its text into lines.
QLabel *WrappedLabel(const QString &text, QWidget *parent);
// A link label that opens its address; without an address it is only its (disabled) text.
QLabel *LinkLabel(const QString &text, const QString &url, QWidget *parent);
// The SMS gateway's start page, where one signs up; empty when no gateway is set up.
QString SmsGatewayHomePage();

// The white band above a wizard's pages: a bold title, a line of text, and an icon at its right (none
// when the icon is null).
QWidget *WizardHeader(const QString &title, const QString &text, const QIcon &icon, QWidget *parent);

// A page of a wizard with its column of controls.
QWidget *WizardPage(QWidget *parent, QVBoxLayout **layout);

// The buttons below a wizard's pages: "< &Zurück" (disabled), "&Weiter >" and "Abbrechen", which
// rejects the dialog, as Esc does. None of them is pressed by Enter.
struct TWizardButtons {
    QPushButton *Prev = nullptr;
    QPushButton *Next = nullptr;
    QPushButton *Cancel = nullptr;
};
// Lays the dialog out as a wizard: the header band on top, the pages, the buttons below them.
TWizardButtons LayOutWizard(QDialog *dialog, QWidget *header, QStackedWidget *pages);
inline const QString kWizardNextCaption = QStringLiteral("&Weiter >");
inline const QString kWizardFinishCaption = QStringLiteral("Fertig stellen");
