#include "DatabaseEditor.h"

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

#include "AddDialog.h"
#include "DatabaseEditing.h"
#include "FieldsDialog.h"
#include "WidgetHelpers.h"

namespace tandrel {

// The editor's entry list: one row per entry, each row holding the entry itself, so two
// people of the same name stay apart. A model keeps a list of many thousand people quick
// to fill: the view asks only for the rows it shows.
class EntryListModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        ReceipData* e = at(index.row());
        if (!index.isValid() || !e) return {};
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
            return QString::fromLocal8Bit(e->name);
        return {};
    }

    ReceipData* at(int row) const {
        return row >= 0 && row < rowCount() ? rows_[static_cast<std::size_t>(row)] : nullptr;
    }

    void reset(std::vector<ReceipData*> rows) {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }

    void append(ReceipData* e) {
        const int n = rowCount();
        beginInsertRows(QModelIndex(), n, n);
        rows_.push_back(e);
        endInsertRows();
    }

    void refreshRow(int row) {
        const QModelIndex i = index(row);
        emit dataChanged(i, i);
    }

private:
    std::vector<ReceipData*> rows_;
};

} // namespace tandrel

using tandrel::ReceipData;

using tandrel::MakeBoldLabel;
using tandrel::MakeButton;

namespace {

QString ToQ(const std::string& s) {
    return QString::fromLocal8Bit(s);
}
std::string FromQ(const QString& s) {
    return s.toLocal8Bit().toStdString();
}

// Shows the hourglass for the lifetime of the object, restoring the cursor however the
// scope is left.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

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

TdBaseEntry::TdBaseEntry(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
                         QWidget* parent)
    : QDialog(parent), st_(st), main_(main), forms_(forms) {
    setObjectName(QStringLiteral("TdBaseEntry"));
    setWindowTitle(QStringLiteral("Database Editor"));
    resize(591, 321);
    CentreOnScreen(this);

    // Left part: the people and the buttons that act on them.
    auto* left = new QWidget;
    left->setObjectName(QStringLiteral("LeftPanel"));
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    entries_ = new tandrel::EntryListModel(this);
    ListBox2 = new QListView;
    ListBox2->setObjectName(QStringLiteral("ListBox2"));
    ListBox2->setAccessibleName(QStringLiteral("Entries"));
    ListBox2->setModel(entries_);
    ListBox2->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListBox2->setUniformItemSizes(true);
    ListBox2->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListBox2->setItemDelegate(new CurrentLineDelegate(ListBox2));
    leftLayout->addWidget(ListBox2, 1);
    auto* buttons = new QGridLayout;
    Button3 = MakeButton("Button3", QStringLiteral("Add"));
    Button4 = MakeButton("Button4", QStringLiteral("Remove"));
    varEdit = MakeButton("varEdit", QStringLiteral("Fields..."));
    Done = MakeButton("Done", QStringLiteral("Done"));
    buttons->addWidget(Button3, 0, 0);
    buttons->addWidget(Button4, 0, 1);
    buttons->addWidget(varEdit, 1, 0);
    buttons->addWidget(Done, 1, 1);
    leftLayout->addLayout(buttons);

    // Right part: the current person, a line per field, and the value being edited.
    Panel1 = new QWidget;
    Panel1->setObjectName(QStringLiteral("Panel1"));
    auto* rightLayout = new QVBoxLayout(Panel1);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    auto* top = new QGridLayout;
    auto* nameLabel = MakeBoldLabel("Label1", QStringLiteral("Name:"));
    auto* mailLabel = MakeBoldLabel("Label2", QStringLiteral("EMail:"));
    Panel10 = MakeTextPanel("Panel10", QStringLiteral("Name:"));
    Panel11 = MakeTextPanel("Panel11", QStringLiteral("EMail:"));
    nameLabel->setBuddy(Panel10);
    mailLabel->setBuddy(Panel11);
    top->addWidget(nameLabel, 0, 0);
    top->addWidget(Panel10, 0, 1);
    top->addWidget(mailLabel, 1, 0);
    top->addWidget(Panel11, 1, 1);
    rightLayout->addLayout(top);
    ListBox1 = new QListWidget;
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setAccessibleName(QStringLiteral("Fields"));
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    rightLayout->addWidget(ListBox1, 1);
    auto* bottom = new QGridLayout;
    Panel9 = MakeTextPanel("Panel9", QStringLiteral("Field"));
    Edit2 = new QLineEdit;
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setAccessibleName(QStringLiteral("Value"));
    Edit2->setEnabled(false);
    Button1 = MakeButton("Button1", QStringLiteral("Change"));
    Button1->setEnabled(false);
    bottom->addWidget(Panel9, 0, 0);
    bottom->addWidget(Edit2, 1, 0);
    bottom->addWidget(Button1, 0, 1, 2, 1);
    rightLayout->addLayout(bottom);

    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->setObjectName(QStringLiteral("Splitter1"));
    splitter->setHandleWidth(10);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(left);
    splitter->addWidget(Panel1);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({185, 591 - 185 - 10});
    auto* outer = new QHBoxLayout(this);
    outer->addWidget(splitter);

    // "Change" is the only button that is ever the default, and only while a value is
    // edited. Registering it with the dialog (which needs it to be placed in the dialog
    // already) keeps the dialog from making the first button, "Add", the default when
    // it is shown, so Enter in the entry list does not open the add dialog; whenever
    // the dialog falls back to "Change" outside the value edit, "Change" is disabled.
    Button1->setDefault(true);
    Button1->setDefault(false);

    // Reading order: left part top to bottom, then the right part.
    setTabOrder(ListBox2, Button3);
    setTabOrder(Button3, Button4);
    setTabOrder(Button4, varEdit);
    setTabOrder(varEdit, Done);
    setTabOrder(Done, Panel10);
    setTabOrder(Panel10, Panel11);
    setTabOrder(Panel11, ListBox1);
    setTabOrder(ListBox1, Panel9);
    setTabOrder(Panel9, Edit2);
    setTabOrder(Edit2, Button1);

    connect(ListBox2, &QAbstractItemView::clicked, this, [this] { ListBox2Click(); });
    connect(ListBox2->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        if (!updating_) ListBox2Click();
    });
    connect(ListBox1, &QListWidget::itemClicked, this, [this] { ListBox1Click(); });
    // Moving through the fields with the keyboard picks each one but leaves the focus in
    // the list, so the keys keep working there.
    connect(ListBox1, &QListWidget::currentRowChanged, this, [this] {
        if (!updating_) pickField(false);
    });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
    connect(varEdit, &QPushButton::clicked, this, [this] { varEditClick(); });
    connect(Done, &QPushButton::clicked, this, [this] { DoneClick(); });
    Edit2->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget* old, QWidget* now) { onFocusChanged(old, now); });
}

TdBaseEntry::~TdBaseEntry() {
    // Children die after this body; keep their focus changes away from a half-gone editor.
    disconnect(qApp, nullptr, this, nullptr);
    Edit2->removeEventFilter(this);
}

void TdBaseEntry::StartNewDatabase() {
    {
        Guard g(updating_);
        entries_->reset({});
        clearDisplay();
    }
    if (forms_.fieldsForm) forms_.fieldsForm->Clear();
    if (forms_.addForm) forms_.addForm->Clear();
    st_.FreeDatabase();
    st_.NewDatabase();
    // A modeless editor that is still open becomes the modal one.
    if (isVisible()) QDialog::setVisible(false);
    exec();
}

void TdBaseEntry::FillEntryList() {
    WaitCursor wait;
    std::vector<ReceipData*> rows;
    if (st_.db) {
        rows.reserve(st_.db->entries.size());
        for (const auto& e : st_.db->entries)
            rows.push_back(e.get());
    }
    Guard g(updating_);
    entries_->reset(std::move(rows));
    // Like a list box's caret, the first line is current after filling.
    if (entries_->rowCount() > 0) {
        ListBox2->selectionModel()->setCurrentIndex(entries_->index(0),
                                                    QItemSelectionModel::NoUpdate);
        ListBox2->scrollTo(ListBox2->currentIndex());
    }
}

void TdBaseEntry::ShowCurrentEntry() {
    ReceipData* e = currentEntry();
    if (!st_.db || st_.db->entries.empty() || !e) {
        // Nobody to show: do not keep showing someone who is gone.
        clearDisplay();
        return;
    }
    Panel10->setText(ToQ(e->name));
    Panel11->setText(ToQ(e->email));
    Guard g(updating_);
    ListBox1->clear();
    const std::vector<std::string> lines = tandrel::FieldLines(*st_.db, *e);
    for (std::size_t k = 0; k < lines.size(); ++k) {
        auto* item = new QListWidgetItem(ToQ(lines[k]));
        // Values beyond the last field have no field to be edited under.
        if (k >= st_.db->fields.size()) item->setFlags(Qt::NoItemFlags);
        ListBox1->addItem(item);
    }
}

void TdBaseEntry::AppendEntryLine(ReceipData* entry) {
    if (!entry) return;
    Guard g(updating_);
    entries_->append(entry);
    if (!ListBox2->currentIndex().isValid())
        ListBox2->selectionModel()->setCurrentIndex(entries_->index(entries_->rowCount() - 1),
                                                    QItemSelectionModel::NoUpdate);
}

ReceipData* TdBaseEntry::currentEntry() const {
    return entryAt(currentLine());
}

ReceipData* TdBaseEntry::entryAt(int row) const {
    return entries_->at(row);
}

int TdBaseEntry::entryLineCount() const {
    return entries_->rowCount();
}

int TdBaseEntry::currentLine() const {
    const QModelIndex i = ListBox2->currentIndex();
    return i.isValid() ? i.row() : -1;
}

int TdBaseEntry::selectedFieldLine() const {
    if (!st_.db) return -1;
    const QList<QListWidgetItem*> items = ListBox1->selectedItems();
    if (items.isEmpty()) return -1;
    const int k = ListBox1->row(items.first());
    return k >= 0 && static_cast<std::size_t>(k) < st_.db->fields.size() ? k : -1;
}

void TdBaseEntry::clearDisplay() {
    Guard g(updating_);
    Panel10->clear();
    Panel11->clear();
    ListBox1->clear();
    Panel9->clear();
    Edit2->clear();
}

void TdBaseEntry::ListBox2Click() {
    ShowCurrentEntry();
    Panel9->clear();
    Edit2->clear();
}

void TdBaseEntry::ListBox1Click() {
    pickField(true);
}

void TdBaseEntry::pickField(bool takeFocus) {
    if (!st_.db || st_.db->fields.empty() || st_.db->entries.empty()) return;
    const int k = selectedFieldLine();
    ReceipData* e = currentEntry();
    if (k < 0 || !e) return;
    const auto pos = static_cast<std::size_t>(k);
    Panel9->setText(ToQ(st_.db->fields[pos].name));
    Edit2->setText(pos < e->values.size() ? ToQ(e->values[pos]) : QString());
    Edit2->setEnabled(true);
    if (!takeFocus) return;
    Edit2->setFocus();
    // The focus arrives later when the window is not active; the edit is ready either way.
    Edit2Enter();
}

void TdBaseEntry::Edit2Enter() {
    Button1->setEnabled(true);
    Button1->setDefault(true);
}

void TdBaseEntry::Panel1Exit() {
    Button1->setDefault(false);
    Button1->setEnabled(false);
    Edit2->setEnabled(false);
}

void TdBaseEntry::Button1Click() {
    const int i = currentLine();
    const int k = selectedFieldLine();
    ReceipData* e = entryAt(i);
    if (!st_.db || !e || k < 0) return;
    if (!tandrel::SetEntryValue(*st_.db, *e, static_cast<std::size_t>(k), FromQ(Edit2->text())))
        return;
    Guard g(updating_);
    entries_->refreshRow(i);
    ListBox2->selectionModel()->select(entries_->index(i), QItemSelectionModel::Select);
    ShowCurrentEntry();
    ListBox1->setCurrentRow(k);
}

void TdBaseEntry::Button3Click() {
    if (!st_.db || !forms_.addForm) return;
    forms_.addForm->exec();
}

void TdBaseEntry::Button4Click() {
    if (!st_.db) return;
    const QModelIndexList picked = ListBox2->selectionModel()->selectedRows();
    if (picked.isEmpty()) return;
    {
        WaitCursor wait;
        std::vector<const ReceipData*> victims;
        victims.reserve(static_cast<std::size_t>(picked.size()));
        for (const QModelIndex& i : picked)
            victims.push_back(entries_->at(i.row()));
        tandrel::RemoveEntries(*st_.db, victims);
    }
    FillEntryList();
    ShowCurrentEntry();
}

void TdBaseEntry::varEditClick() {
    if (!st_.db || !forms_.fieldsForm) return;
    forms_.fieldsForm->FillFieldList();
    forms_.fieldsForm->exec();
}

void TdBaseEntry::DoneClick() {
    close();
}

void TdBaseEntry::done(int r) {
    const bool wasOpen = isVisible();
    QDialog::done(r);
    if (wasOpen) FormClose();
}

void TdBaseEntry::FormClose() {
    // A closed editor holds no entries: the database may be replaced before it opens again.
    {
        Guard g(updating_);
        entries_->reset({});
        clearDisplay();
    }
    Panel1Exit();
    main_.SetControlsEnabled(true);
    main_.RefreshLists();
}

bool TdBaseEntry::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Edit2 && event->type() == QEvent::FocusIn) Edit2Enter();
    return QDialog::eventFilter(watched, event);
}

void TdBaseEntry::onFocusChanged(QWidget* old, QWidget* now) {
    if (!old || !now || now->window() != this) return;
    if (!Panel1->isAncestorOf(old)) return;
    if (now == Panel1 || Panel1->isAncestorOf(now)) return;
    Panel1Exit();
}
