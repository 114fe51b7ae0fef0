#pragma once
// A titled group of option buttons of which at most one is chosen, addressed by item index.
#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(const QString &title, const QStringList &items, QWidget *parent = nullptr);

    int Count() const;
    QRadioButton *Item(int index) const;
    // The chosen item, -1 when none is.
    int ItemIndex() const;
    // Chooses an item; an index out of range leaves none chosen.
    void SetItemIndex(int index);

private:
    QButtonGroup *m_group;
};
