// The main window's people lists: filling them from the database, moving people between
// "Available" and "Receipients", and the counts in the status bar.
#include "MainWindow.h"

#include <QAction>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>
#include <algorithm>
#include <utility>

#include "MainWindowParts.h"
#include "PeopleFilter.h"
#include "PeopleModel.h"
#include "SendCommand.h"

using namespace tandrel::mainwindow;
using tandrel::MailEditors;
using tandrel::ReceipData;
// ---------------------------------------------------------------------------------------
// Lists and status bar

std::vector<ReceipData*> MainWindow::recipientRows() const {
    // While the database editor is open the rows may stand for entries it has removed;
    // the selected entries of the database are then the recipients, in database order.
    if (recipModel_->frozen()) {
        std::vector<ReceipData*> chosen;
        if (st_.db)
            for (const auto& e : st_.db->entries)
                if (e->selected) chosen.push_back(e.get());
        return chosen;
    }
    return recipModel_->entries();
}

void MainWindow::refreshLists() {
    if (!st_.db) {
        updateTitle();
        return;
    }
    fieldList->clear();
    for (const auto& f : st_.db->fields)
        fieldList->addItem(fromBytes(f.name));

    std::vector<ReceipData*> all;
    std::vector<ReceipData*> chosen;
    all.reserve(st_.db->entries.size());
    for (const auto& e : st_.db->entries) {
        all.push_back(e.get());
        if (e->selected) chosen.push_back(e.get());
    }
    availModel_->setEntries(std::move(all));
    recipModel_->setEntries(std::move(chosen));
    endPreview();
    updateStatusBar();
    updateTitle();
    updateNotReachedCommand();
}

void MainWindow::updateStatusBar() {
    panels_[2]->setText(QStringLiteral("%1 attachments").arg(st_.attachments.size()));
    panels_[1]->setText(QStringLiteral("%1 of %2 receipients selected")
                            .arg(recipModel_->rowCount())
                            .arg(availModel_->rowCount()));
}

void MainWindow::setControlsEnabled(bool on) {
    controlsEnabled_ = on;
    for (QToolButton* b : toolButtons_)
        b->setEnabled(on);
    for (QFrame* s : toolSeparators_)
        s->setEnabled(on);
    if (!on) {
        endPreview();
        recipientsView->clearSelection();
        availableView->clearSelection();
        fieldList->clearSelection();
        // The database editor may now change or remove entries behind the lists' back:
        // they show what they had until they are rebuilt.
        availModel_->freeze();
        recipModel_->freeze();
    }
    for (QWidget* w : std::initializer_list<QWidget*>{
             takeBackSelectedButton, moveSelectedButton, moveAllButton, takeBackAllButton,
             fieldList, recipientsView, availableView, previewButton, sendButton, availableSearch,
             recipientsSearch})
        w->setEnabled(on);
    sendTestAction->setEnabled(on);
    updateNotReachedCommand();
}

// Rows of the list's model underneath the search filter.
std::vector<int> MainWindow::selectedRows(QTreeView* view) const {
    std::vector<int> rows;
    const auto* filter = static_cast<const PeopleFilter*>(view->model());
    const QItemSelection sel = filter->mapSelectionToSource(view->selectionModel()->selection());
    for (const QItemSelectionRange& r : sel)
        for (int row = r.top(); row <= r.bottom(); ++row)
            rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

int MainWindow::selectedRecipientCount() const {
    return static_cast<int>(selectedRows(recipientsView).size());
}

void MainWindow::moveSelectedToRecipients() {
    if (!st_.db || st_.db->entries.empty() || availModel_->frozen()) return;
    const std::vector<int> rows = selectedRows(availableView);
    if (rows.empty()) return;
    WaitCursor wait;
    moveRowsToRecipients(rows);
}

// Each row stands for its own entry, so two people of the same name both move.
void MainWindow::moveRowsToRecipients(const std::vector<int>& rows) {
    std::vector<ReceipData*> moved;
    for (int row : rows) {
        ReceipData* e = availModel_->entryAt(row);
        if (!e || e->selected) continue;
        e->selected = true;
        moved.push_back(e);
    }
    recipModel_->appendEntries(moved);
    availModel_->selectionMarksChanged();
    updateStatusBar();
}

// The rows a search leaves shown, as rows of the model underneath.
static std::vector<int> shownRows(const PeopleFilter& filter) {
    std::vector<int> rows;
    rows.reserve(static_cast<std::size_t>(filter.rowCount()));
    for (int r = 0; r < filter.rowCount(); ++r)
        rows.push_back(filter.mapToSource(filter.index(r, 0)).row());
    return rows;
}

void MainWindow::moveAllToRecipients() {
    if (!st_.db || st_.db->entries.empty() || availModel_->frozen()) return;
    WaitCursor wait;
    if (!availableSearch->text().isEmpty()) {
        moveRowsToRecipients(shownRows(*availFilter_));
        return;
    }
    std::vector<ReceipData*> moved;
    for (const auto& e : st_.db->entries) {
        if (e->selected) continue;
        e->selected = true;
        moved.push_back(e.get());
    }
    recipModel_->appendEntries(moved);
    availModel_->selectionMarksChanged();
    updateStatusBar();
}

void MainWindow::takeBackSelectedRecipients() {
    if (recipModel_->frozen()) return;
    const std::vector<int> rows = selectedRows(recipientsView);
    if (rows.empty()) return;
    WaitCursor wait;
    // Every selected row goes back, whatever its name.
    for (int row : rows)
        if (ReceipData* e = recipModel_->entryAt(row)) e->selected = false;
    recipModel_->removeRowsAt(rows);
    availModel_->selectionMarksChanged();
    updateStatusBar();
}

void MainWindow::takeBackAllRecipients() {
    if (recipModel_->rowCount() == 0 || recipModel_->frozen()) return;
    WaitCursor wait;
    if (!recipientsSearch->text().isEmpty()) {
        const std::vector<int> rows = shownRows(*recipFilter_);
        for (int row : rows)
            if (ReceipData* e = recipModel_->entryAt(row)) e->selected = false;
        recipModel_->removeRowsAt(rows);
        availModel_->selectionMarksChanged();
        updateStatusBar();
        return;
    }
    if (st_.db)
        for (const auto& e : st_.db->entries)
            e->selected = false;
    for (ReceipData* e : recipModel_->entries())
        e->selected = false;
    recipModel_->clear();
    availModel_->selectionMarksChanged();
    updateStatusBar();
}

void MainWindow::filterList(PeopleFilter* filter, const QString& text) {
    filter->setSearchText(text);
}

void MainWindow::updateNotReachedCommand() {
    notReachedAction->setEnabled(controlsEnabled_ && !tandrel::RecipientsNotReached(st_).empty());
}

void MainWindow::selectRecipientsNotReached() {
    if (!st_.db || recipModel_->frozen()) return;
    const std::vector<ReceipData*> missed = tandrel::RecipientsNotReached(st_);
    if (missed.empty()) return;
    WaitCursor wait;
    for (const auto& e : st_.db->entries)
        e->selected = false;
    for (ReceipData* e : missed)
        e->selected = true;
    // Nobody is hidden by an old search: the user should see whom the command chose.
    availableSearch->clear();
    recipientsSearch->clear();
    recipModel_->setEntries(missed);
    availModel_->selectionMarksChanged();
    endPreview();
    updateStatusBar();
}
