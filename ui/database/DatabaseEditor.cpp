// SPDX-License-Identifier: GPL-3.0-or-later
// The "Database Editor": the entry list, the current entry's values and the commands on them.
#include "ui/database/DatabaseEditor.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <utility>
#include <vector>

#include "model/DatabaseEditing.h"
#include "ui/DialogHelp.h"
#include "ui/TextBridge.h"
#include "ui/WaitCursor.h"
#include "ui/WidgetHelpers.h"
#include "ui/database/AddPersonDialog.h"
#include "ui/database/FieldsDialog.h"

namespace tandrel {

// The editor's entry list: one row per entry, each row holding the entry itself, so two
// people of the same name stay apart. A model keeps a list of many thousand people quick
// to fill: the view asks only for the rows it shows.
class EntryListModel : public QAbstractListModel {
public:
    EntryListModel(const DatabaseDocument& database, QObject* parent)
        : QAbstractListModel(parent), database_(database) {}

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        Person* e = at(index.row());
        if (!index.isValid() || !e) return {};
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
            return DatabaseString(database_.database(), e->name());
        return {};
    }

    Person* at(int row) const {
        return row >= 0 && row < rowCount() ? rows_[static_cast<std::size_t>(row)] : nullptr;
    }

    void reset(std::vector<Person*> rows) {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }

    void append(Person* e) {
        const int n = rowCount();
        beginInsertRows(QModelIndex(), n, n);
        rows_.push_back(e);
        endInsertRows();
    }

    void refreshRow(int row) {
        const QModelIndex i = index(row);
        emit dataChanged(i, i);
    }

    // Every line again, after the database changed its encoding.
    void refreshAll() {
        if (rowCount() > 0) emit dataChanged(index(0), index(rowCount() - 1));
    }

private:
    const DatabaseDocument& database_;
    std::vector<Person*> rows_;
};

namespace {

class Guard {
public:
    explicit Guard(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
    ~Guard() { flag_ = old_; }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    bool& flag_;
    bool old_;
};

QLineEdit* MakeTextPanel(const char* objectName, const QString& accessibleName) {
    auto* panel = new QLineEdit;
    panel->setObjectName(QString::fromLatin1(objectName));
    panel->setReadOnly(true);
    panel->setAccessibleName(accessibleName);
    // A read-only line edit still looks like an edit, even a disabled one. With the window's
    // colour behind the text and a plain sunken bevel (dark above and left, light below and
    // right) it reads as a display panel, apart from the value edit under the field name.
    panel->setStyleSheet(QStringLiteral(
        "QLineEdit { background: palette(window); padding: 1px 2px;"
        " border: 1px solid; border-color: palette(dark) palette(light) palette(light)"
        " palette(dark); }"));
    return panel;
}

// Outlines the entry list's current line. The current entry is the one shown on the right,
// but it need not be selected (selected lines are the ones "Remove" takes), and the style's
// own focus rectangle appears only after keyboard navigation, so without this outline no
// line would look current when the editor opens.
class CurrentLineDelegate : public QStyledItemDelegate {
public:
    explicit CurrentLineDelegate(QAbstractItemView* view)
        : QStyledItemDelegate(view), view_(view) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        if (index != view_->currentIndex() || (option.state & QStyle::State_Selected)) return;
        painter->save();
        const QPalette::ColorGroup group =
            option.state & QStyle::State_Enabled ? QPalette::Active : QPalette::Disabled;
        painter->setPen(QPen(option.palette.color(group, QPalette::Highlight), 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
        painter->restore();
    }

private:
    QAbstractItemView* view_;
};

void CentreOnScreen(QWidget* w) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        w->move(area.center() - QPoint(w->width() / 2, w->height() / 2));
    }
}

} // namespace

DatabaseEditor::DatabaseEditor(DatabaseDocument& database, QWidget* parent)
    : QDialog(parent), database_(database) {
    setObjectName(QStringLiteral("TdBaseEntry"));
    setWindowTitle(QStringLiteral("Database Editor"));
    resize(591, 321);
    CentreOnScreen(this);

    // Left part: the people and the buttons that act on them.
    auto* left = new QWidget;
    left->setObjectName(QStringLiteral("LeftPanel"));
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    entries_ = new EntryListModel(database_, this);
    entryList_ = new QListView;
    entryList_->setObjectName(QStringLiteral("ListBox2"));
    entryList_->setAccessibleName(QStringLiteral("Entries"));
    entryList_->setModel(entries_);
    entryList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    entryList_->setUniformItemSizes(true);
    entryList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    entryList_->setItemDelegate(new CurrentLineDelegate(entryList_));
    leftLayout->addWidget(entryList_, 1);
    auto* buttons = new QGridLayout;
    addButton_ = MakeButton("Button3", QStringLiteral("Add"));
    removeButton_ = MakeButton("Button4", QStringLiteral("Remove"));
    fieldsButton_ = MakeButton("varEdit", QStringLiteral("Fields..."));
    doneButton_ = MakeButton("Done", QStringLiteral("Done"));
    buttons->addWidget(addButton_, 0, 0);
    buttons->addWidget(removeButton_, 0, 1);
    buttons->addWidget(fieldsButton_, 1, 0);
    buttons->addWidget(doneButton_, 1, 1);
    leftLayout->addLayout(buttons);
    auto* helpRow = new QHBoxLayout;
    helpRow->addStretch(1);
    GiveDialogHelp(*this, GuidePage("database-editor.html"), *helpRow);
    leftLayout->addLayout(helpRow);

    // Right part: the current person, a line per field, and the value being edited.
    entryPanel_ = new QWidget;
    entryPanel_->setObjectName(QStringLiteral("Panel1"));
    auto* rightLayout = new QVBoxLayout(entryPanel_);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    auto* top = new QGridLayout;
    auto* nameLabel = MakeBoldLabel("Label1", QStringLiteral("Name:"));
    auto* mailLabel = MakeBoldLabel("Label2", QStringLiteral("EMail:"));
    nameDisplay_ = MakeTextPanel("Panel10", QStringLiteral("Name:"));
    emailDisplay_ = MakeTextPanel("Panel11", QStringLiteral("EMail:"));
    nameLabel->setBuddy(nameDisplay_);
    mailLabel->setBuddy(emailDisplay_);
    top->addWidget(nameLabel, 0, 0);
    top->addWidget(nameDisplay_, 0, 1);
    top->addWidget(mailLabel, 1, 0);
    top->addWidget(emailDisplay_, 1, 1);
    rightLayout->addLayout(top);
    fieldLines_ = new QListWidget;
    fieldLines_->setObjectName(QStringLiteral("ListBox1"));
    fieldLines_->setAccessibleName(QStringLiteral("Fields"));
    fieldLines_->setSelectionMode(QAbstractItemView::SingleSelection);
    rightLayout->addWidget(fieldLines_, 1);
    auto* bottom = new QGridLayout;
    fieldDisplay_ = MakeTextPanel("Panel9", QStringLiteral("Field"));
    valueEdit_ = new QLineEdit;
    valueEdit_->setObjectName(QStringLiteral("Edit2"));
    valueEdit_->setAccessibleName(QStringLiteral("Value"));
    valueEdit_->setEnabled(false);
    changeButton_ = MakeButton("Button1", QStringLiteral("Change"));
    changeButton_->setEnabled(false);
    bottom->addWidget(fieldDisplay_, 0, 0);
    bottom->addWidget(valueEdit_, 1, 0);
    bottom->addWidget(changeButton_, 0, 1, 2, 1);
    rightLayout->addLayout(bottom);

    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->setObjectName(QStringLiteral("Splitter1"));
    splitter->setHandleWidth(10);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(left);
    splitter->addWidget(entryPanel_);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({185, 591 - 185 - 10});
    auto* outer = new QHBoxLayout(this);
    outer->addWidget(splitter);

    // "Change" is the only button that is ever the default, and only while a value is
    // edited. Registering it with the dialog (which needs it to be placed in the dialog
    // already) keeps the dialog from making the first button, "Add", the default when
    // it is shown, so Enter in the entry list does not open the add dialog; whenever
    // the dialog falls back to "Change" outside the value edit, "Change" is disabled.
    changeButton_->setDefault(true);
    changeButton_->setDefault(false);

    // Reading order: left part top to bottom, then the right part.
    setTabOrder(entryList_, addButton_);
    setTabOrder(addButton_, removeButton_);
    setTabOrder(removeButton_, fieldsButton_);
    setTabOrder(fieldsButton_, doneButton_);
    setTabOrder(doneButton_, nameDisplay_);
    setTabOrder(nameDisplay_, emailDisplay_);
    setTabOrder(emailDisplay_, fieldLines_);
    setTabOrder(fieldLines_, fieldDisplay_);
    setTabOrder(fieldDisplay_, valueEdit_);
    setTabOrder(valueEdit_, changeButton_);

    connect(entryList_, &QAbstractItemView::clicked, this, [this] { onEntryClicked(); });
    connect(entryList_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        if (!updating_) onEntryClicked();
    });
    connect(fieldLines_, &QListWidget::itemClicked, this, [this] { onFieldLineClicked(); });
    // Moving through the fields with the keyboard picks each one but leaves the focus in
    // the list, so the keys keep working there.
    connect(fieldLines_, &QListWidget::currentRowChanged, this, [this] {
        if (!updating_) pickField(false);
    });
    connect(changeButton_, &QPushButton::clicked, this, [this] { changeValue(); });
    connect(addButton_, &QPushButton::clicked, this, [this] { addPerson(); });
    connect(removeButton_, &QPushButton::clicked, this, [this] { removeSelectedEntries(); });
    connect(fieldsButton_, &QPushButton::clicked, this, [this] { editFields(); });
    connect(doneButton_, &QPushButton::clicked, this, [this] { finishEditing(); });
    valueEdit_->installEventFilter(this);

    addDialog_ = new AddPersonDialog(database_, parent);
    fieldsDialog_ = new FieldsDialog(database_, parent);
    connect(addDialog_, &AddPersonDialog::personAdded, this, &DatabaseEditor::appendEntryLine);
    connect(fieldsDialog_, &FieldsDialog::editingDone, this, &DatabaseEditor::showCurrentEntry);
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget* old, QWidget* now) { onFocusChanged(old, now); });
}

DatabaseEditor::~DatabaseEditor() {
    // Children die after this body; keep their focus changes away from a half-gone editor.
    disconnect(qApp, nullptr, this, nullptr);
    valueEdit_->removeEventFilter(this);
    // Without a window to belong to, the dialogs are the editor's to release.
    if (!parent()) {
        delete addDialog_;
        delete fieldsDialog_;
    }
}

void DatabaseEditor::startNewDatabase() {
    {
        Guard g(updating_);
        entries_->reset({});
        clearDisplay();
    }
    fieldsDialog_->clear();
    addDialog_->clear();
    database_.startNew();
    // A modeless editor that is still open becomes the modal one.
    if (isVisible()) QDialog::setVisible(false);
    exec();
}

void DatabaseEditor::fillEntryList() {
    WaitCursor wait;
    std::vector<Person*> rows;
    if (db()) {
        rows.reserve(db()->entries.size());
        for (const auto& e : db()->entries)
            rows.push_back(e.get());
    }
    Guard g(updating_);
    entries_->reset(std::move(rows));
    // Like a list box's caret, the first line is current after filling.
    if (entries_->rowCount() > 0) {
        entryList_->selectionModel()->setCurrentIndex(entries_->index(0),
                                                      QItemSelectionModel::NoUpdate);
        entryList_->scrollTo(entryList_->currentIndex());
    }
}

void DatabaseEditor::showCurrentEntry() {
    Person* e = currentEntry();
    if (!db() || db()->entries.empty() || !e) {
        // Nobody to show: do not keep showing someone who is gone.
        clearDisplay();
        return;
    }
    nameDisplay_->setText(shown(e->name()));
    emailDisplay_->setText(shown(e->email()));
    Guard g(updating_);
    fieldLines_->clear();
    const std::vector<std::string> lines = FieldLines(*db(), *e);
    for (std::size_t k = 0; k < lines.size(); ++k) {
        auto* item = new QListWidgetItem(shown(lines[k]));
        // Values beyond the last field have no field to be edited under.
        if (k >= db()->fields.size()) item->setFlags(Qt::NoItemFlags);
        fieldLines_->addItem(item);
    }
}

void DatabaseEditor::appendEntryLine(Person* entry) {
    if (!entry) return;
    Guard g(updating_);
    // Adding someone may have turned every line's text into UTF-8.
    entries_->refreshAll();
    entries_->append(entry);
    if (!entryList_->currentIndex().isValid())
        entryList_->selectionModel()->setCurrentIndex(entries_->index(entries_->rowCount() - 1),
                                                      QItemSelectionModel::NoUpdate);
}

Person* DatabaseEditor::currentEntry() const {
    return entryAt(currentLine());
}

Person* DatabaseEditor::entryAt(int row) const {
    return entries_->at(row);
}

QString DatabaseEditor::shown(const std::string& bytes) const {
    return DatabaseString(db(), bytes);
}

int DatabaseEditor::entryLineCount() const {
    return entries_->rowCount();
}

int DatabaseEditor::currentLine() const {
    const QModelIndex i = entryList_->currentIndex();
    return i.isValid() ? i.row() : -1;
}

int DatabaseEditor::selectedFieldLine() const {
    if (!db()) return -1;
    const QList<QListWidgetItem*> items = fieldLines_->selectedItems();
    if (items.isEmpty()) return -1;
    const int k = fieldLines_->row(items.first());
    return k >= 0 && static_cast<std::size_t>(k) < db()->fields.size() ? k : -1;
}

void DatabaseEditor::clearDisplay() {
    Guard g(updating_);
    nameDisplay_->clear();
    emailDisplay_->clear();
    fieldLines_->clear();
    fieldDisplay_->clear();
    valueEdit_->clear();
}

void DatabaseEditor::onEntryClicked() {
    showCurrentEntry();
    fieldDisplay_->clear();
    valueEdit_->clear();
}

void DatabaseEditor::onFieldLineClicked() {
    pickField(true);
}

void DatabaseEditor::pickField(bool takeFocus) {
    if (!db() || db()->fields.empty() || db()->entries.empty()) return;
    const int k = selectedFieldLine();
    Person* e = currentEntry();
    if (k < 0 || !e) return;
    const auto pos = static_cast<std::size_t>(k);
    fieldDisplay_->setText(shown(db()->fields[pos].name));
    valueEdit_->setText(pos < e->values.size() ? shown(e->values[pos]) : QString());
    valueEdit_->setEnabled(true);
    if (!takeFocus) return;
    valueEdit_->setFocus();
    // The focus arrives later when the window is not active; the edit is ready either way.
    onValueEditEntered();
}

void DatabaseEditor::onValueEditEntered() {
    changeButton_->setEnabled(true);
    changeButton_->setDefault(true);
}

void DatabaseEditor::onEntryPanelLeft() {
    changeButton_->setDefault(false);
    changeButton_->setEnabled(false);
    valueEdit_->setEnabled(false);
}

void DatabaseEditor::changeValue() {
    const int i = currentLine();
    const int k = selectedFieldLine();
    Person* e = entryAt(i);
    if (!db() || !e || k < 0) return;
    const TextEncoding before = db()->encoding;
    const std::string value = DatabaseBytes(database_, valueEdit_->text());
    if (!SetEntryValue(*db(), *e, static_cast<std::size_t>(k), value)) return;
    Guard g(updating_);
    if (db()->encoding != before) entries_->refreshAll();
    entries_->refreshRow(i);
    entryList_->selectionModel()->select(entries_->index(i), QItemSelectionModel::Select);
    showCurrentEntry();
    fieldLines_->setCurrentRow(k);
}

void DatabaseEditor::addPerson() {
    if (!db()) return;
    addDialog_->clear(); // a new person starts from nothing
    addDialog_->exec();
    takeFocusBack();
}

// The dialogs belong to the main window; after one closes, the user goes on here.
void DatabaseEditor::takeFocusBack() {
    if (!isVisible()) return;
    activateWindow();
    entryList_->setFocus(Qt::OtherFocusReason);
}

void DatabaseEditor::removeSelectedEntries() {
    if (!db()) return;
    const QModelIndexList picked = entryList_->selectionModel()->selectedRows();
    if (picked.isEmpty()) return;
    {
        WaitCursor wait;
        std::vector<const Person*> victims;
        victims.reserve(static_cast<std::size_t>(picked.size()));
        for (const QModelIndex& i : picked)
            victims.push_back(entries_->at(i.row()));
        RemoveEntries(*db(), victims);
    }
    fillEntryList();
    showCurrentEntry();
}

void DatabaseEditor::editFields() {
    if (!db()) return;
    fieldsDialog_->fillFieldList();
    fieldsDialog_->exec();
    takeFocusBack();
}

void DatabaseEditor::finishEditing() {
    close();
}

void DatabaseEditor::done(int r) {
    const bool wasOpen = isVisible();
    QDialog::done(r);
    if (wasOpen) onClosed();
}

void DatabaseEditor::onClosed() {
    // A closed editor holds no entries: the database may be replaced before it opens again.
    {
        Guard g(updating_);
        entries_->reset({});
        clearDisplay();
    }
    onEntryPanelLeft();
    emit closed();
}

bool DatabaseEditor::eventFilter(QObject* watched, QEvent* event) {
    if (watched == valueEdit_ && event->type() == QEvent::FocusIn) onValueEditEntered();
    return QDialog::eventFilter(watched, event);
}

void DatabaseEditor::onFocusChanged(QWidget* old, QWidget* now) {
    if (!old || !now || now->window() != this) return;
    if (!entryPanel_->isAncestorOf(old)) return;
    if (now == entryPanel_ || entryPanel_->isAncestorOf(now)) return;
    onEntryPanelLeft();
}

} // namespace tandrel
