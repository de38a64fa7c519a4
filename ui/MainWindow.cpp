// The main window's construction: menus, toolbar, status bar, the controls of its client
// area and their accessible names.
#include "MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QSvgRenderer>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "ListColumns.h"
#include "MainWindowParts.h"
#include "PeopleFilter.h"
#include "PeopleModel.h"
#include "Settings.h"

// Resources of a static library are registered by hand (outside any namespace).
static void initTandrelResources() {
    Q_INIT_RESOURCE(resources);
}

using namespace tandrel::mainwindow;
using tandrel::MailEditors;
using tandrel::ReceipData;

namespace {

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

MainWindow::MainWindow(QWidget* parent, const std::string& programDir) : QMainWindow(parent) {
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
    availFilter_ = new PeopleFilter(availModel_, this);
    recipFilter_ = new PeopleFilter(recipModel_, this);

    buildMenus();
    buildToolBar();
    buildStatusBar();
    buildClientArea();
    setAccessibility();

    // Every key reaches the window before the focused control.
    qApp->installEventFilter(this);

    startUp(programDir);
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
    // The other windows go first, while the state they were given still exists.
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child->isWindow()) delete child;
    help_ = nullptr;
    // The lists must not outlive the entries they point to.
    availModel_->clear();
    recipModel_->clear();
}

void MainWindow::buildMenus() {
    mainMenu = new QMenuBar(this);
    mainMenu->setObjectName(QStringLiteral("MainMenu1"));
    setMenuBar(mainMenu);

    auto item = [this](QMenu* menu, const char* name, const QString& text, const QString& status,
                       void (MainWindow::*slot)()) {
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

    QMenu* file = mainMenu->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1Menu"));
    file->menuAction()->setStatusTip(QStringLiteral("Manage files"));
    QMenu* fileNew =
        submenu(file, "File1", QStringLiteral("&New"), QStringLiteral("Create new files"));
    newMailAction = item(fileNew, "File11", QStringLiteral("&Mail"),
                         QStringLiteral("Remove the current mail"), &MainWindow::newMail);
    newDatabaseAction = item(fileNew, "File12", QStringLiteral("&Database"),
                             QStringLiteral("Create an empty database"), &MainWindow::newDatabase);
    QMenu* fileOpen = submenu(file, "File2", QStringLiteral("&Open"), QStringLiteral("Open files"));
    openMailAction = item(fileOpen, "File21", QStringLiteral("&Mail..."),
                          QStringLiteral("Open a saved mail"), &MainWindow::openMail);
    // The one menu hint that also has a tooltip part.
    openMailAction->setToolTip(QStringLiteral("Open a saved mail"));
    openFieldsAction = item(fileOpen, "File23", QStringLiteral("&Fields..."),
                            QStringLiteral("Open a saved field list"), &MainWindow::openFields);
    openDatabaseAction = item(fileOpen, "File24", QStringLiteral("DB &Entries..."),
                              QStringLiteral("Open a saved database"), &MainWindow::openDatabase);
    saveAllAction = item(file, "FileSave", QStringLiteral("&Save"),
                         QStringLiteral("Save every changed file"), &MainWindow::saveAll);
    saveAllAction->setShortcut(QKeySequence::Save);
    QMenu* fileSave =
        submenu(file, "File4", QStringLiteral("Save &As"), QStringLiteral("Save files"));
    saveMailAction = item(fileSave, "File41", QStringLiteral("Save &Mail As..."),
                          QStringLiteral("Save the current mail"), &MainWindow::saveMailAs);
    saveFieldsAction =
        item(fileSave, "File42", QStringLiteral("Save &Fields As..."),
             QStringLiteral("Save the list of fields to a file"), &MainWindow::saveFieldsAs);
    saveDatabaseAction =
        item(fileSave, "File43", QStringLiteral("Save &Database As..."),
             QStringLiteral("Save the database to a file"), &MainWindow::saveDatabaseAs);
    exitAction = item(file, "File5", QStringLiteral("&Exit"), QStringLiteral("Exit Tandrel"),
                      &MainWindow::exitProgram);

    QMenu* edit = mainMenu->addMenu(QStringLiteral("&Edit"));
    edit->setObjectName(QStringLiteral("EditMenu"));
    insertFieldAction =
        item(edit, "Edit1", QStringLiteral("Insert Field"), QString(), &MainWindow::insertField);
    separator(edit, "N5");
    cutAction = item(edit, "Edit2", QStringLiteral("Cut"), QString(), &MainWindow::cutText);
    copyAction = item(edit, "Edit3", QStringLiteral("Copy"), QString(), &MainWindow::copyText);
    pasteAction = item(edit, "Edit4", QStringLiteral("Paste"), QString(), &MainWindow::pasteText);
    deleteAction =
        item(edit, "Edit5", QStringLiteral("Delete"), QString(), &MainWindow::deleteText);
    separator(edit, "N4");
    editDatabaseAction =
        item(edit, "Edit6", QStringLiteral("Edit &Database..."),
             QStringLiteral("Open the database editor"), &MainWindow::editDatabase);
    preferencesAction =
        item(edit, "Edit7", QStringLiteral("Preferences..."),
             QStringLiteral("Change the settings of Tandrel"), &MainWindow::editPreferences);
    separator(edit, "N6");
    sendTestAction = item(edit, "EditTestMail", QStringLiteral("Send &Test to Me"),
                          QStringLiteral("Send the mail for the selected receipient to yourself"),
                          &MainWindow::sendTestMail);
    notReachedAction =
        item(edit, "EditNotReached", QStringLiteral("Recipients &Not Reached"),
             QStringLiteral("Make the people the last mailing did not reach the receipients"),
             &MainWindow::selectRecipientsNotReached);
    notReachedAction->setEnabled(false);
    previewPreviousAction = item(edit, "EditPreviewPrevious", QStringLiteral("Pre&vious"),
                                 QStringLiteral("Preview the mail for the previous receipient"),
                                 &MainWindow::previewPrevious);
    previewPreviousAction->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Left));
    previewNextAction =
        item(edit, "EditPreviewNext", QStringLiteral("Ne&xt"),
             QStringLiteral("Preview the mail for the next receipient"), &MainWindow::previewNext);
    previewNextAction->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Right));
    insertFieldAction->setEnabled(false);
    cutAction->setEnabled(false);
    copyAction->setEnabled(false);
    deleteAction->setEnabled(false);

    QMenu* helpMenu = mainMenu->addMenu(QStringLiteral("&Help"));
    helpMenu->setObjectName(QStringLiteral("HelpMenu"));
    helpMenu->menuAction()->setStatusTip(QStringLiteral("Get help"));
    helpContentsAction = item(helpMenu, "Help1", QStringLiteral("&Contents"), QString(),
                              &MainWindow::showHelpContents);
    helpIndexAction =
        item(helpMenu, "Help2", QStringLiteral("&Index"), QString(), &MainWindow::showHelpIndex);
    separator(helpMenu, "N1");
    aboutAction =
        item(helpMenu, "Help3", QStringLiteral("&About"), QString(), &MainWindow::showAbout);

    bodyMenu = new QMenu(this);
    bodyMenu->setObjectName(QStringLiteral("MailPopupMenu"));
    bodyInsertFieldAction =
        item(bodyMenu, "FieldItem", QStringLiteral("Insert field"),
             QStringLiteral("Insert the selected field at the cursor"), &MainWindow::insertField);
    separator(bodyMenu, "N3");
    bodyCutAction = item(bodyMenu, "CutItem", QStringLiteral("Cut"),
                         QStringLiteral("Remove selection and insert it to the clipboard"),
                         &MainWindow::cutText);
    bodyCopyAction = item(bodyMenu, "CopyItem", QStringLiteral("Copy"),
                          QStringLiteral("Copy selection to clipboard"), &MainWindow::copyText);
    bodyPasteAction = item(bodyMenu, "PasteItem", QStringLiteral("Paste"),
                           QStringLiteral("Replace selection with contents of clipboard"),
                           &MainWindow::pasteText);
    bodyDeleteAction = item(bodyMenu, "DeleteItem", QStringLiteral("Delete"),
                            QStringLiteral("Delete the selection"), &MainWindow::deleteText);
    separator(bodyMenu, "N2");
    bodySelectAllAction = item(bodyMenu, "SelectItem", QStringLiteral("Select all"),
                               QStringLiteral("Select all text"), &MainWindow::selectAllText);
    bodyInsertFieldAction->setEnabled(false);
    bodyCutAction->setEnabled(false);
    bodyCopyAction->setEnabled(false);
    bodyDeleteAction->setEnabled(false);

    // A highlighted menu item shows its status text, an item without a hint none.
    for (QMenu* m : {file, fileNew, fileOpen, fileSave, edit, helpMenu, bodyMenu}) {
        connect(m, &QMenu::hovered, this,
                [this](QAction* a) { panels_[0]->setText(a->statusTip()); });
        // A submenu closing may leave its parent menu open: that one's highlight counts.
        connect(m, &QMenu::aboutToHide, this, [this] {
            displayHint(QString::fromLatin1(kWindowHint));
            QTimer::singleShot(0, this, [this] { showMenuHint(); });
        });
    }
}

void MainWindow::showMenuHint() {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    // With nothing highlighted inside an open menu, the highlighted item is the one
    // that opened it (in the menu bar or the parent menu).
    QAction* lit = menu->activeAction() ? menu->activeAction() : menu->menuAction();
    panels_[0]->setText(lit->statusTip());
}

void MainWindow::buildToolBar() {
    mainToolBar = new QToolBar(this);
    mainToolBar->setObjectName(QStringLiteral("ToolBar1"));
    mainToolBar->setMovable(false);
    mainToolBar->setFloatable(false);
    mainToolBar->setFixedHeight(33);
    mainToolBar->setIconSize(QSize(16, 16));
    mainToolBar->setContentsMargins(0, 0, 0, 0);
    mainToolBar->toggleViewAction()->setVisible(false);
    addToolBar(Qt::TopToolBarArea, mainToolBar);

    struct Button {
        const char* name;
        const char* icon;
        const char* tooltip;
        const char* status;
        void (MainWindow::*slot)();
    };
    const Button buttons[] = {
        {"SpeedButton2", "new-mail", "New Mail", "Remove the current mail", &MainWindow::newMail},
        {"SpeedButton3", "new-database", "New Database", "Create an empty database",
         &MainWindow::newDatabase},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
        {"SpeedButton5", "open-mail", "Open Mail", "Open a saved mail", &MainWindow::openMail},
        {"SpeedButton6", "open-fields", "Open Fields", "Open a saved field list",
         &MainWindow::openFields},
        {"SpeedButton7", "open-database", "Open Database", "Open a saved database",
         &MainWindow::openDatabase},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
        {"SpeedButton4", "save-mail", "Save Mail", "Save the current mail",
         &MainWindow::saveMailAs},
        {"SpeedButton8", "save-fields", "Save Fields", "Save the list of fields to a file",
         &MainWindow::saveFieldsAs},
        {"SpeedButton9", "save-database", "Save Database", "Save the database to a file",
         &MainWindow::saveDatabaseAs},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
        {"SpeedButton10", "database-editor", "Database Editor", "Open the database editor",
         &MainWindow::editDatabase},
    };
    int separators = 0;
    for (const Button& b : buttons) {
        if (!b.name) {
            auto* sep = new QFrame;
            sep->setObjectName(QStringLiteral("ToolSeparator%1").arg(++separators));
            sep->setFrameShape(QFrame::VLine);
            sep->setFrameShadow(QFrame::Sunken);
            sep->setFixedSize(8, 22);
            mainToolBar->addWidget(sep);
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
        mainToolBar->addWidget(tb);
        toolButtons_.push_back(tb);
    }
}

void MainWindow::buildStatusBar() {
    statusLine = new QStatusBar(this);
    statusLine->setObjectName(QStringLiteral("StatusBar1"));
    statusLine->setFixedHeight(19);
    statusLine->setSizeGripEnabled(true);
    setStatusBar(statusLine);
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
        statusLine->addWidget(l);
        panels_[i] = l;
    }
}

void MainWindow::buildClientArea() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("ClientArea"));
    auto* hbox = new QHBoxLayout(central);
    hbox->setContentsMargins(0, 0, 0, 0);
    hbox->setSpacing(0);
    setCentralWidget(central);

    fieldList = new QListWidget;
    fieldList->setObjectName(QStringLiteral("ListBox3"));
    fieldList->setFixedWidth(kFieldListWidth);
    fieldList->setSelectionMode(QAbstractItemView::SingleSelection);
    setHint(fieldList,
            QStringLiteral("|List of available fields - double click a field to insert it"));
    fieldList->setProperty(kHelpContext, 5);
    connect(fieldList, &QListWidget::itemSelectionChanged, this, &MainWindow::onFieldListClicked);
    connect(fieldList, &QListWidget::itemClicked, this, [this] { onFieldListClicked(); });
    connect(fieldList, &QListWidget::itemDoubleClicked, this, [this] { insertField(); });
    hbox->addWidget(fieldList);

    mailArea = new QWidget;
    mailArea->setObjectName(QStringLiteral("Panel1"));
    hbox->addWidget(mailArea, 1);

    // Upper pane: "Available", the move buttons, "Receipients".
    peoplePane = new QWidget(mailArea);
    peoplePane->setObjectName(QStringLiteral("Panel4"));
    auto* upper = new QHBoxLayout(peoplePane);
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
    auto makeList = [](const char* name, QAbstractItemModel* model) {
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
        tandrel::MakeColumnsResizable(*v);
        // Columns fit what the list shows as it is loaded and resized, until the user
        // drags one.
        tandrel::KeepColumnsFitted(*v);
        return v;
    };

    auto makeSearch = [this](const char* name, PeopleFilter* filter) {
        auto* e = new QLineEdit;
        e->setObjectName(QString::fromLatin1(name));
        e->setPlaceholderText(QStringLiteral("Search"));
        e->setClearButtonEnabled(true);
        setHint(e, QStringLiteral("|Show only the people whose name or e-mail contains this text"));
        e->setProperty(kHelpContext, 6);
        connect(e, &QLineEdit::textChanged, this,
                [this, filter](const QString& text) { filterList(filter, text); });
        return e;
    };

    availablePane = new QWidget;
    availablePane->setObjectName(QStringLiteral("Panel5"));
    availablePane->setFixedWidth(267);
    auto* left = new QVBoxLayout(availablePane);
    left->setContentsMargins(0, 0, 0, 0);
    left->setSpacing(0);
    availableTitle = makeTitle("Panel6", QStringLiteral("Available"));
    availableView = makeList("ListView2", availFilter_);
    setHint(availableView, QStringLiteral("|List of available people"));
    availableView->setProperty(kHelpContext, 6);
    availableSearch = makeSearch("SearchAvailable", availFilter_);
    left->addWidget(availableTitle);
    left->addWidget(availableSearch);
    left->addWidget(availableView, 1);
    upper->addWidget(availablePane);

    moveButtonsPane = new QWidget;
    moveButtonsPane->setObjectName(QStringLiteral("Panel3"));
    moveButtonsPane->setFixedWidth(kMoveButtonsWidth);
    auto moveButton = [this](const char* name, const QString& text, int top,
                             void (MainWindow::*slot)()) {
        auto* b = new QPushButton(text, moveButtonsPane);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry((kMoveButtonsWidth - 33) / 2, top, 33, 25);
        b->setFont(scaledFont(font(), 12, false));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    moveSelectedButton =
        moveButton("Button2", QStringLiteral("->"), 16, &MainWindow::moveSelectedToRecipients);
    moveAllButton =
        moveButton("Button3", QStringLiteral("->>"), 56, &MainWindow::moveAllToRecipients);
    takeBackAllButton =
        moveButton("Button4", QStringLiteral("<<-"), 120, &MainWindow::takeBackAllRecipients);
    takeBackSelectedButton =
        moveButton("Button1", QStringLiteral("<-"), 160, &MainWindow::takeBackSelectedRecipients);
    upper->addWidget(moveButtonsPane);

    recipientsPane = new QWidget;
    recipientsPane->setObjectName(QStringLiteral("Panel7"));
    auto* right = new QVBoxLayout(recipientsPane);
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    recipientsTitle = makeTitle("Panel8", QStringLiteral("Receipients"));
    recipientsView = makeList("ListView1", recipFilter_);
    setHint(recipientsView, QStringLiteral("|List of receipients"));
    recipientsView->setProperty(kHelpContext, 7);
    recipientsSearch = makeSearch("SearchReceipients", recipFilter_);
    right->addWidget(recipientsTitle);
    right->addWidget(recipientsSearch);
    right->addWidget(recipientsView, 1);
    upper->addWidget(recipientsPane, 1);

    auto* splitter = new PaneSplitter(mailArea);
    splitter->setObjectName(QStringLiteral("Splitter1"));
    splitter->startHeight = [this] { return paneHeight_; };
    splitter->dragged = [this](int start, int dy) { dragSplitter(start, dy); };
    paneSplitter = splitter;

    // Header panel: From, To, Subject, attachments, Send and the preview button.
    headerPanel = new QWidget(mailArea);
    headerPanel->setObjectName(QStringLiteral("Panel2"));
    auto headerLine = [this](const char* labelName, const QString& caption, const char* editName,
                             int top, int context) {
        auto* l = new QLabel(caption, headerPanel);
        l->setObjectName(QString::fromLatin1(labelName));
        l->setFont(scaledFont(font(), 8, true));
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        l->setGeometry(4, top, 54, 21);
        auto* e = new QLineEdit(headerPanel);
        e->setObjectName(QString::fromLatin1(editName));
        e->setGeometry(62, top, 250, 21);
        e->setProperty(kHelpContext, context);
        l->setBuddy(e);
        return e;
    };
    fromEdit = headerLine("Label1", QStringLiteral("From:"), "FrEdit", 8, 2);
    toEdit = headerLine("Label2", QStringLiteral("To:"), "ToEdit", 32, 3);
    subjectEdit = headerLine("Label3", QStringLiteral("Subject:"), "SubEdit", 56, 4);

    attachButton = new QToolButton(headerPanel);
    attachButton->setObjectName(QStringLiteral("AttachBut"));
    attachButton->setGeometry(326, (kHeaderPanelHeight - 41) / 2, 41, 41);
    attachButton->setIcon(svgIcon(QStringLiteral(":/icons/attachments.svg"), QSize(32, 32)));
    attachButton->setIconSize(QSize(32, 32));
    attachButton->setToolTip(QStringLiteral("Attachments"));
    attachButton->setFocusPolicy(Qt::StrongFocus);
    connect(attachButton, &QToolButton::clicked, this, &MainWindow::editAttachments);

    sendGroup = new QGroupBox(headerPanel);
    sendGroup->setObjectName(QStringLiteral("GroupBox1"));
    sendButton = new QPushButton(QStringLiteral("Send"), sendGroup);
    sendButton->setObjectName(QStringLiteral("SendBut"));
    sendButton->setGeometry(12, 24, 75, 41);
    sendButton->setFont(scaledFont(font(), 14, true));
    sendButton->setAutoDefault(false);
    connect(sendButton, &QPushButton::clicked, this, &MainWindow::sendMailing);
    previewButton = new QToolButton(sendGroup);
    previewButton->setObjectName(QStringLiteral("SpeedButton1"));
    previewButton->setGeometry(100, 32, 25, 25);
    previewButton->setCheckable(true);
    previewButton->setToolTip(QStringLiteral("Preview mail"));
    previewButton->setStatusTip(QStringLiteral("Preview mail"));
    previewButton->setFocusPolicy(Qt::StrongFocus);
    {
        QIcon icon;
        const QSize sz(20, 20);
        for (qreal dpr : {1.0, 2.0}) {
            icon.addPixmap(renderSvg(QStringLiteral(":/icons/preview-off.svg"), sz, dpr),
                           QIcon::Normal, QIcon::Off);
            icon.addPixmap(renderSvg(QStringLiteral(":/icons/preview-on.svg"), sz, dpr),
                           QIcon::Normal, QIcon::On);
        }
        previewButton->setIcon(icon);
        previewButton->setIconSize(sz);
    }
    // The checked state, not the click: assistive technology flips it without clicking.
    connect(previewButton, &QToolButton::toggled, this, [this](bool on) {
        if (on && selectedRecipientCount() != 1)
            displayHint(QStringLiteral("Select exactly one receipient to preview the mail"));
        onPreviewToggled();
    });

    bodyEdit = new QPlainTextEdit(mailArea);
    bodyEdit->setObjectName(QStringLiteral("RichEdit1"));
    bodyEdit->setLineWrapMode(QPlainTextEdit::NoWrap);
    bodyEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    bodyEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    bodyEdit->setContextMenuPolicy(Qt::CustomContextMenu);
    bodyEdit->setTabChangesFocus(true); // Ctrl+Tab inserts a tab (see eventFilter)
    bodyEdit->setProperty(kHelpContext, 1);
    connect(bodyEdit, &QPlainTextEdit::selectionChanged, this, &MainWindow::onBodySelectionChanged);
    connect(bodyEdit->document(), &QTextDocument::contentsChange, this,
            [this](int pos, int, int added) {
                if (settingTexts_) return;
                if (added > 0) {
                    QTextCursor c(bodyEdit->document());
                    const int end =
                        std::min(pos + added, bodyEdit->document()->characterCount() - 1);
                    c.setPosition(std::min(pos, end));
                    c.setPosition(end, QTextCursor::KeepAnchor);
                    QString text = c.selectedText();
                    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
                    guardMailEncoding(text);
                }
                updateTitle();
            });
    for (QLineEdit* e : {fromEdit, toEdit, subjectEdit})
        connect(e, &QLineEdit::textEdited, this, [this](const QString& text) {
            guardMailEncoding(text);
            updateTitle();
        });
    connect(bodyEdit, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { bodyMenu->popup(bodyEdit->viewport()->mapToGlobal(pos)); });

    // Reading order for the keyboard: fields, the people lists with their buttons, the
    // header lines, attachments, Send, preview, then the mail text.
    setTabOrder(fieldList, availableSearch);
    setTabOrder(availableSearch, availableView);
    setTabOrder(availableView, moveSelectedButton);
    setTabOrder(moveSelectedButton, moveAllButton);
    setTabOrder(moveAllButton, takeBackAllButton);
    setTabOrder(takeBackAllButton, takeBackSelectedButton);
    setTabOrder(takeBackSelectedButton, recipientsSearch);
    setTabOrder(recipientsSearch, recipientsView);
    setTabOrder(recipientsView, fromEdit);
    setTabOrder(fromEdit, toEdit);
    setTabOrder(toEdit, subjectEdit);
    setTabOrder(subjectEdit, attachButton);
    setTabOrder(attachButton, sendButton);
    setTabOrder(sendButton, previewButton);
    setTabOrder(previewButton, bodyEdit);

    connect(recipientsView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::onRecipientSelectionChanged);

    layoutMailArea();
}

void MainWindow::setAccessibility() {
    fieldList->setAccessibleName(QStringLiteral("Fields"));
    availableView->setAccessibleName(QStringLiteral("Available"));
    recipientsView->setAccessibleName(QStringLiteral("Receipients"));
    availableSearch->setAccessibleName(QStringLiteral("Search available people"));
    recipientsSearch->setAccessibleName(QStringLiteral("Search receipients"));
    for (QPushButton* b :
         {moveSelectedButton, moveAllButton, takeBackAllButton, takeBackSelectedButton})
        b->setAccessibleName(b->text());
    moveSelectedButton->setAccessibleDescription(
        QStringLiteral("Move the selected people to the receipients"));
    moveAllButton->setAccessibleDescription(QStringLiteral("Move everybody to the receipients"));
    takeBackAllButton->setAccessibleDescription(QStringLiteral("Take all receipients back"));
    takeBackSelectedButton->setAccessibleDescription(
        QStringLiteral("Take the selected receipients back"));
    fromEdit->setAccessibleName(QStringLiteral("From:"));
    toEdit->setAccessibleName(QStringLiteral("To:"));
    subjectEdit->setAccessibleName(QStringLiteral("Subject:"));
    attachButton->setAccessibleName(QStringLiteral("Attachments"));
    sendButton->setAccessibleName(QStringLiteral("Send"));
    previewButton->setAccessibleName(QStringLiteral("Preview mail"));
    bodyEdit->setAccessibleName(QStringLiteral("Mail text"));
    availableTitle->setAccessibleName(QStringLiteral("Available"));
    recipientsTitle->setAccessibleName(QStringLiteral("Receipients"));
    paneSplitter->setAccessibleName(QStringLiteral("Splitter"));
    sendGroup->setAccessibleName(QStringLiteral("Send"));
    mainToolBar->setAccessibleName(QStringLiteral("Toolbar"));
    statusLine->setAccessibleName(QStringLiteral("Status bar"));
    mainMenu->setAccessibleName(QStringLiteral("Menu bar"));
    bodyMenu->setAccessibleName(QStringLiteral("Mail text menu"));
}
