// The main window's menu bar, toolbar and the mail text's popup menu, with the actions
// they hold and the rule for which editing items are offered.
#pragma once

#include <QObject>
#include <functional>
#include <vector>

class MainWindow;
class QAction;
class QFrame;
class QMenu;
class QMenuBar;
class QString;
class QToolBar;
class QToolButton;

class MainMenus : public QObject {
    Q_OBJECT
public:
    // Builds every menu and the toolbar into `window`, each item connected to its
    // command. `showStatus` puts a highlighted item's status text into the status bar.
    MainMenus(MainWindow& window, std::function<void(const QString&)> showStatus);

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
    void buildMenus(MainWindow& w);
    void buildToolBar(MainWindow& w);

    std::function<void(const QString&)> showStatus_;
    std::vector<QToolButton*> toolButtons_; // the nine toolbar buttons
    std::vector<QFrame*> toolSeparators_;
};
