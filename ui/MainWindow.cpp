#include "MainWindow.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCompleter>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QSvgRenderer>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <iterator>
#include <utility>

#include "AboutForm.h"
#include "AttachWin.h"
#include "Compose.h"
#include "DatabaseEditor.h"
#include "DatabaseFile.h"
#include "Errors.h"
#include "FieldFile.h"
#include "HelpWindow.h"
#include "MailFile.h"
#include "PeopleModel.h"
#include "PrefForm.h"
#include "SendCommand.h"
#include "Settings.h"
#include "TextFile.h"

// Resources of a static library are registered by hand (outside any namespace).
static void initTandrelResources() {
    Q_INIT_RESOURCE(resources);
}

using tandrel::MailEditors;
using tandrel::ReceipData;

namespace {

constexpr int kMinWidth = 675;
constexpr int kMinHeight = 450;
constexpr int kFieldListWidth = 105;
constexpr int kMoveButtonsWidth = 64;
constexpr int kSplitterHeight = 5;
constexpr int kHeaderPanelHeight = 82;
constexpr int kSplitterMinSize = 60;
constexpr int kGroupBoxWidth = 139;
const char* const kWindowHint = "|Press F1 for help";
const char* const kHelpContext = "helpContext";

QString fromBytes(const std::string& s) {
    return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size()));
}

std::string toBytes(const QString& s) {
    const QByteArray b = s.toLocal8Bit();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

// "tooltip|status": the part after the first "|", or the whole hint without one.
QString statusPart(const QString& hint) {
    const auto bar = hint.indexOf(QLatin1Char('|'));
    return bar < 0 ? hint : hint.mid(bar + 1);
}

QString tooltipPart(const QString& hint) {
    const auto bar = hint.indexOf(QLatin1Char('|'));
    return bar < 0 ? hint : hint.left(bar);
}

void setHint(QWidget* w, const QString& hint) {
    w->setToolTip(tooltipPart(hint));
    w->setStatusTip(statusPart(hint));
}

QPixmap renderSvg(const QString& path, QSize size, qreal dpr) {
    QSvgRenderer renderer(path);
    QPixmap pm(size * dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    renderer.render(&p);
    p.end();
    pm.setDevicePixelRatio(dpr);
    return pm;
}

QIcon svgIcon(const QString& path, QSize size) {
    QIcon icon;
    icon.addPixmap(renderSvg(path, size, 1.0));
    icon.addPixmap(renderSvg(path, size, 2.0));
    return icon;
}

// Shows the hourglass for the lifetime of the object, and puts back what was there.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

QFont scaledFont(const QFont& base, int points, bool bold) {
    QFont f = base;
    f.setPointSize(points);
    f.setBold(bold);
    return f;
}

// The bar between the people lists and the mail: dragging it changes the upper pane's
// height through the callback (start height, vertical distance dragged).
class PaneSplitter : public QFrame {
public:
    std::function<int()> startHeight;
    std::function<void(int, int)> dragged;

    explicit PaneSplitter(QWidget* parent) : QFrame(parent) {
        setCursor(Qt::SplitVCursor);
        setFrameShape(QFrame::NoFrame);
    }

protected:
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() != Qt::LeftButton) return;
        pressY_ = e->globalPosition().y();
        start_ = startHeight ? startHeight() : 0;
        pressed_ = true;
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (pressed_ && dragged)
            dragged(start_, static_cast<int>(e->globalPosition().y() - pressY_));
    }
    void mouseReleaseEvent(QMouseEvent*) override { pressed_ = false; }

private:
    bool pressed_ = false;
    qreal pressY_ = 0;
    int start_ = 0;
};

} // namespace

// ---------------------------------------------------------------------------------------
// Construction

TForm1::TForm1(QWidget* parent, const std::string& programDir) : QMainWindow(parent) {
    initTandrelResources();
    setObjectName(QStringLiteral("TForm1"));
    // "MS Sans Serif" 8 points as designed: the platform's sans-serif face at that size.
    QFont base = font();
    base.setFamily(QStringLiteral("Sans Serif"));
    base.setStyleHint(QFont::SansSerif);
    base.setPointSize(8);
    setFont(base);
    setHint(this, QString::fromLatin1(kWindowHint));
    setMinimumSize(kMinWidth, kMinHeight);
    resize(700, 600);

    availModel_ = new PeopleModel(PeopleModel::Kind::Available, this);
    recipModel_ = new PeopleModel(PeopleModel::Kind::Receipients, this);

    buildMenus();
    buildToolBar();
    buildStatusBar();
    buildClientArea();
    setAccessibility();

    // Every key reaches the window before the focused control.
    qApp->installEventFilter(this);

    FormCreate(programDir);
}

TForm1::~TForm1() {
    qApp->removeEventFilter(this);
    // The other windows go first, while the state they were given still exists.
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child->isWindow()) delete child;
    help_ = nullptr;
    // The lists must not outlive the entries they point to.
    availModel_->clear();
    recipModel_->clear();
}

void TForm1::buildMenus() {
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    setMenuBar(MainMenu1);

    auto item = [this](QMenu* menu, const char* name, const QString& text, const QString& status,
                       void (TForm1::*slot)()) {
        QAction* a = menu->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        a->setStatusTip(status);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    auto separator = [](QMenu* menu, const char* name) {
        QAction* s = menu->addSeparator();
        s->setObjectName(QString::fromLatin1(name));
    };
    auto submenu = [](QMenu* parent, const char* name, const QString& text, const QString& status) {
        QMenu* m = parent->addMenu(text);
        m->setObjectName(QString::fromLatin1(name));
        m->menuAction()->setObjectName(QString::fromLatin1(name) + QStringLiteral("Item"));
        m->menuAction()->setStatusTip(status);
        return m;
    };

    QMenu* file = MainMenu1->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1Menu"));
    file->menuAction()->setStatusTip(QStringLiteral("Manage files"));
    QMenu* fileNew =
        submenu(file, "File1", QStringLiteral("&New"), QStringLiteral("Create new files"));
    File11 = item(fileNew, "File11", QStringLiteral("&Mail"),
                  QStringLiteral("Remove the current mail"), &TForm1::File11Click);
    File12 = item(fileNew, "File12", QStringLiteral("&Database"),
                  QStringLiteral("Create an empty database"), &TForm1::File12Click);
    QMenu* fileOpen = submenu(file, "File2", QStringLiteral("&Open"), QStringLiteral("Open files"));
    File21 = item(fileOpen, "File21", QStringLiteral("&Mail..."),
                  QStringLiteral("Open a saved mail"), &TForm1::File21Click);
    // The one menu hint that also has a tooltip part.
    File21->setToolTip(QStringLiteral("Open a saved mail"));
    File23 = item(fileOpen, "File23", QStringLiteral("&Fields..."),
                  QStringLiteral("Open a saved field list"), &TForm1::File23Click);
    File24 = item(fileOpen, "File24", QStringLiteral("DB &Entries..."),
                  QStringLiteral("Open a saved database"), &TForm1::File24Click);
    QMenu* fileSave =
        submenu(file, "File4", QStringLiteral("Save &As"), QStringLiteral("Save files"));
    File41 = item(fileSave, "File41", QStringLiteral("Save &Mail As..."),
                  QStringLiteral("Save the current mail"), &TForm1::File41Click);
    File42 = item(fileSave, "File42", QStringLiteral("Save &Fields As..."),
                  QStringLiteral("Save the list of fields to a file"), &TForm1::File42Click);
    File43 = item(fileSave, "File43", QStringLiteral("Save &Database As..."),
                  QStringLiteral("Save the database to a file"), &TForm1::File43Click);
    File5 = item(file, "File5", QStringLiteral("&Exit"), QStringLiteral("Exit Tandrel"),
                 &TForm1::File5Click);

    QMenu* edit = MainMenu1->addMenu(QStringLiteral("&Edit"));
    edit->setObjectName(QStringLiteral("EditMenu"));
    Edit1 = item(edit, "Edit1", QStringLiteral("Insert Field"), QString(), &TForm1::FieldItemClick);
    separator(edit, "N5");
    Edit2 = item(edit, "Edit2", QStringLiteral("Cut"), QString(), &TForm1::CutItemClick);
    Edit3 = item(edit, "Edit3", QStringLiteral("Copy"), QString(), &TForm1::CopyItemClick);
    Edit4 = item(edit, "Edit4", QStringLiteral("Paste"), QString(), &TForm1::PasteItemClick);
    Edit5 = item(edit, "Edit5", QStringLiteral("Delete"), QString(), &TForm1::DeleteItemClick);
    separator(edit, "N4");
    Edit6 = item(edit, "Edit6", QStringLiteral("Edit &Database..."),
                 QStringLiteral("Open the database editor"), &TForm1::Edit6Click);
    Edit7 = item(edit, "Edit7", QStringLiteral("Preferences..."),
                 QStringLiteral("Change the settings of Tandrel"), &TForm1::Edit7Click);
    Edit1->setEnabled(false);
    Edit2->setEnabled(false);
    Edit3->setEnabled(false);
    Edit5->setEnabled(false);

    QMenu* helpMenu = MainMenu1->addMenu(QStringLiteral("&Help"));
    helpMenu->setObjectName(QStringLiteral("HelpMenu"));
    helpMenu->menuAction()->setStatusTip(QStringLiteral("Get help"));
    Help1 = item(helpMenu, "Help1", QStringLiteral("&Contents"), QString(), &TForm1::Help1Click);
    Help2 = item(helpMenu, "Help2", QStringLiteral("&Index"), QString(), &TForm1::Help2Click);
    separator(helpMenu, "N1");
    Help3 = item(helpMenu, "Help3", QStringLiteral("&About"), QString(), &TForm1::Help3Click);

    MailPopupMenu = new QMenu(this);
    MailPopupMenu->setObjectName(QStringLiteral("MailPopupMenu"));
    FieldItem =
        item(MailPopupMenu, "FieldItem", QStringLiteral("Insert field"),
             QStringLiteral("Insert the selected field at the cursor"), &TForm1::FieldItemClick);
    separator(MailPopupMenu, "N3");
    CutItem = item(MailPopupMenu, "CutItem", QStringLiteral("Cut"),
                   QStringLiteral("Remove selection and insert it to the clipboard"),
                   &TForm1::CutItemClick);
    CopyItem = item(MailPopupMenu, "CopyItem", QStringLiteral("Copy"),
                    QStringLiteral("Copy selection to clipboard"), &TForm1::CopyItemClick);
    PasteItem = item(MailPopupMenu, "PasteItem", QStringLiteral("Paste"),
                     QStringLiteral("Replace selection with contents of clipboard"),
                     &TForm1::PasteItemClick);
    DeleteItem = item(MailPopupMenu, "DeleteItem", QStringLiteral("Delete"),
                      QStringLiteral("Delete the selection"), &TForm1::DeleteItemClick);
    separator(MailPopupMenu, "N2");
    SelectItem = item(MailPopupMenu, "SelectItem", QStringLiteral("Select all"),
                      QStringLiteral("Select all text"), &TForm1::SelectItemClick);
    FieldItem->setEnabled(false);
    CutItem->setEnabled(false);
    CopyItem->setEnabled(false);
    DeleteItem->setEnabled(false);

    // A highlighted menu item shows its status text, an item without a hint none.
    for (QMenu* m : {file, fileNew, fileOpen, fileSave, edit, helpMenu, MailPopupMenu}) {
        connect(m, &QMenu::hovered, this,
                [this](QAction* a) { panels_[0]->setText(a->statusTip()); });
        // A submenu closing may leave its parent menu open: that one's highlight counts.
        connect(m, &QMenu::aboutToHide, this, [this] {
            DisplayHint(QString::fromLatin1(kWindowHint));
            QTimer::singleShot(0, this, [this] { showMenuHint(); });
        });
    }
}

void TForm1::showMenuHint() {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    // With nothing highlighted inside an open menu, the highlighted item is the one
    // that opened it (in the menu bar or the parent menu).
    QAction* lit = menu->activeAction() ? menu->activeAction() : menu->menuAction();
    panels_[0]->setText(lit->statusTip());
}

void TForm1::buildToolBar() {
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setFixedHeight(33);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setContentsMargins(0, 0, 0, 0);
    ToolBar1->toggleViewAction()->setVisible(false);
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    struct Button {
        const char* name;
        const char* icon;
        const char* tooltip;
        const char* status;
        void (TForm1::*slot)();
    };
    const Button buttons[] = {
        {"SpeedButton2", "new-mail", "New Mail", "Remove the current mail",
         &TForm1::SpeedButton2Click},
        {"SpeedButton3", "new-database", "New Database", "Create an empty database",
         &TForm1::SpeedButton3Click},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
        {"SpeedButton5", "open-mail", "Open Mail", "Open a saved mail", &TForm1::SpeedButton5Click},
        {"SpeedButton6", "open-fields", "Open Fields", "Open a saved field list",
         &TForm1::SpeedButton6Click},
        {"SpeedButton7", "open-database", "Open Database", "Open a saved database",
         &TForm1::SpeedButton7Click},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
        {"SpeedButton4", "save-mail", "Save Mail", "Save the current mail",
         &TForm1::SpeedButton4Click},
        {"SpeedButton8", "save-fields", "Save Fields", "Save the list of fields to a file",
         &TForm1::SpeedButton8Click},
        {"SpeedButton9", "save-database", "Save Database", "Save the database to a file",
         &TForm1::SpeedButton9Click},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
        {"SpeedButton10", "database-editor", "Database Editor", "Open the database editor",
         &TForm1::SpeedButton10Click},
    };
    int separators = 0;
    for (const Button& b : buttons) {
        if (!b.name) {
            auto* sep = new QFrame;
            sep->setObjectName(QStringLiteral("ToolSeparator%1").arg(++separators));
            sep->setFrameShape(QFrame::VLine);
            sep->setFrameShadow(QFrame::Sunken);
            sep->setFixedSize(8, 22);
            ToolBar1->addWidget(sep);
            toolSeparators_.push_back(sep);
            continue;
        }
        auto* tb = new QToolButton;
        tb->setObjectName(QString::fromLatin1(b.name));
        tb->setFixedSize(25, 22);
        tb->setAutoRaise(true);
        tb->setFocusPolicy(Qt::NoFocus);
        tb->setIcon(svgIcon(QStringLiteral(":/icons/%1.svg").arg(QString::fromLatin1(b.icon)),
                            QSize(16, 16)));
        tb->setIconSize(QSize(16, 16));
        tb->setToolTip(QString::fromLatin1(b.tooltip));
        tb->setStatusTip(QString::fromLatin1(b.status));
        tb->setAccessibleName(QString::fromLatin1(b.tooltip));
        connect(tb, &QToolButton::clicked, this, b.slot);
        ToolBar1->addWidget(tb);
        speedButtons_.push_back(tb);
    }
}

void TForm1::buildStatusBar() {
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFixedHeight(19);
    StatusBar1->setSizeGripEnabled(true);
    setStatusBar(StatusBar1);
    const int widths[4] = {300, 170, 100, 50};
    const char* const designed[4] = {"", "xxx of xxx receipients selected", "xx attachments", ""};
    const char* const accessible[4] = {"Hint", "Receipients selected", "Attachments", "Status"};
    for (int i = 0; i < 4; ++i) {
        auto* l = new QLabel(QString::fromLatin1(designed[i]));
        l->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        // The counters keep their designed width but grow when the font needs more for
        // their text ("1200 of 10000 receipients selected"), rather than cutting it off.
        // The hint panel stays put, so the others do not jump while the mouse moves.
        if (i == 1 || i == 2)
            l->setMinimumWidth(widths[i]);
        else
            l->setFixedWidth(widths[i]);
        l->setFrameShape(QFrame::Panel);
        l->setFrameShadow(QFrame::Sunken);
        l->setContentsMargins(2, 0, 2, 0);
        // The text itself is what a screen reader reads, kept up to date as it changes.
        l->setAccessibleDescription(QString::fromLatin1(accessible[i]));
        StatusBar1->addWidget(l);
        panels_[i] = l;
    }
}

void TForm1::buildClientArea() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("ClientArea"));
    auto* hbox = new QHBoxLayout(central);
    hbox->setContentsMargins(0, 0, 0, 0);
    hbox->setSpacing(0);
    setCentralWidget(central);

    ListBox3 = new QListWidget;
    ListBox3->setObjectName(QStringLiteral("ListBox3"));
    ListBox3->setFixedWidth(kFieldListWidth);
    ListBox3->setSelectionMode(QAbstractItemView::SingleSelection);
    setHint(ListBox3,
            QStringLiteral("|List of available fields - double click a field to insert it"));
    ListBox3->setProperty(kHelpContext, 5);
    connect(ListBox3, &QListWidget::itemSelectionChanged, this, &TForm1::ListBox3Click);
    connect(ListBox3, &QListWidget::itemClicked, this, [this] { ListBox3Click(); });
    connect(ListBox3, &QListWidget::itemDoubleClicked, this, [this] { FieldItemClick(); });
    hbox->addWidget(ListBox3);

    Panel1 = new QWidget;
    Panel1->setObjectName(QStringLiteral("Panel1"));
    hbox->addWidget(Panel1, 1);

    // Upper pane: "Available", the move buttons, "Receipients".
    Panel4 = new QWidget(Panel1);
    Panel4->setObjectName(QStringLiteral("Panel4"));
    auto* upper = new QHBoxLayout(Panel4);
    upper->setContentsMargins(0, 0, 0, 0);
    upper->setSpacing(0);

    auto makeTitle = [this](const char* name, const QString& text) {
        auto* l = new QLabel(text);
        l->setObjectName(QString::fromLatin1(name));
        l->setFixedHeight(32);
        l->setAlignment(Qt::AlignCenter);
        l->setFrameShape(QFrame::Box);
        l->setFrameShadow(QFrame::Plain);
        l->setFont(scaledFont(font(), 18, true));
        return l;
    };
    auto makeList = [](const char* name, PeopleModel* model, std::initializer_list<int> widths) {
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
        v->header()->setStretchLastSection(false);
        v->header()->setSectionsMovable(false);
        v->header()->setMinimumSectionSize(18); // the "*" column is that narrow
        int col = 0;
        for (int w : widths)
            v->header()->resizeSection(col++, w);
        // The "E-Mail" column takes whatever width the list has beyond its designed
        // columns, so addresses are not cut off while the list shows empty space.
        v->header()->setSectionResizeMode(1, QHeaderView::Stretch);
        return v;
    };

    Panel5 = new QWidget;
    Panel5->setObjectName(QStringLiteral("Panel5"));
    Panel5->setFixedWidth(267);
    auto* left = new QVBoxLayout(Panel5);
    left->setContentsMargins(0, 0, 0, 0);
    left->setSpacing(0);
    Panel6 = makeTitle("Panel6", QStringLiteral("Available"));
    ListView2 = makeList("ListView2", availModel_, {130, 100, 18});
    setHint(ListView2, QStringLiteral("|List of available people"));
    ListView2->setProperty(kHelpContext, 6);
    left->addWidget(Panel6);
    left->addWidget(ListView2, 1);
    upper->addWidget(Panel5);

    Panel3 = new QWidget;
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setFixedWidth(kMoveButtonsWidth);
    auto moveButton = [this](const char* name, const QString& text, int top,
                             void (TForm1::*slot)()) {
        auto* b = new QPushButton(text, Panel3);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry((kMoveButtonsWidth - 33) / 2, top, 33, 25);
        b->setFont(scaledFont(font(), 12, false));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    Button2 = moveButton("Button2", QStringLiteral("->"), 16, &TForm1::Button2Click);
    Button3 = moveButton("Button3", QStringLiteral("->>"), 56, &TForm1::Button3Click);
    Button4 = moveButton("Button4", QStringLiteral("<<-"), 120, &TForm1::Button4Click);
    Button1 = moveButton("Button1", QStringLiteral("<-"), 160, &TForm1::Button1Click);
    upper->addWidget(Panel3);

    Panel7 = new QWidget;
    Panel7->setObjectName(QStringLiteral("Panel7"));
    auto* right = new QVBoxLayout(Panel7);
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    Panel8 = makeTitle("Panel8", QStringLiteral("Receipients"));
    ListView1 = makeList("ListView1", recipModel_, {150, 100});
    setHint(ListView1, QStringLiteral("|List of receipients"));
    ListView1->setProperty(kHelpContext, 7);
    right->addWidget(Panel8);
    right->addWidget(ListView1, 1);
    upper->addWidget(Panel7, 1);

    auto* splitter = new PaneSplitter(Panel1);
    splitter->setObjectName(QStringLiteral("Splitter1"));
    splitter->startHeight = [this] { return paneHeight_; };
    splitter->dragged = [this](int start, int dy) { dragSplitter(start, dy); };
    Splitter1 = splitter;

    // Header panel: From, To, Subject, attachments, Send and the preview button.
    Panel2 = new QWidget(Panel1);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    auto headerLine = [this](const char* labelName, const QString& caption, const char* editName,
                             int top, int context) {
        auto* l = new QLabel(caption, Panel2);
        l->setObjectName(QString::fromLatin1(labelName));
        l->setFont(scaledFont(font(), 8, true));
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        l->setGeometry(4, top, 54, 21);
        auto* e = new QLineEdit(Panel2);
        e->setObjectName(QString::fromLatin1(editName));
        e->setGeometry(62, top, 250, 21);
        e->setProperty(kHelpContext, context);
        l->setBuddy(e);
        return e;
    };
    FrEdit = headerLine("Label1", QStringLiteral("From:"), "FrEdit", 8, 2);
    ToEdit = headerLine("Label2", QStringLiteral("To:"), "ToEdit", 32, 3);
    SubEdit = headerLine("Label3", QStringLiteral("Subject:"), "SubEdit", 56, 4);

    AttachBut = new QToolButton(Panel2);
    AttachBut->setObjectName(QStringLiteral("AttachBut"));
    AttachBut->setGeometry(326, (kHeaderPanelHeight - 41) / 2, 41, 41);
    AttachBut->setIcon(svgIcon(QStringLiteral(":/icons/attachments.svg"), QSize(32, 32)));
    AttachBut->setIconSize(QSize(32, 32));
    AttachBut->setToolTip(QStringLiteral("Attachments"));
    AttachBut->setFocusPolicy(Qt::StrongFocus);
    connect(AttachBut, &QToolButton::clicked, this, &TForm1::AttachButClick);

    GroupBox1 = new QGroupBox(Panel2);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    SendBut = new QPushButton(QStringLiteral("Send"), GroupBox1);
    SendBut->setObjectName(QStringLiteral("SendBut"));
    SendBut->setGeometry(12, 24, 75, 41);
    SendBut->setFont(scaledFont(font(), 14, true));
    SendBut->setAutoDefault(false);
    connect(SendBut, &QPushButton::clicked, this, &TForm1::SendButClick);
    SpeedButton1 = new QToolButton(GroupBox1);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setGeometry(100, 32, 25, 25);
    SpeedButton1->setCheckable(true);
    SpeedButton1->setToolTip(QStringLiteral("Preview mail"));
    SpeedButton1->setStatusTip(QStringLiteral("Preview mail"));
    SpeedButton1->setFocusPolicy(Qt::StrongFocus);
    {
        QIcon icon;
        const QSize sz(20, 20);
        for (qreal dpr : {1.0, 2.0}) {
            icon.addPixmap(renderSvg(QStringLiteral(":/icons/preview-off.svg"), sz, dpr),
                           QIcon::Normal, QIcon::Off);
            icon.addPixmap(renderSvg(QStringLiteral(":/icons/preview-on.svg"), sz, dpr),
                           QIcon::Normal, QIcon::On);
        }
        SpeedButton1->setIcon(icon);
        SpeedButton1->setIconSize(sz);
    }
    connect(SpeedButton1, &QToolButton::clicked, this, &TForm1::BitBtn1Click);

    RichEdit1 = new QPlainTextEdit(Panel1);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setLineWrapMode(QPlainTextEdit::NoWrap);
    RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setContextMenuPolicy(Qt::CustomContextMenu);
    RichEdit1->setProperty(kHelpContext, 1);
    connect(RichEdit1, &QPlainTextEdit::selectionChanged, this, &TForm1::RichEdit1SelectionChange);
    connect(RichEdit1, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        MailPopupMenu->popup(RichEdit1->viewport()->mapToGlobal(pos));
    });

    // Reading order for the keyboard: fields, the people lists with their buttons, the
    // header lines, attachments, Send, preview, then the mail text.
    setTabOrder(ListBox3, ListView2);
    setTabOrder(ListView2, Button2);
    setTabOrder(Button2, Button3);
    setTabOrder(Button3, Button4);
    setTabOrder(Button4, Button1);
    setTabOrder(Button1, ListView1);
    setTabOrder(ListView1, FrEdit);
    setTabOrder(FrEdit, ToEdit);
    setTabOrder(ToEdit, SubEdit);
    setTabOrder(SubEdit, AttachBut);
    setTabOrder(AttachBut, SendBut);
    setTabOrder(SendBut, SpeedButton1);
    setTabOrder(SpeedButton1, RichEdit1);

    layoutPanel1();
}

void TForm1::setAccessibility() {
    ListBox3->setAccessibleName(QStringLiteral("Fields"));
    ListView2->setAccessibleName(QStringLiteral("Available"));
    ListView1->setAccessibleName(QStringLiteral("Receipients"));
    for (QPushButton* b : {Button2, Button3, Button4, Button1})
        b->setAccessibleName(b->text());
    Button2->setAccessibleDescription(
        QStringLiteral("Move the selected people to the receipients"));
    Button3->setAccessibleDescription(QStringLiteral("Move everybody to the receipients"));
    Button4->setAccessibleDescription(QStringLiteral("Take all receipients back"));
    Button1->setAccessibleDescription(QStringLiteral("Take the selected receipients back"));
    FrEdit->setAccessibleName(QStringLiteral("From:"));
    ToEdit->setAccessibleName(QStringLiteral("To:"));
    SubEdit->setAccessibleName(QStringLiteral("Subject:"));
    AttachBut->setAccessibleName(QStringLiteral("Attachments"));
    SendBut->setAccessibleName(QStringLiteral("Send"));
    SpeedButton1->setAccessibleName(QStringLiteral("Preview mail"));
    RichEdit1->setAccessibleName(QStringLiteral("Mail text"));
    Panel6->setAccessibleName(QStringLiteral("Available"));
    Panel8->setAccessibleName(QStringLiteral("Receipients"));
    Splitter1->setAccessibleName(QStringLiteral("Splitter"));
    GroupBox1->setAccessibleName(QStringLiteral("Send"));
    ToolBar1->setAccessibleName(QStringLiteral("Toolbar"));
    StatusBar1->setAccessibleName(QStringLiteral("Status bar"));
    MainMenu1->setAccessibleName(QStringLiteral("Menu bar"));
    MailPopupMenu->setAccessibleName(QStringLiteral("Mail text menu"));
}

// ---------------------------------------------------------------------------------------
// Start-up and shut-down

void TForm1::FormCreate(const std::string& programDir) {
    setWindowTitle(QStringLiteral(" Tandrel 1.1"));
    try {
        st_.LocalComputerName = tandrel::ComputeLocalComputerName();
        st_.ProgramDir = programDir.empty() ? tandrel::ComputeProgramDir() : programDir;
        st_.mailText = tandrel::MailText{};
        ini_ = std::make_unique<tandrel::Profile>(st_.iniPath());
        st_.SentLog.clear();
        if (tandrel::FileExists(st_.sentLogPath()))
            st_.SentLog = tandrel::ReadTextFile(st_.sentLogPath());

        tandrel::WindowGeometry geo;
        tandrel::ReadSettings(*ini_, st_.prefs, st_.user, geo);
        settingsRead_ = true;
        paneHeight_ = geo.paneHeight;
        layoutPanel1();
        move(geo.x, geo.y);
        resize(geo.width, geo.height);

        st_.RunLog.clear();
        if (tandrel::FileExists(st_.runLogPath()))
            st_.RunLog = tandrel::ReadTextFile(st_.runLogPath());
        st_.attachments.clear();

        MailEditors eds = editorTexts();
        bool loaded = false;
        if (!st_.user.lastmail.empty() && tandrel::FileExists(st_.user.lastmail)) {
            WaitCursor wait;
            loaded = tandrel::LoadMail(st_, st_.user.lastmail, eds);
        }
        if (!loaded) tandrel::NewMail(st_, eds);
        setEditorTexts(eds);

        if (!st_.user.lastfields.empty() && tandrel::FileExists(st_.user.lastfields)) {
            {
                WaitCursor wait;
                tandrel::LoadFields(st_, st_.user.lastfields);
            }
            RefreshLists();
            if (!st_.user.lastdb.empty() && tandrel::FileExists(st_.user.lastdb) && st_.db &&
                !st_.db->fields.empty()) {
                {
                    WaitCursor wait;
                    tandrel::LoadDatabase(st_, st_.user.lastdb);
                }
                RefreshLists();
            }
        }
    } catch (const std::exception& e) {
        // The rest of the start-up is skipped; the program goes on with what it has.
        showError(QString::fromLocal8Bit(e.what()));
    }
}

void TForm1::FormCloseQuery() {
    // A start-up that failed before the settings were read (an unreadable sent log) has
    // only empty values in memory: writing those would wipe the user's settings file.
    if (ini_ && settingsRead_) {
        const bool normal =
            !(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen));
        tandrel::WindowGeometry geo{x(), y(), width(), height(), paneHeight_};
        try {
            tandrel::WriteSettings(*ini_, st_.prefs, st_.user, normal ? &geo : nullptr);
        } catch (const std::exception& e) {
            // Reported, but the program still ends: a settings file that cannot be
            // written must never keep the user from closing the window.
            showError(QString::fromLocal8Bit(e.what()));
        }
    }
    ini_.reset();
    availModel_->clear();
    recipModel_->clear();
    st_.FreeDatabase();
    st_.mailText = tandrel::MailText{};
    st_.RunLog.clear();
    st_.FreeAttachments();
    st_.SentLog.clear();
}

void TForm1::closeEvent(QCloseEvent* e) {
    // The other windows of the program go with the main window, first, while the data
    // they may still look at on closing is there.
    for (QWidget* w : findChildren<QWidget*>()) {
        if (w->isWindow() && w->isVisible()) w->close();
    }
    FormCloseQuery();
    e->accept();
}

// ---------------------------------------------------------------------------------------
// Layout

void TForm1::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    FormResize();
}

void TForm1::FormResize() {
    if (width() < kMinWidth || height() < kMinHeight)
        resize(std::max(width(), kMinWidth), std::max(height(), kMinHeight));
    const int side = (width() - kFieldListWidth - kMoveButtonsWidth) / 2;
    Panel5->setFixedWidth(std::max(0, side));
    paneHeight_ = (height() - 50) / 2;
    FrEdit->resize(250, FrEdit->height());
    ToEdit->resize(250, ToEdit->height());
    SubEdit->resize(250, SubEdit->height());
    layoutPanel1();
    update();
}

// Panel1 stacks, top to bottom: the upper pane at its own height, the splitter, the
// header panel, and the body editor in what is left.
void TForm1::layoutPanel1() {
    if (!Panel1) return;
    const int w = Panel1->width();
    const int h = Panel1->height();
    const int pane = paneHeight_;
    Panel4->setGeometry(0, 0, w, pane);
    Splitter1->setGeometry(0, pane, w, kSplitterHeight);
    Panel2->setGeometry(0, pane + kSplitterHeight, w, kHeaderPanelHeight);
    GroupBox1->setGeometry(w - kGroupBoxWidth, 0, kGroupBoxWidth, kHeaderPanelHeight);
    const int bodyTop = pane + kSplitterHeight + kHeaderPanelHeight;
    RichEdit1->setGeometry(0, bodyTop, w, std::max(0, h - bodyTop));
}

void TForm1::dragSplitter(int startHeight, int dy) {
    // Neither the upper pane nor the body editor below may get smaller than 60.
    const int maxPane = Panel1->height() - kSplitterHeight - kHeaderPanelHeight - kSplitterMinSize;
    int pane = startHeight + dy;
    pane = std::min(pane, maxPane);
    pane = std::max(pane, kSplitterMinSize);
    paneHeight_ = pane;
    layoutPanel1();
}

// ---------------------------------------------------------------------------------------
// Events

bool TForm1::event(QEvent* e) {
    if (e->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(e)->tip();
        if (qobject_cast<QMenu*>(QApplication::activePopupWidget()))
            showMenuHint();
        else
            DisplayHint(tip.isEmpty() ? QString::fromLatin1(kWindowHint) : tip);
        return true;
    }
    return QMainWindow::event(e);
}

bool TForm1::eventFilter(QObject* watched, QEvent* e) {
    switch (e->type()) {
    case QEvent::KeyPress: {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && w->window() == this)
            if (FormKeyDown(static_cast<QKeyEvent*>(e)->key(), QApplication::focusWidget()))
                return true;
        break;
    }
    case QEvent::Resize:
        if (watched == Panel1) layoutPanel1();
        break;
    case QEvent::FocusIn:
        if (watched == RichEdit1) RichEdit1Enter();
        break;
    case QEvent::FocusOut: {
        // A menu opening (by mouse or by keyboard through the menu bar) or another
        // program taking over is not leaving the control: the Edit menu opened with
        // Alt+E must still offer Cut, Copy and Paste for the body.
        const auto reason = static_cast<QFocusEvent*>(e)->reason();
        if (reason == Qt::PopupFocusReason || reason == Qt::MenuBarFocusReason ||
            reason == Qt::ActiveWindowFocusReason)
            break;
        if (watched == RichEdit1) RichEdit1Exit();
        if (watched == ListBox3) ListBox3Click();
        break;
    }
    case QEvent::MouseButtonPress:
        if (RichEdit1 && watched == RichEdit1->viewport())
            RichEdit1MouseDown(static_cast<QMouseEvent*>(e)->button());
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, e);
}

bool TForm1::FormKeyDown(int key, QWidget* focus) {
    if (key == Qt::Key_Escape) {
        Help1Click();
        return true;
    }
    if (key == Qt::Key_F1) {
        showHelpContext(focus);
        return true;
    }
    return false;
}

void TForm1::showHelpContext(QWidget* focus) {
    for (QWidget* w = focus; w; w = w->parentWidget()) {
        bool ok = false;
        const int context = w->property(kHelpContext).toInt(&ok);
        if (ok && context > 0) {
            help().showContext(context);
            return;
        }
        if (w == this) break;
    }
}

void TForm1::DisplayHint(const QString& hint) {
    panels_[0]->setText(statusPart(hint));
}

QString TForm1::statusPanelText(int panel) const {
    if (panel < 0 || panel > 3) return {};
    return panels_[panel]->text();
}

// ---------------------------------------------------------------------------------------
// Editors

MailEditors TForm1::editorTexts() const {
    MailEditors eds;
    eds.from = toBytes(FrEdit->text());
    eds.to = toBytes(ToEdit->text());
    eds.subject = toBytes(SubEdit->text());
    // The raw text, not toPlainText(): that turns non-breaking spaces into plain blanks,
    // and the mail must keep every character as typed or loaded.
    QString body = RichEdit1->document()->toRawText();
    for (QChar& c : body) {
        const char16_t u = c.unicode();
        if (u == QChar::ParagraphSeparator || u == QChar::LineSeparator || u == 0xfdd0 ||
            u == 0xfdd1)
            c = QLatin1Char('\n');
    }
    if (!body.isEmpty()) {
        const QStringList lines = body.split(QLatin1Char('\n'));
        eds.body.reserve(static_cast<std::size_t>(lines.size()));
        for (const QString& l : lines)
            eds.body.push_back(toBytes(l));
    }
    return eds;
}

void TForm1::setEditorTexts(const MailEditors& eds) {
    FrEdit->setText(fromBytes(eds.from));
    ToEdit->setText(fromBytes(eds.to));
    SubEdit->setText(fromBytes(eds.subject));
    QString body;
    for (std::size_t i = 0; i < eds.body.size(); ++i) {
        if (i) body += QLatin1Char('\n');
        body += fromBytes(eds.body[i]);
    }
    RichEdit1->setPlainText(body); // the caret goes to the start
}

// ---------------------------------------------------------------------------------------
// Lists and status bar

std::vector<ReceipData*> TForm1::recipientRows() const {
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

void TForm1::RefreshLists() {
    if (!st_.db) return;
    ListBox3->clear();
    for (const auto& f : st_.db->fields)
        ListBox3->addItem(fromBytes(f.name));

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
    UpdateStatusBar();
}

void TForm1::UpdateStatusBar() {
    panels_[2]->setText(QStringLiteral("%1 attachments").arg(st_.attachments.size()));
    panels_[1]->setText(QStringLiteral("%1 of %2 receipients selected")
                            .arg(recipModel_->rowCount())
                            .arg(availModel_->rowCount()));
}

void TForm1::SetControlsEnabled(bool on) {
    controlsEnabled_ = on;
    for (QToolButton* b : speedButtons_)
        b->setEnabled(on);
    for (QFrame* s : toolSeparators_)
        s->setEnabled(on);
    if (!on) {
        endPreview();
        ListView1->clearSelection();
        ListView2->clearSelection();
        ListBox3->clearSelection();
        // The database editor may now change or remove entries behind the lists' back:
        // they show what they had until they are rebuilt.
        availModel_->freeze();
        recipModel_->freeze();
    }
    for (QWidget* w : std::initializer_list<QWidget*>{Button1, Button2, Button3, Button4, ListBox3,
                                                      ListView1, ListView2, SpeedButton1, SendBut})
        w->setEnabled(on);
}

std::vector<int> TForm1::selectedRows(QTreeView* view) const {
    std::vector<int> rows;
    const QItemSelection sel = view->selectionModel()->selection();
    for (const QItemSelectionRange& r : sel)
        for (int row = r.top(); row <= r.bottom(); ++row)
            rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

int TForm1::selectedRecipientCount() const {
    return static_cast<int>(selectedRows(ListView1).size());
}

void TForm1::Button2Click() {
    if (!st_.db || st_.db->entries.empty() || availModel_->frozen()) return;
    const std::vector<int> rows = selectedRows(ListView2);
    if (rows.empty()) return;
    WaitCursor wait;
    std::vector<ReceipData*> moved;
    for (int row : rows) {
        ReceipData* e = availModel_->entryAt(row); // the row's own entry
        if (!e || e->selected) continue;
        e->selected = true;
        moved.push_back(e);
    }
    recipModel_->appendEntries(moved);
    availModel_->selectionMarksChanged();
    UpdateStatusBar();
}

void TForm1::Button3Click() {
    if (!st_.db || st_.db->entries.empty() || availModel_->frozen()) return;
    WaitCursor wait;
    std::vector<ReceipData*> moved;
    for (const auto& e : st_.db->entries) {
        if (e->selected) continue;
        e->selected = true;
        moved.push_back(e.get());
    }
    recipModel_->appendEntries(moved);
    availModel_->selectionMarksChanged();
    UpdateStatusBar();
}

void TForm1::Button1Click() {
    if (recipModel_->frozen()) return;
    const std::vector<int> rows = selectedRows(ListView1);
    if (rows.empty()) return;
    WaitCursor wait;
    // Every selected row goes back, whatever its name.
    for (int row : rows)
        if (ReceipData* e = recipModel_->entryAt(row)) e->selected = false;
    recipModel_->removeRowsAt(rows);
    availModel_->selectionMarksChanged();
    UpdateStatusBar();
}

void TForm1::Button4Click() {
    if (recipModel_->rowCount() == 0 || recipModel_->frozen()) return;
    WaitCursor wait;
    if (st_.db)
        for (const auto& e : st_.db->entries)
            e->selected = false;
    for (ReceipData* e : recipModel_->entries())
        e->selected = false;
    recipModel_->clear();
    availModel_->selectionMarksChanged();
    UpdateStatusBar();
}

// ---------------------------------------------------------------------------------------
// Preview

void TForm1::BitBtn1Click() {
    if (SpeedButton1->isChecked() && selectedRecipientCount() == 1) {
        if (!previewShown_) showPreview();
        return;
    }
    SpeedButton1->setChecked(false);
    if (previewShown_) restoreTemplate();
}

void TForm1::endPreview() {
    SpeedButton1->setChecked(false);
    BitBtn1Click();
}

void TForm1::showPreview() {
    const std::vector<int> rows = selectedRows(ListView1);
    ReceipData* entry = rows.size() == 1 ? recipModel_->entryAt(rows.front()) : nullptr;
    if (!entry || !st_.db) {
        SpeedButton1->setChecked(false);
        return;
    }
    WaitCursor wait;
    RichEdit1->setReadOnly(true);
    previewTemplate_ = editorTexts();
    tandrel::BuildMailText(st_, previewTemplate_);

    std::vector<std::string> lines =
        tandrel::MergeLines(st_.db->fields, st_.mailText.lines, *entry);
    MailEditors shown;
    // The merged text is only looked at: it must not change what the mail is.
    bool hasHeader = st_.mailText.MailHasHeader;
    tandrel::ParseMailHeader(lines, shown, hasHeader);
    shown.body = std::move(lines);
    setEditorTexts(shown);

    QPalette pal = RichEdit1->palette();
    QColor tint = palette().color(QPalette::Inactive, QPalette::Window).darker(112);
    pal.setColor(QPalette::Active, QPalette::Base, tint);
    pal.setColor(QPalette::Inactive, QPalette::Base, tint);
    RichEdit1->setPalette(pal);
    previewShown_ = true;
}

void TForm1::restoreTemplate() {
    WaitCursor wait;
    RichEdit1->setReadOnly(false);
    // Exactly what the editors held when the preview began; MailText was built from it.
    setEditorTexts(previewTemplate_);
    previewTemplate_ = MailEditors{};
    RichEdit1->setPalette(QPalette());
    previewShown_ = false;
}

// ---------------------------------------------------------------------------------------
// Field insertion, clipboard and the enabling rules

bool TForm1::fieldSelected() const {
    return !ListBox3->selectedItems().isEmpty();
}

void TForm1::FieldItemClick() {
    if (!fieldSelected() || SpeedButton1->isChecked() || previewShown_) return;
    const QString name = ListBox3->selectedItems().front()->text();
    RichEdit1->insertPlainText(QLatin1Char('[') + name + QLatin1Char(']'));
}

void TForm1::CutItemClick() {
    if (!RichEdit1->isReadOnly()) RichEdit1->cut();
}

void TForm1::CopyItemClick() {
    RichEdit1->copy();
}

void TForm1::PasteItemClick() {
    if (!RichEdit1->isReadOnly()) RichEdit1->paste();
}

void TForm1::DeleteItemClick() {
    if (RichEdit1->isReadOnly()) return;
    QTextCursor c = RichEdit1->textCursor();
    c.removeSelectedText();
    RichEdit1->setTextCursor(c);
}

void TForm1::SelectItemClick() {
    RichEdit1->selectAll();
}

void TForm1::setMenuPosition(int pos, bool on, bool editMenuToo) {
    QAction* popup[8] = {FieldItem, nullptr,    CutItem, CopyItem,
                         PasteItem, DeleteItem, nullptr, SelectItem};
    QAction* edit[6] = {Edit1, nullptr, Edit2, Edit3, Edit4, Edit5};
    if (pos >= 0 && pos < 8 && popup[pos]) popup[pos]->setEnabled(on);
    if (editMenuToo && pos >= 0 && pos < 6 && edit[pos]) edit[pos]->setEnabled(on);
}

void TForm1::ListBox3Click() {
    setMenuPosition(0, fieldSelected(), true);
}

void TForm1::RichEdit1Enter() {
    if (fieldSelected()) setMenuPosition(0, true, true);
    setMenuPosition(4, true, true);
    setMenuPosition(7, true, false);
    RichEdit1SelectionChange();
}

void TForm1::RichEdit1SelectionChange() {
    const bool any = RichEdit1->textCursor().hasSelection();
    for (int pos : {2, 3, 5})
        setMenuPosition(pos, any, true);
}

void TForm1::RichEdit1Exit() {
    for (int pos = 0; pos < 8; ++pos)
        setMenuPosition(pos, false, pos < 6);
}

void TForm1::RichEdit1MouseDown(Qt::MouseButton button) {
    if (button != Qt::RightButton) return;
    if (SpeedButton1->isChecked())
        RichEdit1Exit();
    else
        RichEdit1Enter();
}

// ---------------------------------------------------------------------------------------
// File commands

QFileDialog& TForm1::fileDialog(Dialog which) {
    const int i = static_cast<int>(which);
    if (dialogs_[i]) return *dialogs_[i];
    struct Spec {
        const char* name;
        const char* title;
        bool save;
    };
    const Spec specs[6] = {
        {"OpenMailDia", "Open Mail File", false},
        {"OpenFieldsDia", "Open Field Definitions File", false},
        {"OpenDataDia", "Open Data File", false},
        {"SaveMailDia", "Save Mail", true},
        {"SaveFieldDia", "Save Field Definitions", true},
        {"SaveDataDia", "Save Database", true},
    };
    const Spec& s = specs[i];
    auto* d = new QFileDialog(this, QString::fromLatin1(s.title));
    d->setObjectName(QString::fromLatin1(s.name));
    d->setOption(QFileDialog::DontUseNativeDialog, true);
    d->setDefaultSuffix(QStringLiteral("txt"));
    if (s.save) {
        d->setAcceptMode(QFileDialog::AcceptSave);
        d->setFileMode(QFileDialog::AnyFile);
        d->setNameFilters({QStringLiteral("Text (*.txt)"), QStringLiteral("All Files (*)")});
    } else {
        d->setAcceptMode(QFileDialog::AcceptOpen);
        d->setFileMode(QFileDialog::ExistingFile);
        d->setNameFilters({QStringLiteral("Text files (*.txt)"), QStringLiteral("All files (*)")});
    }
    // Wide enough for the size, type and date columns to show their texts in full; the
    // name column takes the rest.
    d->resize(760, 460);
    if (auto* files = d->findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* h = files->header();
        h->setStretchLastSection(false);
        const int widths[] = {0, 90, 150, 150};
        for (int col = 1; col < 4 && col < h->count(); ++col)
            h->resizeSection(col, widths[col]);
        h->setSectionResizeMode(0, QHeaderView::Stretch);
    }
    if (auto* places = d->findChild<QSplitter*>(QStringLiteral("splitter")))
        places->setSizes({130, 610});
    dialogs_[i] = d;
    return *d;
}

// A dialog opens in the folder of the file of its kind that is in use (the last mail,
// field list or database), or else of any of them: that is where the user's files are,
// not wherever the program happened to be started from. Saving proposes the file's name.
void TForm1::prepareFileDialog(Dialog which, QFileDialog& d) const {
    const std::string* own = nullptr;
    switch (which) {
    case Dialog::OpenMail:
    case Dialog::SaveMail:
        own = &st_.user.lastmail;
        break;
    case Dialog::OpenFields:
    case Dialog::SaveField:
        own = &st_.user.lastfields;
        break;
    case Dialog::OpenData:
    case Dialog::SaveData:
        own = &st_.user.lastdb;
        break;
    }
    for (const std::string* path :
         {own, &st_.user.lastmail, &st_.user.lastdb, &st_.user.lastfields}) {
        if (path->empty()) continue;
        const QFileInfo info(fromBytes(*path));
        if (!info.absoluteDir().exists()) continue;
        d.setDirectory(info.absolutePath());
        if (d.acceptMode() == QFileDialog::AcceptSave)
            d.selectFile(path == own ? info.fileName() : QString());
        return;
    }
}

QString TForm1::chooseFile(Dialog which) {
    QFileDialog& d = fileDialog(which);
    prepareFileDialog(which, d);
    if (chooser_) return chooser_(d);
    const int result = d.exec();
    const QStringList files = d.selectedFiles();
    // The dialog is kept for next time. Its name completer may still be open, or open
    // itself once the folder has been read, on top of the main window, where it would
    // swallow the next click: empty the name and close the completer.
    if (auto* name = d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
        name->clear();
        if (QCompleter* c = name->completer()) c->popup()->hide();
    }
    if (result != QDialog::Accepted) return {};
    return files.isEmpty() ? QString() : files.front();
}

void TForm1::showError(const QString& text) {
    QMessageBox::critical(this, QStringLiteral("Tandrel"), text);
}

void TForm1::closeDatabaseEditor() {
    if (forms_ && forms_->dBaseEntry && forms_->dBaseEntry->isVisible())
        forms_->dBaseEntry->close();
    // The editor's closing gives the controls back; make sure of it in any case.
    if (!controlsEnabled_) {
        SetControlsEnabled(true);
        RefreshLists();
    }
}

void TForm1::File11Click() {
    endPreview(); // a new mail starts from the template, never from a merged text
    MailEditors eds = editorTexts();
    tandrel::NewMail(st_, eds);
    setEditorTexts(eds);
}

void TForm1::File12Click() {
    closeDatabaseEditor();
    if (!forms_ || !forms_->dBaseEntry) return;
    // The editor releases the database the lists point into.
    availModel_->freeze();
    recipModel_->freeze();
    forms_->dBaseEntry->StartNewDatabase();
    RefreshLists();
}

void TForm1::File21Click() {
    const QString path = chooseFile(Dialog::OpenMail);
    if (path.isEmpty()) return;
    endPreview();
    MailEditors eds = editorTexts();
    try {
        WaitCursor wait;
        if (tandrel::LoadMail(st_, toBytes(path), eds)) setEditorTexts(eds);
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    }
}

void TForm1::File23Click() {
    const QString path = chooseFile(Dialog::OpenFields);
    if (path.isEmpty()) return;
    closeDatabaseEditor();
    try {
        WaitCursor wait;
        tandrel::LoadFields(st_, toBytes(path));
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
        return;
    }
    RefreshLists();
}

void TForm1::File24Click() {
    if (!st_.db || st_.db->fields.empty()) return;
    const QString path = chooseFile(Dialog::OpenData);
    if (path.isEmpty()) return;
    closeDatabaseEditor();
    if (!st_.db || st_.db->fields.empty()) return;
    try {
        WaitCursor wait;
        tandrel::LoadDatabase(st_, toBytes(path));
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
        return;
    }
    RefreshLists();
}

void TForm1::File41Click() {
    const QString path = chooseFile(Dialog::SaveMail);
    if (path.isEmpty()) return;
    try {
        tandrel::SaveMail(st_, toBytes(path), editorTexts(), previewShown_);
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    }
}

void TForm1::File42Click() {
    if (!st_.db || st_.db->fields.empty()) return;
    const QString path = chooseFile(Dialog::SaveField);
    if (path.isEmpty()) return;
    try {
        tandrel::SaveFields(st_, toBytes(path));
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    }
}

void TForm1::File43Click() {
    if (!st_.db || st_.db->entries.empty()) return;
    const QString path = chooseFile(Dialog::SaveData);
    if (path.isEmpty()) return;
    try {
        tandrel::SaveDatabase(st_, toBytes(path));
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    }
}

void TForm1::File5Click() {
    close();
}

// ---------------------------------------------------------------------------------------
// Other windows

void TForm1::Edit6Click() {
    SetControlsEnabled(false);
    if (!st_.db) {
        File12Click();
        return;
    }
    if (!forms_ || !forms_->dBaseEntry) return;
    TdBaseEntry* editor = forms_->dBaseEntry;
    editor->show();
    editor->FillEntryList();
    editor->ShowCurrentEntry();
    editor->repaint();
}

void TForm1::Edit7Click() {
    if (!forms_ || !forms_->prefForm) return;
    if (forms_->prefForm->exec() != QDialog::Accepted) return;
    if (!ini_) ini_ = std::make_unique<tandrel::Profile>(st_.iniPath());
    try {
        tandrel::WritePrefs(*ini_, st_.prefs);
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    }
}

void TForm1::Help3Click() {
    if (!forms_ || !forms_->aboutForm) return;
    forms_->aboutForm->setTexts(QStringLiteral("Tandrel 1.1"), TaboutForm::CreditText());
    forms_->aboutForm->exec();
}

// The attachments window tests files and the mailing run writes the sent log. Those
// windows report their own errors; a file error that still reaches these handlers is
// shown here, since an exception leaving a click handler would end the program.
void TForm1::AttachButClick() {
    if (!forms_ || !forms_->attachForm) return;
    try {
        forms_->attachForm->exec();
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    }
    UpdateStatusBar();
}

void TForm1::SendButClick() {
    if (!forms_) return;
    try {
        tandrel::RunMailing(*this, *forms_);
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    }
}

HelpWindow& TForm1::help() {
    if (!help_) {
        help_ = new HelpWindow(this);
        help_->setFont(font());
    }
    return *help_;
}

void TForm1::Help1Click() {
    help().showContents();
}

void TForm1::Help2Click() {
    help().showIndex();
}
