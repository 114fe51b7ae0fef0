#pragma once
// Small pieces the program's dialogs share: the masked password field, link and wrapped labels.
#include <QString>

#include <initializer_list>

class QLabel;
class QLineEdit;
class QWidget;

// Enables or disables all of these controls.
void SetEnabled(std::initializer_list<QWidget *> controls, bool on);
// The field shows one "*" per character, whatever the style would draw.
void MaskWithStars(QLineEdit *edit);
// A label that breaks its text into lines.
QLabel *WrappedLabel(const QString &text, QWidget *parent);
// A link label that opens its address; without an address it is only its (disabled) text.
QLabel *LinkLabel(const QString &text, const QString &url, QWidget *parent);
// The SMS gateway's start page, where one signs up; empty when no gateway is set up.
QString SmsGatewayHomePage();
