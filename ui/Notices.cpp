#include "Notices.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

// The program's icon set is used as soon as the library links it (its header is then on the path).
#if __has_include("QuarvelIcons.h")
#include "QuarvelIcons.h"
#define QUARVEL_HAVE_ICON_SET 1
#else
#define QUARVEL_HAVE_ICON_SET 0
#endif

QIcon NoticeImage(TNoticeImage which)
{
#if QUARVEL_HAVE_ICON_SET
    switch (which) {
    case TNoticeImage::ListWorking:
        return ListImages().value(liWorking);
    case TNoticeImage::ListDone:
        return ListImages().value(liFinished);
    case TNoticeImage::ListFailed:
        return ListImages().value(liFailed);
    case TNoticeImage::NewMail:
        return MailIcon(QStringLiteral("WMAIL1"));
    case TNoticeImage::Spam:
        return ListImages().value(liSpam);
    case TNoticeImage::Program:
        return ProgramIcon();
    }
    return QIcon();
#else
    // The style's standard pictures while the program's icon set is not linked in.
    QStyle::StandardPixmap pixmap = QStyle::SP_MessageBoxInformation;
    switch (which) {
    case TNoticeImage::ListWorking:
        pixmap = QStyle::SP_BrowserReload;
        break;
    case TNoticeImage::ListDone:
        pixmap = QStyle::SP_DialogApplyButton;
        break;
    case TNoticeImage::ListFailed:
        pixmap = QStyle::SP_MessageBoxCritical;
        break;
    case TNoticeImage::NewMail:
        pixmap = QStyle::SP_MessageBoxInformation;
        break;
    case TNoticeImage::Spam:
        pixmap = QStyle::SP_MessageBoxWarning;
        break;
    case TNoticeImage::Program:
        pixmap = QStyle::SP_ComputerIcon;
        break;
    }
    return QApplication::style()->standardIcon(pixmap);
#endif
}

QIcon ListImage(int index)
{
    switch (index) {
    case 1:
        return NoticeImage(TNoticeImage::ListWorking);
    case 2:
        return NoticeImage(TNoticeImage::ListDone);
    case 3:
        return NoticeImage(TNoticeImage::ListFailed);
    default:
        return QIcon();
    }
}

QString DisplayLineBreaks(const QString &text)
{
    QString s = text;
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

namespace {

QLabel *ImageLabel(TNoticeImage which, int size, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setPixmap(NoticeImage(which).pixmap(size, size));
    label->setAlignment(Qt::AlignCenter);
    return label;
}

void CentreOnScreen(QWidget *window)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    window->move(area.left() + (area.width() - window->width()) / 2,
                 area.top() + (area.height() - window->height()) / 2);
}

// A top-level window on top of all others, with only a title bar and the close button.
constexpr Qt::WindowFlags kNoticeFlags = Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                         Qt::WindowCloseButtonHint;

// Calls a callback of a window that may already be on its way out: the callback is copied first, so
// the call does not depend on the window's members.
void Call(const std::function<void()> &callback)
{
    if (callback) {
        const std::function<void()> copy = callback;
        copy();
    }
}

} // namespace

// --- the deletion log's line ---

TDeletionLogHint::TDeletionLogHint(QWidget *parent)
    : QWidget(parent), m_text(new QLabel(this)),
      m_open(new QPushButton(QStringLiteral("Gelöschte E-Mails..."), this))
{
    m_text->setWordWrap(true);
    m_open->setAutoDefault(false);
    connect(m_open, &QPushButton::clicked, this, [this] { Call(OnOpenLog); });
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_text, 1);
    layout->addWidget(m_open);
    SetCount(0);
}

void TDeletionLogHint::SetCount(int records)
{
    m_text->setText(QStringLiteral("Neu im Protokoll der gelöschten E-Mails: %1").arg(records));
    setVisible(records > 0);
}

QString TDeletionLogHint::Text() const
{
    return m_text->text();
}

// --- new-mail notice ---

TNewMailNotice::TNewMailNotice(int count, bool showStartsCheck)
    : QDialog(nullptr, kNoticeFlags), ShowStartsCheck(showStartsCheck)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Sie haben Post!"));

    m_text = new QLabel(QStringLiteral("Sie haben %1 Nachricht(en) in Ihren Postfäch(ern).").arg(count), this);
    m_text->setWordWrap(true);
    m_showBtn = new QPushButton(QStringLiteral("Anzeigen..."), this);
    m_closeBtn = new QPushButton(QStringLiteral("Schließen"), this);
    m_showBtn->setDefault(true);

    auto *top = new QHBoxLayout;
    top->addWidget(ImageLabel(TNoticeImage::NewMail, 48, this));
    top->addWidget(m_text, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_showBtn);
    buttons->addWidget(m_closeBtn);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
    setMinimumWidth(340);

    connect(m_showBtn, &QPushButton::clicked, this, &TNewMailNotice::ShowBtnClick);
    connect(m_closeBtn, &QPushButton::clicked, this, &TNewMailNotice::CloseBtnClick);
    connect(this, &QDialog::finished, this, &TNewMailNotice::Closed);
    adjustSize();
    CentreOnScreen(this);
}

QString TNewMailNotice::Text() const
{
    return m_text->text();
}

void TNewMailNotice::ShowBtnClick()
{
    // The check below can run for a while and may close this notice itself.
    QPointer<TNewMailNotice> self(this);
    const bool startCheck = ShowStartsCheck;
    const std::function<void()> showMain = OnShowMainWindow;
    const std::function<void()> check = OnStartCheck;
    hide();
    Call(showMain);
    if (startCheck)
        Call(check);
    if (self)
        done(QDialog::Accepted);
}

void TNewMailNotice::CloseBtnClick()
{
    Call(OnRemoveMailIcon);
    done(QDialog::Rejected);
}

void TNewMailNotice::closeEvent(QCloseEvent *event)
{
    // close() on a hidden notice (the owner closing it while "Anzeigen..." runs) does not finish it.
    QDialog::closeEvent(event);
    if (event->isAccepted())
        Closed();
}

void TNewMailNotice::Closed()
{
    if (m_closedReported)
        return;
    m_closedReported = true;
    Call(OnClosed);
}

// --- spam notice ---

TSpamNotice::TSpamNotice(int total, int spam) : QDialog(nullptr, kNoticeFlags)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Automatisches Löschen von Spam-Mails"));

    m_heading = new QLabel(QStringLiteral("Sie haben %1 neue Nachrichten.").arg(total), this);
    QFont bold = m_heading->font();
    bold.setBold(true);
    m_heading->setFont(bold);
    m_total = new QLabel(QString::number(total), this);
    m_spam = new QLabel(QString::number(spam), this);
    m_remaining = new QLabel(QString::number(total - spam), this);
    for (QLabel *count : {m_total, m_spam, m_remaining})
        count->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto *counts = new QGridLayout;
    counts->addWidget(new QLabel(QStringLiteral("E-Mails ingesamt:"), this), 0, 0);
    counts->addWidget(m_total, 0, 1);
    counts->addWidget(new QLabel(QStringLiteral("davon als Spam markiert:"), this), 1, 0);
    counts->addWidget(m_spam, 1, 1);
    counts->addWidget(new QLabel(QStringLiteral("verbleibenden E-Mails:"), this), 2, 0);
    counts->addWidget(m_remaining, 2, 1);
    counts->setColumnStretch(0, 1);

    auto *text = new QVBoxLayout;
    text->addWidget(m_heading);
    text->addLayout(counts);
    auto *top = new QHBoxLayout;
    top->addWidget(ImageLabel(TNoticeImage::Spam, 48, this), 0, Qt::AlignTop);
    top->addLayout(text, 1);

    m_showBtn = new QPushButton(QStringLiteral("E-Mails anzeigen"), this);
    m_deleteBtn = new QPushButton(QStringLiteral("Spam-Mails löschen"), this);
    m_closeBtn = new QPushButton(QStringLiteral("Schließen"), this);
    // A stray Enter must not delete mail unseen: the default is to look at it.
    m_showBtn->setDefault(true);
    m_deleteBtn->setAutoDefault(false);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_showBtn);
    buttons->addWidget(m_deleteBtn);
    buttons->addWidget(m_closeBtn);

    m_logHint = new TDeletionLogHint(this);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_logHint);
    layout->addLayout(buttons);
    setMinimumWidth(380);

    connect(m_showBtn, &QPushButton::clicked, this, &TSpamNotice::ShowMailsBtnClick);
    connect(m_deleteBtn, &QPushButton::clicked, this, &TSpamNotice::DeleteSpamBtnClick);
    // "Schließen" and the Escape key both reject.
    connect(m_closeBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(this, &QDialog::finished, this, &TSpamNotice::Closed);
    adjustSize();
    CentreOnScreen(this);
}

QString TSpamNotice::Heading() const
{
    return m_heading->text();
}

QString TSpamNotice::TotalText() const
{
    return m_total->text();
}

QString TSpamNotice::SpamText() const
{
    return m_spam->text();
}

QString TSpamNotice::RemainingText() const
{
    return m_remaining->text();
}

void TSpamNotice::ShowMailsBtnClick()
{
    // Closed first: a closed notice no longer counts as open for what the callback starts.
    const std::function<void()> showMails = OnShowMails;
    done(QDialog::Accepted);
    Call(showMails);
}

void TSpamNotice::DeleteSpamBtnClick()
{
    const std::function<void()> deleteSpam = OnDeleteSpam;
    done(QDialog::Accepted);
    Call(deleteSpam);
}

void TSpamNotice::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    raise();
    activateWindow();
}

void TSpamNotice::closeEvent(QCloseEvent *event)
{
    QDialog::closeEvent(event);
    if (event->isAccepted())
        Closed();
}

void TSpamNotice::Closed()
{
    if (m_closedReported)
        return;
    m_closedReported = true;
    Call(OnClosed);
}

// --- wait window ---

TWaitWindow::TWaitWindow(QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::ApplicationModal);
    setWindowTitle(QStringLiteral("Einen Moment..."));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Base));
    setPalette(pal);
    setAutoFillBackground(true);

    auto *icon = ImageLabel(TNoticeImage::Program, 32, this);
    icon->setFixedSize(60, 60);
    m_text = new QLabel(DisplayLineBreaks(kWaitForCheckText), this);
    m_text->setWordWrap(true);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    auto *layout = new QHBoxLayout(this);
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addWidget(m_text, 1);

    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &TWaitWindow::CountdownTick);
    FitToText();
}

void TWaitWindow::FitToText()
{
    // A fixed width, and the height the wrapped text needs at that width.
    constexpr int kWidth = 460;
    layout()->activate();
    setFixedSize(kWidth, layout()->totalHeightForWidth(kWidth));
    CentreOnScreen(this);
}

QString TWaitWindow::Text() const
{
    return m_text->text();
}

void TWaitWindow::StartCountdown(int seconds)
{
    // A negative wait from a server reply counts as none.
    m_remaining = std::max(seconds, 0) + 1;
    m_text->setText(DisplayLineBreaks(kDeleteCountdownText.arg(m_remaining)));
    FitToText();
    m_timer.start();
}

void TWaitWindow::CountdownTick()
{
    if (!m_timer.isActive())
        return;
    if (m_remaining - 1 < 0) {
        m_timer.stop();
        CloseWindow();
        return;
    }
    --m_remaining;
    m_text->setText(DisplayLineBreaks(kDeleteCountdownText.arg(m_remaining)));
}

void TWaitWindow::CloseWindow()
{
    m_closable = true;
    m_timer.stop();
    close();
}

void TWaitWindow::closeEvent(QCloseEvent *event)
{
    if (!m_closable) {
        event->ignore();
        return;
    }
    event->accept();
    Q_EMIT WindowClosed();
}
