#include "DialogWidgets.h"

#include "MailClientLaunch.h"
#include "ZirpelSendClassUnit.h"

#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>

namespace {

class TStarPasswordStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

void SetEnabled(std::initializer_list<QWidget *> controls, bool on)
{
    for (QWidget *w : controls)
        w->setEnabled(on);
}

void MaskWithStars(QLineEdit *edit)
{
    edit->setEchoMode(QLineEdit::Password);
    auto *stars = new TStarPasswordStyle();
    stars->setParent(edit);
    edit->setStyle(stars);
}

QLabel *WrappedLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

QLabel *LinkLabel(const QString &text, const QString &url, QWidget *parent)
{
    auto *label = new QLabel(parent);
    if (url.isEmpty()) {
        label->setText(text);
        label->setEnabled(false);
        return label;
    }
    label->setText(QStringLiteral("<a href=\"%1\">%2</a>").arg(url.toHtmlEscaped(), text.toHtmlEscaped()));
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    QObject::connect(label, &QLabel::linkActivated, label, [](const QString &link) { OpenWithShell(link); });
    return label;
}

QString SmsGatewayHomePage()
{
    const QString host = TZirpelSendClass::GatewayHost();
    return host.isEmpty() ? QString() : QStringLiteral("https://%1/").arg(host);
}
