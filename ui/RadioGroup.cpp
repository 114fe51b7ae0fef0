#include "RadioGroup.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QVBoxLayout>

TRadioGroup::TRadioGroup(const QString &title, const QStringList &items, QWidget *parent)
    : QGroupBox(title, parent), m_group(new QButtonGroup(this))
{
    auto *layout = new QVBoxLayout(this);
    for (int i = 0; i < items.size(); ++i) {
        auto *button = new QRadioButton(items.at(i), this);
        m_group->addButton(button, i);
        layout->addWidget(button);
    }
}

int TRadioGroup::Count() const
{
    return int(m_group->buttons().size());
}

QRadioButton *TRadioGroup::Item(int index) const
{
    return qobject_cast<QRadioButton *>(m_group->button(index));
}

int TRadioGroup::ItemIndex() const
{
    return m_group->checkedId();
}

void TRadioGroup::SetItemIndex(int index)
{
    if (QRadioButton *item = Item(index)) {
        item->setChecked(true);
        return;
    }
    // An exclusive group keeps one button checked; let go of it to leave none chosen.
    m_group->setExclusive(false);
    for (QAbstractButton *b : m_group->buttons())
        b->setChecked(false);
    m_group->setExclusive(true);
}
