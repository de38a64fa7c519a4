// SPDX-License-Identifier: GPL-3.0-or-later
// The people lists of the main window: filling them, moving people between them, and
// the searches.
#include "ui/main/PeoplePanes.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/ListColumns.h"
#include "ui/main/MainLook.h"
#include "ui/main/PeopleFilter.h"
#include "ui/main/PeopleModel.h"

namespace tandrel {

using namespace mainwindow;

namespace {

QTreeView* MakeList(const char* name, QAbstractItemModel* model) {
    auto* v = new QTreeView;
    v->setObjectName(QString::fromLatin1(name));
    v->setModel(model);
    v->setRootIsDecorated(false);
    v->setItemsExpandable(false);
    v->setUniformRowHeights(true); // keeps a hundred thousand rows cheap
    v->setSelectionMode(QAbstractItemView::ExtendedSelection);
    v->setSelectionBehavior(QAbstractItemView::SelectRows);
    v->setEditTriggers(QAbstractItemView::NoEditTriggers);
    v->setAllColumnsShowFocus(true);
    // Long values lose their middle, not their end, and show whole in their tooltip.
    MakeColumnsResizable(*v);
    // Columns fit what the list shows as it is loaded and resized, until the user drags one.
    KeepColumnsFitted(*v);
    return v;
}

// The rows a search leaves shown, as rows of the model underneath.
std::vector<int> ShownRows(const PeopleFilter& filter) {
    std::vector<int> rows;
    rows.reserve(static_cast<std::size_t>(filter.rowCount()));
    for (int r = 0; r < filter.rowCount(); ++r)
        rows.push_back(filter.mapToSource(filter.index(r, 0)).row());
    return rows;
}

} // namespace

PeoplePanes::PeoplePanes(DatabaseDocument& database, QWidget* parent)
    : QWidget(parent), database_(database) {
    setObjectName(QStringLiteral("Panel4"));
    availModel_ = new PeopleModel(PeopleModel::Kind::Available, this);
    recipModel_ = new PeopleModel(PeopleModel::Kind::Receipients, this);
    availFilter_ = new PeopleFilter(availModel_, this);
    recipFilter_ = new PeopleFilter(recipModel_, this);

    auto* upper = new QHBoxLayout(this);
    upper->setContentsMargins(0, 0, 0, 0);
    upper->setSpacing(0);

    // One list with its title above and its search field between the two.
    struct Side {
        const char *pane, *title, *search, *view;
        QString caption, viewHint, searchName;
        int helpContext;
    };
    auto makeSide = [this](const Side& s, PeopleFilter* filter, QLineEdit*& search,
                           QTreeView*& view) {
        auto* pane = new QWidget;
        pane->setObjectName(QString::fromLatin1(s.pane));
        auto* column = new QVBoxLayout(pane);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        auto* title = new QLabel(s.caption);
        title->setObjectName(QString::fromLatin1(s.title));
        title->setFixedHeight(32);
        title->setAlignment(Qt::AlignCenter);
        title->setFrameShape(QFrame::Box);
        title->setFrameShadow(QFrame::Plain);
        title->setFont(scaledFont(font(), 18, true));
        title->setAccessibleName(s.caption);
        view = MakeList(s.view, filter);
        setHint(view, s.viewHint);
        view->setProperty(kHelpContext, s.helpContext);
        view->setAccessibleName(s.caption);
        search = new QLineEdit;
        search->setObjectName(QString::fromLatin1(s.search));
        search->setPlaceholderText(QStringLiteral("Search"));
        search->setClearButtonEnabled(true);
        setHint(search,
                QStringLiteral("|Show only the people whose name or e-mail contains this text"));
        search->setProperty(kHelpContext, 6);
        search->setAccessibleName(s.searchName);
        // Shows only the people whose name or address contains the text.
        connect(search, &QLineEdit::textChanged, this,
                [filter](const QString& text) { filter->setSearchText(text); });
        column->addWidget(title);
        column->addWidget(search);
        column->addWidget(view, 1);
        return pane;
    };

    availablePane_ = makeSide(
        {"Panel5", "Panel6", "SearchAvailable", "ListView2", QStringLiteral("Available"),
         QStringLiteral("|List of available people"), QStringLiteral("Search available people"), 6},
        availFilter_, availableSearch_, availableView_);
    availablePane_->setFixedWidth(267);
    upper->addWidget(availablePane_);

    moveButtonsPane_ = new QWidget;
    moveButtonsPane_->setObjectName(QStringLiteral("Panel3"));
    moveButtonsPane_->setFixedWidth(kMoveButtonsWidth);
    auto moveButton = [this](const char* name, const QString& text, int top,
                             void (PeoplePanes::*slot)(), const QString& description) {
        auto* b = new QPushButton(text, moveButtonsPane_);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry((kMoveButtonsWidth - 33) / 2, top, 33, 25);
        b->setFont(scaledFont(font(), 12, false));
        b->setAutoDefault(false);
        b->setAccessibleName(text);
        b->setAccessibleDescription(description);
        connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    moveSelectedButton_ =
        moveButton("Button2", QStringLiteral("->"), 16, &PeoplePanes::moveSelectedToRecipients,
                   QStringLiteral("Move the selected people to the receipients"));
    moveAllButton_ =
        moveButton("Button3", QStringLiteral("->>"), 56, &PeoplePanes::moveAllToRecipients,
                   QStringLiteral("Move everybody to the receipients"));
    takeBackAllButton_ =
        moveButton("Button4", QStringLiteral("<<-"), 120, &PeoplePanes::takeBackAllRecipients,
                   QStringLiteral("Take all receipients back"));
    takeBackSelectedButton_ =
        moveButton("Button1", QStringLiteral("<-"), 160, &PeoplePanes::takeBackSelectedRecipients,
                   QStringLiteral("Take the selected receipients back"));
    upper->addWidget(moveButtonsPane_);

    upper->addWidget(
        makeSide({"Panel7", "Panel8", "SearchReceipients", "ListView1",
                  QStringLiteral("Receipients"), QStringLiteral("|List of receipients"),
                  QStringLiteral("Search receipients"), 7},
                 recipFilter_, recipientsSearch_, recipientsView_),
        1);

    connect(recipientsView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &PeoplePanes::recipientSelectionChanged);
}

std::vector<QWidget*> PeoplePanes::tabOrder() const {
    return {availableSearch_,   availableView_,          moveSelectedButton_, moveAllButton_,
            takeBackAllButton_, takeBackSelectedButton_, recipientsSearch_,   recipientsView_};
}

void PeoplePanes::showDatabase() {
    const Database* db = database_.database();
    if (!db) return;
    std::vector<Person*> all;
    std::vector<Person*> chosen;
    all.reserve(db->entries.size());
    for (const auto& e : db->entries) {
        all.push_back(e.get());
        if (e->selected) chosen.push_back(e.get());
    }
    availModel_->setEncoding(db->encoding);
    recipModel_->setEncoding(db->encoding);
    availModel_->setEntries(std::move(all));
    recipModel_->setEntries(std::move(chosen));
}

void PeoplePanes::freeze() {
    availModel_->freeze();
    recipModel_->freeze();
}

void PeoplePanes::clear() {
    availModel_->clear();
    recipModel_->clear();
}

void PeoplePanes::setListsEnabled(bool on) {
    if (!on) {
        recipientsView_->clearSelection();
        availableView_->clearSelection();
        // The database editor may now change or remove entries behind the lists' back:
        // they show what they had until they are rebuilt.
        freeze();
    }
    for (QWidget* w : std::initializer_list<QWidget*>{
             takeBackSelectedButton_, moveSelectedButton_, moveAllButton_, takeBackAllButton_,
             recipientsView_, availableView_, availableSearch_, recipientsSearch_})
        w->setEnabled(on);
}

std::vector<Person*> PeoplePanes::recipientRows() const {
    // While the database editor is open the rows may stand for entries it has removed;
    // the selected entries of the database are then the recipients, in database order.
    if (recipModel_->frozen()) {
        std::vector<Person*> chosen;
        if (const Database* db = database_.database())
            for (const auto& e : db->entries)
                if (e->selected) chosen.push_back(e.get());
        return chosen;
    }
    return recipModel_->entries();
}

// Rows of the list's model underneath the search filter.
std::vector<int> PeoplePanes::selectedRows(QTreeView* view) const {
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

Person* PeoplePanes::chosenRecipient() const {
    const std::vector<int> rows = selectedRows(recipientsView_);
    return recipModel_->entryAt(rows.empty() ? 0 : rows.front());
}

Person* PeoplePanes::singleSelectedRecipient() const {
    const std::vector<int> rows = selectedRows(recipientsView_);
    return rows.size() == 1 ? recipModel_->entryAt(rows.front()) : nullptr;
}

int PeoplePanes::selectedRecipientCount() const {
    return static_cast<int>(selectedRows(recipientsView_).size());
}

// Steps through the rows as the list shows them (sorted or searched), not as stored.
bool PeoplePanes::stepRecipient(int delta) {
    QAbstractItemModel* shown = recipientsView_->model();
    const int count = shown->rowCount();
    if (count == 0) return false;
    const QModelIndexList sel = recipientsView_->selectionModel()->selectedRows();
    int row = 0;
    if (sel.size() == 1) row = std::clamp(sel.front().row() + delta, 0, count - 1);
    const QModelIndex target = shown->index(row, 0);
    recipientsView_->setCurrentIndex(target);
    recipientsView_->selectionModel()->select(target, QItemSelectionModel::ClearAndSelect |
                                                          QItemSelectionModel::Rows);
    recipientsView_->scrollTo(target);
    return true;
}

int PeoplePanes::recipientCount() const {
    return recipModel_->rowCount();
}

int PeoplePanes::availableCount() const {
    return availModel_->rowCount();
}

void PeoplePanes::setAvailableWidth(int width) {
    availablePane_->setFixedWidth(std::max(0, width));
}

void PeoplePanes::moveSelectedToRecipients() {
    const Database* db = database_.database();
    if (!db || db->entries.empty() || availModel_->frozen()) return;
    const std::vector<int> rows = selectedRows(availableView_);
    if (rows.empty()) return;
    WaitCursor wait;
    moveRowsToRecipients(rows);
}

// Each row stands for its own entry, so two people of the same name both move.
void PeoplePanes::moveRowsToRecipients(const std::vector<int>& rows) {
    std::vector<Person*> moved;
    for (int row : rows) {
        Person* e = availModel_->entryAt(row);
        if (!e || e->selected) continue;
        e->selected = true;
        moved.push_back(e);
    }
    recipModel_->appendEntries(moved);
    availModel_->selectionMarksChanged();
    emit countsChanged();
}

void PeoplePanes::moveAllToRecipients() {
    const Database* db = database_.database();
    if (!db || db->entries.empty() || availModel_->frozen()) return;
    WaitCursor wait;
    if (!availableSearch_->text().isEmpty()) {
        moveRowsToRecipients(ShownRows(*availFilter_));
        return;
    }
    std::vector<Person*> moved;
    for (const auto& e : db->entries) {
        if (e->selected) continue;
        e->selected = true;
        moved.push_back(e.get());
    }
    recipModel_->appendEntries(moved);
    availModel_->selectionMarksChanged();
    emit countsChanged();
}

// Every given row goes back, whatever its name.
void PeoplePanes::takeBackRows(const std::vector<int>& rows) {
    for (int row : rows)
        if (Person* e = recipModel_->entryAt(row)) e->selected = false;
    recipModel_->removeRowsAt(rows);
    availModel_->selectionMarksChanged();
    emit countsChanged();
}

void PeoplePanes::takeBackSelectedRecipients() {
    if (recipModel_->frozen()) return;
    const std::vector<int> rows = selectedRows(recipientsView_);
    if (rows.empty()) return;
    WaitCursor wait;
    takeBackRows(rows);
}

void PeoplePanes::takeBackAllRecipients() {
    if (recipModel_->rowCount() == 0 || recipModel_->frozen()) return;
    WaitCursor wait;
    if (!recipientsSearch_->text().isEmpty()) {
        takeBackRows(ShownRows(*recipFilter_));
        return;
    }
    if (const Database* db = database_.database())
        for (const auto& e : db->entries)
            e->selected = false;
    for (Person* e : recipModel_->entries())
        e->selected = false;
    recipModel_->clear();
    availModel_->selectionMarksChanged();
    emit countsChanged();
}

void PeoplePanes::makeRecipients(const std::vector<Person*>& chosen) {
    WaitCursor wait;
    if (const Database* db = database_.database())
        for (const auto& e : db->entries)
            e->selected = false;
    for (Person* e : chosen)
        e->selected = true;
    // Nobody is hidden by an old search: the user should see whom the command chose.
    availableSearch_->clear();
    recipientsSearch_->clear();
    recipModel_->setEntries(chosen);
    availModel_->selectionMarksChanged();
    emit countsChanged();
}

} // namespace tandrel
