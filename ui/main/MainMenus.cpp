// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's menus and toolbar: every item with its name, text, hint and command.
#include "ui/main/MainMenus.h"

#include <QAction>
#include <QFrame>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "ui/main/MainLook.h"

namespace tandrel {

using namespace mainwindow;

MainMenus::MainMenus(QMainWindow& window, MenuCommands& commands,
                     std::function<void(const QString&)> showStatus)
    : QObject(&window), commands_(commands), showStatus_(std::move(showStatus)) {
    buildMenus(window);
    buildToolBar(window);
    mainMenu->setAccessibleName(QStringLiteral("Menu bar"));
    mainToolBar->setAccessibleName(QStringLiteral("Toolbar"));
    bodyMenu->setAccessibleName(QStringLiteral("Mail text menu"));
}

void MainMenus::setToolBarEnabled(bool on) {
    for (QToolButton* b : toolButtons_)
        b->setEnabled(on);
    for (QFrame* s : toolSeparators_)
        s->setEnabled(on);
}

void MainMenus::bodyEntered(bool fieldSelected, bool textSelected) {
    if (fieldSelected) offer(0, true, true);
    offer(4, true, true);
    offer(7, true, false);
    bodySelectionChanged(textSelected);
}

void MainMenus::bodySelectionChanged(bool textSelected) {
    for (int pos : {2, 3, 5})
        offer(pos, textSelected, true);
}

void MainMenus::bodyLeft() {
    for (int pos = 0; pos < 8; ++pos)
        offer(pos, false, pos < 6);
}

void MainMenus::offer(int pos, bool on, bool editMenuToo) {
    QAction* popup[8] = {
        bodyInsertFieldAction, nullptr,          bodyCutAction, bodyCopyAction,
        bodyPasteAction,       bodyDeleteAction, nullptr,       bodySelectAllAction};
    QAction* edit[6] = {insertFieldAction, nullptr,     cutAction,
                        copyAction,        pasteAction, deleteAction};
    if (pos >= 0 && pos < 8 && popup[pos]) popup[pos]->setEnabled(on);
    if (editMenuToo && pos >= 0 && pos < 6 && edit[pos]) edit[pos]->setEnabled(on);
}

void MainMenus::buildMenus(QMainWindow& w) {
    mainMenu = new QMenuBar(&w);
    mainMenu->setObjectName(QStringLiteral("MainMenu1"));
    w.setMenuBar(mainMenu);

    auto item = [this](QMenu* menu, const char* name, const QString& text, const QString& status,
                       Command slot) {
        QAction* a = menu->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        a->setStatusTip(status);
        connect(a, &QAction::triggered, this, [this, slot] { run(slot); });
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
                         QStringLiteral("Remove the current mail"), &MenuCommands::newMail);
    newDatabaseAction =
        item(fileNew, "File12", QStringLiteral("&Database"),
             QStringLiteral("Create an empty database"), &MenuCommands::newDatabase);
    QMenu* fileOpen = submenu(file, "File2", QStringLiteral("&Open"), QStringLiteral("Open files"));
    openMailAction = item(fileOpen, "File21", QStringLiteral("&Mail..."),
                          QStringLiteral("Open a saved mail"), &MenuCommands::openMail);
    // The one menu hint that also has a tooltip part.
    openMailAction->setToolTip(QStringLiteral("Open a saved mail"));
    openFieldsAction = item(fileOpen, "File23", QStringLiteral("&Fields..."),
                            QStringLiteral("Open a saved field list"), &MenuCommands::openFields);
    openDatabaseAction = item(fileOpen, "File24", QStringLiteral("DB &Entries..."),
                              QStringLiteral("Open a saved database"), &MenuCommands::openDatabase);
    saveAllAction = item(file, "FileSave", QStringLiteral("&Save"),
                         QStringLiteral("Save every changed file"), &MenuCommands::saveAll);
    saveAllAction->setShortcut(QKeySequence::Save);
    QMenu* fileSave =
        submenu(file, "File4", QStringLiteral("Save &As"), QStringLiteral("Save files"));
    saveMailAction = item(fileSave, "File41", QStringLiteral("Save &Mail As..."),
                          QStringLiteral("Save the current mail"), &MenuCommands::saveMailAs);
    saveFieldsAction =
        item(fileSave, "File42", QStringLiteral("Save &Fields As..."),
             QStringLiteral("Save the list of fields to a file"), &MenuCommands::saveFieldsAs);
    saveDatabaseAction =
        item(fileSave, "File43", QStringLiteral("Save &Database As..."),
             QStringLiteral("Save the database to a file"), &MenuCommands::saveDatabaseAs);
    exitAction = item(file, "File5", QStringLiteral("&Exit"), QStringLiteral("Exit Tandrel"),
                      &MenuCommands::exitProgram);

    QMenu* edit = mainMenu->addMenu(QStringLiteral("&Edit"));
    edit->setObjectName(QStringLiteral("EditMenu"));
    insertFieldAction =
        item(edit, "Edit1", QStringLiteral("Insert Field"), QString(), &MenuCommands::insertField);
    separator(edit, "N5");
    cutAction = item(edit, "Edit2", QStringLiteral("Cut"), QString(), &MenuCommands::cutText);
    copyAction = item(edit, "Edit3", QStringLiteral("Copy"), QString(), &MenuCommands::copyText);
    pasteAction = item(edit, "Edit4", QStringLiteral("Paste"), QString(), &MenuCommands::pasteText);
    deleteAction =
        item(edit, "Edit5", QStringLiteral("Delete"), QString(), &MenuCommands::deleteText);
    separator(edit, "N4");
    editDatabaseAction =
        item(edit, "Edit6", QStringLiteral("Edit &Database..."),
             QStringLiteral("Open the database editor"), &MenuCommands::editDatabase);
    preferencesAction =
        item(edit, "Edit7", QStringLiteral("Preferences..."),
             QStringLiteral("Change the settings of Tandrel"), &MenuCommands::editPreferences);
    separator(edit, "N6");
    sendTestAction = item(edit, "EditTestMail", QStringLiteral("Send &Test to Me"),
                          QStringLiteral("Send the mail for the selected receipient to yourself"),
                          &MenuCommands::sendTestMail);
    notReachedAction =
        item(edit, "EditNotReached", QStringLiteral("Recipients &Not Reached"),
             QStringLiteral("Make the people the last mailing did not reach the receipients"),
             &MenuCommands::selectRecipientsNotReached);
    notReachedAction->setEnabled(false);
    previewPreviousAction = item(edit, "EditPreviewPrevious", QStringLiteral("Pre&vious"),
                                 QStringLiteral("Preview the mail for the previous receipient"),
                                 &MenuCommands::previewPrevious);
    previewPreviousAction->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Left));
    previewNextAction = item(edit, "EditPreviewNext", QStringLiteral("Ne&xt"),
                             QStringLiteral("Preview the mail for the next receipient"),
                             &MenuCommands::previewNext);
    previewNextAction->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Right));
    insertFieldAction->setEnabled(false);
    cutAction->setEnabled(false);
    copyAction->setEnabled(false);
    deleteAction->setEnabled(false);

    auto toggle = [](QMenu* menu, const char* name, const QString& text, const QString& status) {
        QAction* a = menu->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        a->setStatusTip(status);
        a->setCheckable(true);
        return a;
    };
    QMenu* view = mainMenu->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("ViewMenu"));
    copyLinesAction = toggle(view, "ViewCopyLines", QStringLiteral("Cc, Bcc and Reply-To"),
                             QStringLiteral("Show the Cc, Bcc and Reply-To lines of the mail"));
    QMenu* format = mainMenu->addMenu(QStringLiteral("F&ormat"));
    format->setObjectName(QStringLiteral("FormatMenu"));
    formattedAction =
        toggle(format, "FormatMarkdown", QStringLiteral("Formatted (Markdown)"),
               QStringLiteral("Write the mail text in Markdown and send it formatted"));

    QMenu* helpMenu = mainMenu->addMenu(QStringLiteral("&Help"));
    helpMenu->setObjectName(QStringLiteral("HelpMenu"));
    helpMenu->menuAction()->setStatusTip(QStringLiteral("Get help"));
    helpContentsAction = item(helpMenu, "Help1", QStringLiteral("&Contents"), QString(),
                              &MenuCommands::showHelpContents);
    helpIndexAction =
        item(helpMenu, "Help2", QStringLiteral("&Index"), QString(), &MenuCommands::showHelpIndex);
    separator(helpMenu, "N1");
    aboutAction =
        item(helpMenu, "Help3", QStringLiteral("&About"), QString(), &MenuCommands::showAbout);

    bodyMenu = new QMenu(&w);
    bodyMenu->setObjectName(QStringLiteral("MailPopupMenu"));
    bodyInsertFieldAction =
        item(bodyMenu, "FieldItem", QStringLiteral("Insert field"),
             QStringLiteral("Insert the selected field at the cursor"), &MenuCommands::insertField);
    separator(bodyMenu, "N3");
    bodyCutAction = item(bodyMenu, "CutItem", QStringLiteral("Cut"),
                         QStringLiteral("Remove selection and insert it to the clipboard"),
                         &MenuCommands::cutText);
    bodyCopyAction = item(bodyMenu, "CopyItem", QStringLiteral("Copy"),
                          QStringLiteral("Copy selection to clipboard"), &MenuCommands::copyText);
    bodyPasteAction = item(bodyMenu, "PasteItem", QStringLiteral("Paste"),
                           QStringLiteral("Replace selection with contents of clipboard"),
                           &MenuCommands::pasteText);
    bodyDeleteAction = item(bodyMenu, "DeleteItem", QStringLiteral("Delete"),
                            QStringLiteral("Delete the selection"), &MenuCommands::deleteText);
    separator(bodyMenu, "N2");
    bodySelectAllAction = item(bodyMenu, "SelectItem", QStringLiteral("Select all"),
                               QStringLiteral("Select all text"), &MenuCommands::selectAllText);
    bodyInsertFieldAction->setEnabled(false);
    bodyCutAction->setEnabled(false);
    bodyCopyAction->setEnabled(false);
    bodyDeleteAction->setEnabled(false);

    // A highlighted menu item shows its status text, an item without a hint none.
    for (QMenu* m : {file, fileNew, fileOpen, fileSave, edit, helpMenu, bodyMenu}) {
        connect(m, &QMenu::hovered, this, [this](QAction* a) { showStatus_(a->statusTip()); });
        // A submenu closing may leave its parent menu open: that one's highlight counts.
        connect(m, &QMenu::aboutToHide, this, [this] {
            showStatus_(statusPart(QString::fromLatin1(kWindowHint)));
            QTimer::singleShot(0, this, [this] { showOpenMenuHint(); });
        });
    }
}

void MainMenus::showOpenMenuHint() {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    // With nothing highlighted inside an open menu, the highlighted item is the one
    // that opened it (in the menu bar or the parent menu).
    QAction* lit = menu->activeAction() ? menu->activeAction() : menu->menuAction();
    showStatus_(lit->statusTip());
}

void MainMenus::buildToolBar(QMainWindow& w) {
    mainToolBar = new QToolBar(&w);
    mainToolBar->setObjectName(QStringLiteral("ToolBar1"));
    mainToolBar->setMovable(false);
    mainToolBar->setFloatable(false);
    mainToolBar->setFixedHeight(33);
    mainToolBar->setIconSize(QSize(16, 16));
    mainToolBar->setContentsMargins(0, 0, 0, 0);
    mainToolBar->toggleViewAction()->setVisible(false);
    w.addToolBar(Qt::TopToolBarArea, mainToolBar);

    struct Button {
        const char* name;
        const char* icon;
        const char* tooltip;
        const char* status;
        Command slot;
    };
    const Button buttons[] = {
        {"SpeedButton2", "new-mail", "New Mail", "Remove the current mail", &MenuCommands::newMail},
        {"SpeedButton3", "new-database", "New Database", "Create an empty database",
         &MenuCommands::newDatabase},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
        {"SpeedButton5", "open-mail", "Open Mail", "Open a saved mail", &MenuCommands::openMail},
        {"SpeedButton6", "open-fields", "Open Fields", "Open a saved field list",
         &MenuCommands::openFields},
        {"SpeedButton7", "open-database", "Open Database", "Open a saved database",
         &MenuCommands::openDatabase},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
        {"SpeedButton4", "save-mail", "Save Mail", "Save the current mail",
         &MenuCommands::saveMailAs},
        {"SpeedButton8", "save-fields", "Save Fields", "Save the list of fields to a file",
         &MenuCommands::saveFieldsAs},
        {"SpeedButton9", "save-database", "Save Database", "Save the database to a file",
         &MenuCommands::saveDatabaseAs},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
        {"SpeedButton10", "database-editor", "Database Editor", "Open the database editor",
         &MenuCommands::editDatabase},
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
        connect(tb, &QToolButton::clicked, this, [this, slot = b.slot] { run(slot); });
        mainToolBar->addWidget(tb);
        toolButtons_.push_back(tb);
    }
}

} // namespace tandrel
