// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's menu bar, toolbar and the mail text's popup menu, with the actions
// they hold and the rule for which editing items are offered.
#pragma once

#include <QObject>
#include <functional>
#include <vector>

class QAction;
class QFrame;
class QMenu;
class QMainWindow;
class QMenuBar;
class QString;
class QToolBar;
class QToolButton;

namespace tandrel {

// The commands the menu items and toolbar buttons start.
class MenuCommands {
public:
    virtual void newMail() = 0;
    virtual void newDatabase() = 0;
    virtual void openMail() = 0;
    virtual void openFields() = 0;
    virtual void openDatabase() = 0;
    virtual void saveAll() = 0;
    virtual void saveMailAs() = 0;
    virtual void saveFieldsAs() = 0;
    virtual void saveDatabaseAs() = 0;
    virtual void exitProgram() = 0;
    virtual void insertField() = 0;
    virtual void cutText() = 0;
    virtual void copyText() = 0;
    virtual void pasteText() = 0;
    virtual void deleteText() = 0;
    virtual void selectAllText() = 0;
    virtual void editDatabase() = 0;
    virtual void editPreferences() = 0;
    virtual void sendTestMail() = 0;
    virtual void selectRecipientsNotReached() = 0;
    virtual void previewPrevious() = 0;
    virtual void previewNext() = 0;
    virtual void showHelpContents() = 0;
    virtual void showHelpIndex() = 0;
    virtual void showAbout() = 0;

protected:
    ~MenuCommands() = default;
};

class MainMenus : public QObject {
    Q_OBJECT
public:
    // Builds every menu and the toolbar into `window`, each item connected to its
    // command. `showStatus` puts a highlighted item's status text into the status bar.
    MainMenus(QMainWindow& window, MenuCommands& commands,
              std::function<void(const QString&)> showStatus);

    // The toolbar follows the main window's controls.
    void setToolBarEnabled(bool on);
    // Offers or withdraws an editing item by its place in the popup menu (0 insert field,
    // 2 cut, 3 copy, 4 paste, 5 delete, 7 select all), in the Edit menu too if asked.
    void offer(int position, bool on, bool editMenuToo);
    // The editing items follow the mail text: entering it offers Paste, Select All and,
    // with a field selected, Insert Field; a selection offers Cut, Copy and Delete;
    // leaving it withdraws them all.
    void bodyEntered(bool fieldSelected, bool textSelected);
    void bodySelectionChanged(bool textSelected);
    void bodyLeft();
    // Shows the status text of the item highlighted in the open menu, if any.
    void showOpenMenuHint();

    QMenuBar* mainMenu = nullptr;
    QAction* newMailAction = nullptr;
    QAction* newDatabaseAction = nullptr;
    QAction* openMailAction = nullptr;
    QAction* openFieldsAction = nullptr;
    QAction* openDatabaseAction = nullptr;
    QAction* saveMailAction = nullptr;
    QAction* saveFieldsAction = nullptr;
    QAction* saveDatabaseAction = nullptr;
    QAction* saveAllAction = nullptr;
    QAction* exitAction = nullptr;
    QAction* insertFieldAction = nullptr;
    QAction* cutAction = nullptr;
    QAction* copyAction = nullptr;
    QAction* pasteAction = nullptr;
    QAction* deleteAction = nullptr;
    QAction* editDatabaseAction = nullptr;
    QAction* preferencesAction = nullptr;
    QAction* sendTestAction = nullptr;
    QAction* notReachedAction = nullptr;
    QAction* previewPreviousAction = nullptr;
    QAction* previewNextAction = nullptr;
    // Checkable; the mail editors act on them (MailPanel::useActions).
    QAction* copyLinesAction = nullptr;
    QAction* formattedAction = nullptr;
    QAction* helpContentsAction = nullptr;
    QAction* helpIndexAction = nullptr;
    QAction* aboutAction = nullptr;
    QMenu* bodyMenu = nullptr;
    QAction* bodyInsertFieldAction = nullptr;
    QAction* bodyCutAction = nullptr;
    QAction* bodyCopyAction = nullptr;
    QAction* bodyPasteAction = nullptr;
    QAction* bodyDeleteAction = nullptr;
    QAction* bodySelectAllAction = nullptr;

    QToolBar* mainToolBar = nullptr;

private:
    using Command = void (MenuCommands::*)();
    void buildMenus(QMainWindow& w);
    void buildToolBar(QMainWindow& w);
    void run(Command command) { (commands_.*command)(); }

    MenuCommands& commands_;

    std::function<void(const QString&)> showStatus_;
    std::vector<QToolButton*> toolButtons_; // the nine toolbar buttons
    std::vector<QFrame*> toolSeparators_;
};

} // namespace tandrel
