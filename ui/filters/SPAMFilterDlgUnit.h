#pragma once
// "Konfiguration des Spam-Filters": the rule editor, with a page of subject rules and a page of
// header-field rules. It works on copies; whoever opens it takes Rules() after OK.
#include "SpamFilterClassUnit.h"

#include <QDialog>
#include <QList>
#include <QWidget>

#include <memory>
#include <vector>

class QLabel;
class QPushButton;
class QTabWidget;
class TCheckBoxGrid;

// One page: a grid with a row per rule (the check box is the rule's Active flag), the buttons to add,
// change and delete, and the count of rules.
class TFilterPage : public QWidget {
    Q_OBJECT
public:
    enum TPageKind { SubjectRules, HeaderFieldRules };

    TFilterPage(TPageKind kind, QWidget *parent = nullptr);
    ~TFilterPage() override;

    TPageKind Kind() const { return m_kind; }
    TCheckBoxGrid *Grid() const { return m_grid; }
    QPushButton *AddButton() const { return m_addBtn; }
    QPushButton *ChangeButton() const { return m_changeBtn; }
    QPushButton *DeleteButton() const { return m_deleteBtn; }
    QLabel *CountLabel() const { return m_count; }

    // A copy of the rule in the first row of an empty grid or a new last row, checked as it is active.
    // Returns its row.
    int AppendRule(const TSimpleFilter &rule);
    // The rules in row order.
    QList<TSimpleFilter> Rules() const;
    int RuleCount() const { return int(m_rules.size()); }
    // The rule of a data row, or null (the blank row of an empty grid).
    TSimpleFilter *RuleAt(int row) const;

    // The buttons; each key and the double click act only while its button is enabled.
    void AddBtnClick();    // opens the rule dialog for a new rule
    void ChangeBtnClick(); // opens the rule dialog for the selected rule
    void DeleteBtnClick(); // asks about the selected rule

    // What follows OK in the rule dialog when adding: a copy of a listed rule is refused with an error
    // box. True when the rule was added.
    bool AddSubjectRule(int operation, const QString &text);
    bool AddHeaderFieldRule(const QString &field, int operation, const QString &text);
    // Writes the dialog's values into the rule of the row (Active, CaseSensitive and the reserved values
    // stay) and shows them. An operation of -1 keeps the rule's own.
    void ChangeRule(int row, const QString &field, int operation, const QString &text);
    // Asks, then removes the row and its rule. True when removed.
    bool DeleteRule(int row);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showRule(int row);
    void ruleListChanged();
    void updateButtons();
    // The selected row when it holds a rule, else -1.
    int selectedRuleRow() const;
    QList<const TSimpleFilter *> listedRules() const;

    TPageKind m_kind;
    TCheckBoxGrid *m_grid;
    QPushButton *m_addBtn;
    QPushButton *m_changeBtn;
    QPushButton *m_deleteBtn;
    QLabel *m_count;
    // The page's copies; each row points at one of them.
    std::vector<std::unique_ptr<TSimpleFilter>> m_rules;
};

class TSPAMFilterDlg : public QDialog {
    Q_OBJECT
public:
    // Copies the subject and header-field rules of the list into the pages; rules of other kinds are
    // not shown but kept as they are.
    explicit TSPAMFilterDlg(const TFilterList &rules, QWidget *parent = nullptr);

    TFilterPage *SubjectPage() const { return m_subjects; }
    TFilterPage *HeaderPage() const { return m_headers; }
    QTabWidget *Pages() const { return m_pages; }
    QPushButton *OKButton() const { return m_okBtn; }
    QPushButton *CancelButton() const { return m_cancelBtn; }

    // The subject rules in row order, then the header-field rules in row order, then the rules of kinds
    // the pages do not show (written by another version), in their order: OK must not drop them.
    QList<TSimpleFilter> Rules() const;

private:
    QList<TSimpleFilter> m_otherRules;
    QTabWidget *m_pages;
    TFilterPage *m_subjects;
    TFilterPage *m_headers;
    QPushButton *m_okBtn;
    QPushButton *m_cancelBtn;
};
