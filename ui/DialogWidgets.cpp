#include "DialogWidgets.h"

#include "MailClientLaunch.h"
#include "ZirpelSendClassUnit.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

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

TBusyCursor::TBusyCursor()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

TBusyCursor::~TBusyCursor()
{
    QApplication::restoreOverrideCursor();
}

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

QWidget *WizardHeader(const QString &title, const QString &text, const QIcon &icon, QWidget *parent)
{
    auto *band = new QWidget(parent);
    band->setAutoFillBackground(true);
    QPalette white = band->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    band->setPalette(white);

    auto *titleLabel = new QLabel(title, band);
    QFont bold = titleLabel->font();
    bold.setBold(true);
    titleLabel->setFont(bold);
    auto *texts = new QVBoxLayout;
    texts->addWidget(titleLabel);
    texts->addWidget(WrappedLabel(text, band));
    auto *layout = new QHBoxLayout(band);
    layout->addLayout(texts, 1);
    if (!icon.isNull()) {
        auto *picture = new QLabel(band);
        picture->setPixmap(icon.pixmap(32, 32));
        picture->setFixedSize(32, 32);
        layout->addWidget(picture, 0, Qt::AlignTop);
    }
    return band;
}

QWidget *WizardPage(QWidget *parent, QVBoxLayout **layout)
{
    auto *page = new QWidget(parent);
    *layout = new QVBoxLayout(page);
    return page;
}

TWizardButtons LayOutWizard(QDialog *dialog, QWidget *header, QStackedWidget *pages)
{
    TWizardButtons b;
    b.Prev = new QPushButton(QStringLiteral("< &Zurück"), dialog);
    b.Prev->setEnabled(false);
    b.Next = new QPushButton(kWizardNextCaption, dialog);
    b.Cancel = new QPushButton(QStringLiteral("Abbrechen"), dialog);
    for (QPushButton *button : {b.Prev, b.Next, b.Cancel})
        button->setAutoDefault(false);
    QObject::connect(b.Cancel, &QPushButton::clicked, dialog, &QDialog::reject);

    auto *row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(b.Prev);
    row->addWidget(b.Next);
    row->addSpacing(8);
    row->addWidget(b.Cancel);
    auto *body = new QVBoxLayout;
    body->setContentsMargins(12, 4, 12, 0);
    body->addWidget(pages, 1);
    body->addLayout(row);
    auto *layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(0, 0, 0, 8);
    layout->addWidget(header);
    layout->addLayout(body, 1);
    return b;
}
