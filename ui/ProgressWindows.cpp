#include "ProgressWindows.h"

#include "Notices.h"
#include "RegistrySettingsUnit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kImageRole = Qt::UserRole + 1;

QPixmap BlankFrame(int width, int height)
{
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void DrawLetter(QPainter &p, const QRectF &r)
{
    p.setPen(QPen(QColor(70, 70, 80), 1.5));
    p.setBrush(QColor(255, 253, 240));
    p.drawRect(r);
    QPainterPath flap;
    flap.moveTo(r.topLeft());
    flap.lineTo(r.center().x(), r.top() + r.height() * 0.6);
    flap.lineTo(r.topRight());
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
}

void SetupList(QTreeWidget *list, const QStringList &titles)
{
    list->setColumnCount(int(titles.size()));
    list->setHeaderLabels(titles);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSortingEnabled(false);
    list->viewport()->setAttribute(Qt::WA_Hover); // the row under the mouse is highlighted
    list->header()->setSectionsClickable(false);
    list->header()->setSectionsMovable(false);
}

// Row heights for text wrapped at the column's width (the view alone sizes rows for one line).
class TWrappingDelegate : public QStyledItemDelegate {
public:
    explicit TWrappingDelegate(QTreeView *view) : QStyledItemDelegate(view), m_view(view) {}

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        opt.features |= QStyleOptionViewItem::WrapText;
        // The style wraps only within a valid rectangle; the view passes none.
        opt.rect = QRect(0, 0, m_view->header()->sectionSize(index.column()), QWIDGETSIZE_MAX);
        const QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
        return style->sizeFromContents(QStyle::CT_ItemViewItem, &opt, QSize(), opt.widget);
    }

private:
    QTreeView *m_view;
};

TRePosApp &PreparePlacement(TRePosApp &placement, const QString &section)
{
    placement.InifileName = kProgramKey;
    placement.SectionName = section;
    placement.AllowMaximized = false;
    return placement;
}

} // namespace

// --- animation ---

QList<QPixmap> InboxAnimationFrames()
{
    constexpr int kFrames = 8;
    QList<QPixmap> frames;
    for (int i = 0; i < kFrames; ++i) {
        QPixmap pixmap = BlankFrame(80, 56);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        // The back of the tray, the letter sinking into it, then the tray's front over the letter.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(150, 165, 190));
        p.drawRect(QRectF(14, 32, 52, 6));
        DrawLetter(p, QRectF(27, 2 + i * 4.5, 26, 17));
        QPainterPath front;
        front.moveTo(8, 36);
        front.lineTo(72, 36);
        front.lineTo(67, 53);
        front.lineTo(13, 53);
        front.closeSubpath();
        p.setPen(QPen(QColor(45, 60, 95), 1.5));
        p.setBrush(QColor(90, 125, 185));
        p.drawPath(front);
        frames.append(pixmap);
    }
    return frames;
}

QList<QPixmap> HourglassAnimationFrames()
{
    constexpr int kFrames = 8;
    QList<QPixmap> frames;
    const QColor sand(214, 170, 70);
    for (int i = 0; i < kFrames; ++i) {
        QPixmap pixmap = BlankFrame(40, 48);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal runOut = qreal(i) / (kFrames - 1); // share of the sand that has fallen

        QPainterPath upper;
        upper.moveTo(9, 6);
        upper.lineTo(31, 6);
        upper.lineTo(21, 24);
        upper.lineTo(19, 24);
        upper.closeSubpath();
        QPainterPath lower;
        lower.moveTo(19, 24);
        lower.lineTo(21, 24);
        lower.lineTo(31, 42);
        lower.lineTo(9, 42);
        lower.closeSubpath();

        p.setPen(Qt::NoPen);
        p.setBrush(sand);
        p.save();
        p.setClipPath(upper);
        const qreal upperTop = 8 + 15 * runOut;
        p.drawRect(QRectF(0, upperTop, 40, 24 - upperTop));
        p.restore();
        p.save();
        p.setClipPath(lower);
        const qreal heap = 16 * runOut;
        p.drawRect(QRectF(0, 42 - heap, 40, heap));
        p.restore();
        if (i > 0 && i < kFrames - 1)
            p.drawRect(QRectF(19.5, 24, 1, 18 - heap));

        p.setPen(QPen(QColor(60, 60, 70), 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawPath(upper);
        p.drawPath(lower);
        p.setBrush(QColor(120, 80, 40));
        p.drawRect(QRectF(6, 2, 28, 4));
        p.drawRect(QRectF(6, 42, 28, 4));
        frames.append(pixmap);
    }
    return frames;
}

TAnimationView::TAnimationView(QList<QPixmap> frames, int stepMs, QWidget *parent)
    : QLabel(parent), m_frames(std::move(frames))
{
    setAlignment(Qt::AlignCenter);
    if (!m_frames.isEmpty()) {
        setPixmap(m_frames.first());
        setFixedSize(m_frames.first().size());
    }
    m_timer.setInterval(std::max(stepMs, 1));
    connect(&m_timer, &QTimer::timeout, this, &TAnimationView::Step);
}

void TAnimationView::Start()
{
    if (m_frames.size() > 1 && !m_timer.isActive())
        m_timer.start();
}

void TAnimationView::Stop()
{
    m_timer.stop();
    m_frame = 0;
    if (!m_frames.isEmpty())
        setPixmap(m_frames.first());
}

void TAnimationView::Step()
{
    if (m_frames.isEmpty())
        return;
    m_frame = (m_frame + 1) % int(m_frames.size());
    setPixmap(m_frames[m_frame]);
}

// --- progress window of a manual check ---

TProgressWindow::TProgressWindow(std::function<void()> cancelAccount, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_cancelAccount(std::move(cancelAccount)), m_placement(this)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(kProgressCaption);
    setMinimumSize(543, 228);

    m_animation = new TAnimationView(InboxAnimationFrames(), 150, this);
    m_list = new QTreeWidget(this);
    SetupList(m_list, {QStringLiteral("E-Mail-Konto")});
    m_list->header()->setStretchLastSection(false);
    // A server's error text can be long; it wraps within the one column instead of being cut off.
    m_list->setWordWrap(true);
    m_list->setUniformRowHeights(false);
    m_list->setItemDelegate(new TWrappingDelegate(m_list));
    m_list->viewport()->installEventFilter(this);
    m_button = new QPushButton(kCancelAccountText, this);
    m_button->setCursor(Qt::ArrowCursor);

    m_logHint = new TDeletionLogHint(this);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_button);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_animation, 0, Qt::AlignHCenter);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_logHint);
    layout->addLayout(buttons);

    connect(m_button, &QPushButton::clicked, this, &TProgressWindow::ButtonClick);

    resize(560, 320);
    PreparePlacement(m_placement, QStringLiteral("UserPOP3CheckInfoWindowPosition")).RestorePlacement();
}

TProgressWindow::~TProgressWindow() = default;

void TProgressWindow::SetLine(QTreeWidgetItem *item, int image, const QString &text)
{
    item->setText(0, text);
    item->setIcon(0, ListImage(image));
    item->setData(0, kImageRole, image);
}

void TProgressWindow::Progress(const QString &account, int status, int code, const QString &errorText)
{
    const QString begun = QStringLiteral("Prüfe Konto %1.").arg(account);
    QTreeWidgetItem *line = nullptr;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        if (m_list->topLevelItem(i)->text(0) == begun) {
            line = m_list->topLevelItem(i);
            break;
        }
    }
    if (!line) {
        line = new QTreeWidgetItem(m_list);
        SetLine(line, piWorking, begun);
        m_list->scrollToItem(line);
        if (!m_errorsForm)
            m_button->setEnabled(true);
    } else if (status == 1) {
        SetLine(line, piDone, QStringLiteral("Prüfung Konto %1 abgeschlossen.").arg(account));
    } else if (status == 3) {
        // The user's own choice: no error, and what was read of the account is listed.
        SetLine(line, piDone, QStringLiteral("Prüfung Konto %1 abgebrochen.").arg(account));
    } else if (status != 0) {
        // One arg() call, so that a "%" in the account or the server's text is taken as it stands.
        SetLine(line, piFailed,
                QStringLiteral("Prüfung Konto %1 fehlerhaft. Fehler %2; Fehlernummer: %3")
                    .arg(account, errorText.trimmed(), QString::number(code)));
    }
    // A repeated "begun" for a line still being checked changes nothing.
}

bool TProgressWindow::HasFailedLines() const
{
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        if (m_list->topLevelItem(i)->data(0, kImageRole).toInt() == piFailed)
            return true;
    return false;
}

void TProgressWindow::SetCheckFinished()
{
    m_finished = true;
    m_animation->Stop();
    unsetCursor();
}

void TProgressWindow::ShowFinishedWithErrors()
{
    SetCheckFinished();
    m_errorsForm = true;
    setWindowTitle(kProgressErrorsCaption);
    m_button->setText(kCloseWindowText);
    m_button->setEnabled(true);
    // Changing the flags takes the window off the screen; put it back where it was.
    const bool visible = isVisible();
    const QPoint at = pos();
    setWindowFlag(Qt::WindowStaysOnTopHint, false);
    if (visible) {
        move(at);
        show();
    }
}

void TProgressWindow::CloseWindow()
{
    SetCheckFinished();
    close();
}

void TProgressWindow::BringToFront()
{
    raise();
    activateWindow();
}

int TProgressWindow::LineCount() const
{
    return m_list->topLevelItemCount();
}

QString TProgressWindow::LineText(int line) const
{
    const QTreeWidgetItem *item = m_list->topLevelItem(line);
    return item ? item->text(0) : QString();
}

int TProgressWindow::LineImage(int line) const
{
    const QTreeWidgetItem *item = m_list->topLevelItem(line);
    return item ? item->data(0, kImageRole).toInt() : 0;
}

void TProgressWindow::ButtonClick()
{
    if (m_errorsForm) {
        close();
        return;
    }
    m_button->setEnabled(false);
    if (m_cancelAccount)
        m_cancelAccount();
}

void TProgressWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_button->setEnabled(true);
    if (!m_finished) {
        setCursor(Qt::WaitCursor);
        m_animation->Start();
    }
    FitColumn();
}

void TProgressWindow::closeEvent(QCloseEvent *event)
{
    if (!m_finished) {
        event->ignore();
        return;
    }
    m_animation->Stop();
    unsetCursor();
    m_placement.SavePlacement();
    event->accept();
}

bool TProgressWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list->viewport() && event->type() == QEvent::Resize)
        FitColumn();
    return QWidget::eventFilter(watched, event);
}

void TProgressWindow::FitColumn()
{
    // Narrower than the list by the width of a scroll arrow, so no horizontal scroll bar appears.
    const int arrow = m_list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_list);
    const int width = std::max(m_list->viewport()->width() - arrow - 2, 0);
    if (m_list->header()->sectionSize(0) != width) {
        m_list->header()->resizeSection(0, width);
        m_list->doItemsLayout(); // wrapped lines take their new heights
    }
}

// --- progress window of a deletion run ---

TDeleteProgressWindow::TDeleteProgressWindow(QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_placement(this)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Löschen von E-Mails"));

    m_animation = new TAnimationView(HourglassAnimationFrames(), 200, this);
    auto *text = new QLabel(
        QStringLiteral("Bitte warten Sie bis Quarvel alle gewählten E-Mails von den Server(n) gelöscht hat."), this);
    text->setWordWrap(true);
    m_list = new QTreeWidget(this);
    SetupList(m_list, {QStringLiteral("E-Mail-Konto"), QStringLiteral("Lösche E-Mail...")});
    m_list->header()->resizeSection(0, 280);

    auto *top = new QHBoxLayout;
    top->addWidget(m_animation);
    top->addWidget(text, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_list, 1);

    setFixedSize(500, 300);
    PreparePlacement(m_placement, QStringLiteral("DeleteMailsDlgWindowPosition")).RestorePlacement();
}

TDeleteProgressWindow::~TDeleteProgressWindow() = default;

int TDeleteProgressWindow::AddAccountLine(const QString &account)
{
    auto *item = new QTreeWidgetItem(m_list);
    item->setText(0, account);
    item->setText(1, kDeleteConnectingText);
    item->setIcon(0, ListImage(piWorking));
    item->setData(0, kImageRole, int(piWorking));
    m_list->scrollToItem(item);
    m_list->setCurrentItem(item);
    m_list->setFocus();
    return m_list->indexOfTopLevelItem(item);
}

void TDeleteProgressWindow::SetLineImage(int line, int image)
{
    if (QTreeWidgetItem *item = m_list->topLevelItem(line)) {
        item->setIcon(0, ListImage(image));
        item->setData(0, kImageRole, image);
    }
}

void TDeleteProgressWindow::SetLineStatus(int line, const QString &text)
{
    if (QTreeWidgetItem *item = m_list->topLevelItem(line))
        item->setText(1, text);
}

int TDeleteProgressWindow::LineCount() const
{
    return m_list->topLevelItemCount();
}

QString TDeleteProgressWindow::LineAccount(int line) const
{
    const QTreeWidgetItem *item = m_list->topLevelItem(line);
    return item ? item->text(0) : QString();
}

QString TDeleteProgressWindow::LineStatus(int line) const
{
    const QTreeWidgetItem *item = m_list->topLevelItem(line);
    return item ? item->text(1) : QString();
}

int TDeleteProgressWindow::LineImage(int line) const
{
    const QTreeWidgetItem *item = m_list->topLevelItem(line);
    return item ? item->data(0, kImageRole).toInt() : 0;
}

void TDeleteProgressWindow::StopAnimation()
{
    m_animation->Stop();
}

void TDeleteProgressWindow::CloseWindow()
{
    m_closable = true;
    m_animation->Stop();
    close();
}

void TDeleteProgressWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_closable)
        m_animation->Start();
}

void TDeleteProgressWindow::closeEvent(QCloseEvent *event)
{
    if (!m_closable) {
        event->ignore();
        return;
    }
    m_placement.SavePlacement();
    event->accept();
}
