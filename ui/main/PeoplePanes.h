// SPDX-License-Identifier: GPL-3.0-or-later
// The upper pane of the main window: the "Available" people, the move buttons and the
// "Receipients", each list with its search field. Moving people sets their entries'
// selected flags; every row holds its own entry.
#pragma once

#include <QWidget>
#include <vector>

#include "model/DatabaseDocument.h"

class QLineEdit;
class QPushButton;
class QTreeView;

namespace tandrel {

class PeopleFilter;
class PeopleModel;

class PeoplePanes : public QWidget {
    Q_OBJECT
public:
    PeoplePanes(DatabaseDocument& database, QWidget* parent);

    // Fills both lists from the database (nothing without one).
    void showDatabase();
    // The lists show what they had, without reading the entries, until showDatabase:
    // for the time another window may change or release the entries.
    void freeze();
    // Empties both lists: they must not outlive the entries they point to.
    void clear();
    // Enables or disables the lists, their searches and the move buttons; disabling
    // also clears the selections and freezes the lists.
    void setListsEnabled(bool on);

    // The entries of the "Receipients" rows, in row order; while the lists are frozen,
    // the selected entries of the database in database order.
    std::vector<Person*> recipientRows() const;
    // The entry of the selected recipient row, or of the first row when none is
    // selected; null without rows.
    Person* chosenRecipient() const;
    // The one selected recipient row's entry, or null.
    Person* singleSelectedRecipient() const;
    int selectedRecipientCount() const;
    // Selects the recipient row `delta` rows from the selected one as the list shows
    // them (the first row without a single selection). False without rows.
    bool stepRecipient(int delta);
    // Makes exactly these entries the recipients, with every search cleared.
    void makeRecipients(const std::vector<Person*>& chosen);

    int recipientCount() const;
    int availableCount() const;
    void setAvailableWidth(int width);

    PeopleModel* availableModel() const { return availModel_; }
    PeopleModel* recipientModel() const { return recipModel_; }
    // The controls in reading order, for the window's tab order.
    std::vector<QWidget*> tabOrder() const;

public slots:
    void moveSelectedToRecipients();
    void moveAllToRecipients();
    void takeBackSelectedRecipients();
    void takeBackAllRecipients();

signals:
    // The number of people in either list changed.
    void countsChanged();
    void recipientSelectionChanged();

private:
    void moveRowsToRecipients(const std::vector<int>& rows);
    void takeBackRows(const std::vector<int>& rows);
    std::vector<int> selectedRows(QTreeView* view) const;

    DatabaseDocument& database_;
    PeopleModel* availModel_ = nullptr;
    PeopleModel* recipModel_ = nullptr;
    PeopleFilter* availFilter_ = nullptr;
    PeopleFilter* recipFilter_ = nullptr;

    QWidget* availablePane_ = nullptr;
    QLineEdit* availableSearch_ = nullptr;
    QTreeView* availableView_ = nullptr;
    QWidget* moveButtonsPane_ = nullptr;
    QPushButton* moveSelectedButton_ = nullptr;
    QPushButton* moveAllButton_ = nullptr;
    QPushButton* takeBackAllButton_ = nullptr;
    QPushButton* takeBackSelectedButton_ = nullptr;
    QLineEdit* recipientsSearch_ = nullptr;
    QTreeView* recipientsView_ = nullptr;
};

} // namespace tandrel
