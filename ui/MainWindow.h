// The main window: the program a user starts. It owns the program-wide state, shows the
// field list, the "Available" and "Receipients" people lists, the mail editors, the
// toolbar, menus and status bar, and starts every command.
#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AppState.h"
#include "Forms.h"
#include "MainHooks.h"

class HelpWindow;
class PeopleModel;
class QAction;
class QRect;
class QFileDialog;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class PeopleFilter;
class QStatusBar;
class QToolBar;
class QToolButton;
class QTreeView;

namespace tandrel {
class Profile;
struct WindowGeometry;
} // namespace tandrel

class MainWindow : public QMainWindow, public tandrel::MainHooks {
    Q_OBJECT
public:
    // `programDir` replaces the directory of the program file as the home of the
    // settings and log files (empty: the program's own directory).
    explicit MainWindow(QWidget* parent = nullptr, const std::string& programDir = {});
    ~MainWindow() override;
    void setForms(tandrel::Forms* forms) { forms_ = forms; }

    // MainHooks
    tandrel::AppState& state() override { return st_; }
    tandrel::MailEditors editorTexts() const override;
    bool previewShown() const override { return previewShown_; }
    std::vector<tandrel::ReceipData*> recipientRows() const override;
    void setControlsEnabled(bool on) override;
    void refreshLists() override;
    void updateStatusBar() override;
    QWidget* mainWidget() override { return this; }
    void explain(const std::string& reason) override {
        displayHint(QString::fromUtf8(reason.data(), static_cast<qsizetype>(reason.size())));
    }

    // Puts the texts into the four mail editors.
    void setEditorTexts(const tandrel::MailEditors& eds);

    // The file dialogs are run through this, so a test can answer them. It gets the
    // configured dialog and returns the chosen path, or an empty text for Cancel.
    using FileChooser = std::function<QString(QFileDialog&)>;
    void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
    enum class Dialog { OpenMail, OpenFields, OpenData, SaveMail, SaveField, SaveData };
    QFileDialog& fileDialog(Dialog which);

    // The unsaved-work questions go through this, so a test can answer them. It gets the
    // question and returns QMessageBox::Save, Discard or Cancel.
    using QuestionAnswerer = std::function<int(const QString&)>;
    void setQuestionAnswerer(QuestionAnswerer answerer) { questionAnswerer_ = std::move(answerer); }
    // Whether the mail (as the template, never a preview) or the database with its fields
    // differ from what was last loaded or saved.
    bool mailChanged() const;
    bool databaseChanged() const;

    // The files given when the program was started: a .csv file becomes the database,
    // any other the mail, as Open Database and Open Mail would load them.
    void openFiles(const std::vector<std::string>& paths);

    HelpWindow* helpWindow() const { return help_; }
    QString statusPanelText(int panel) const;
    int upperPaneHeight() const { return paneHeight_; }
    PeopleModel* availableModel() const { return availModel_; }
    PeopleModel* recipientModel() const { return recipModel_; }
    bool controlsEnabled() const { return controlsEnabled_; }

public slots:
    // Menu commands.
    void newMail();
    void newDatabase();
    void openMail();
    void openFields();
    void openDatabase();
    void saveMailAs();
    void saveFieldsAs();
    void saveDatabaseAs();
    // Saves every changed file to its own file, asking for a name only where there is none.
    void saveAll();
    void exitProgram();
    void insertField();
    void cutText();
    void copyText();
    void pasteText();
    void deleteText();
    void selectAllText();
    void editDatabase();
    void editPreferences();
    // The mail merged for the selected receipient (or the first), sent to the sender.
    void sendTestMail();
    // Makes the people the last run did not reach the receipients, and only them.
    void selectRecipientsNotReached();
    // Step the preview to the previous or next receipient shown, starting it if needed.
    void previewPrevious();
    void previewNext();
    void showHelpContents();
    void showHelpIndex();
    void showAbout();
    // People lists.
    void moveSelectedToRecipients();
    void moveAllToRecipients();
    void takeBackSelectedRecipients();
    void takeBackAllRecipients();
    // The merged preview: shows it when the button is down and exactly one recipient is
    // selected; otherwise puts the button up and gives back the template if a preview
    // is on the screen.
    void onPreviewToggled();
    // While the preview is on, it follows the one selected recipient.
    void onRecipientSelectionChanged();
    void sendMailing();
    void editAttachments();
    // Enabling rules of the insert and clipboard items.
    void onFieldListClicked();
    void onBodyEntered();
    void onBodyLeft();
    void onBodySelectionChanged();
    void onBodyMouseDown(Qt::MouseButton button);
    // Status panel 0 shows the status part of a "tooltip|status" hint.
    void displayHint(const QString& hint);

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    QMenu* createPopupMenu() override { return nullptr; }

private:
    void moveRowsToRecipients(const std::vector<int>& rows);
    void buildMenus();
    void buildToolBar();
    void buildStatusBar();
    void buildClientArea();
    void setAccessibility();
    void startUp(const std::string& programDir);
    QRect screenArea(const tandrel::WindowGeometry& g) const;
    void shutDown();
    bool handleWindowKey(int key, QWidget* focus);
    void adjustToSize();
    void layoutMailArea();
    void dragSplitter(int startHeight, int dy);

    void showPreview();
    void stepPreview(int delta);
    void restoreTemplate();
    void updateNotReachedCommand();
    // Shows only the people whose name or address contains the text of the list's field.
    void filterList(PeopleFilter* filter, const QString& text);
    void endPreview();
    int selectedRecipientCount() const;
    std::vector<int> selectedRows(QTreeView* view) const;

    void showMenuHint();
    void setMenuPosition(int pos, bool on, bool editMenuToo);
    bool fieldSelected() const;
    QString chooseFile(Dialog which);
    void prepareFileDialog(Dialog which, QFileDialog& d) const;
    void closeDatabaseEditor();
    void showEditorTexts(const tandrel::MailEditors& eds, tandrel::TextEncoding enc);
    void openMailFile(const std::string& path);
    void openDatabaseFile(const std::string& path);

    struct DatabaseSnapshot {
        bool exists = false;
        std::vector<std::string> fields;
        std::vector<std::vector<std::string>> entries;
        bool operator==(const DatabaseSnapshot&) const = default;
    };
    DatabaseSnapshot databaseSnapshot() const;
    tandrel::MailEditors mailTemplate() const;
    void markMailSaved();
    void markDatabaseSaved();
    void updateTitle();
    void guardMailEncoding(const QString& added);
    int ask(const QString& question);
    // Ask before changed work is dropped; false when the user cancels or the save fails.
    bool keepChanged(bool changed, const QString& question, bool (MainWindow::*save)());
    bool keepChangedMail();
    bool keepChangedDatabase();
    bool saveMail();
    bool saveDatabase();
    void showError(const QString& text);
    void showHelpContext(QWidget* focus);
    HelpWindow& help();

    tandrel::AppState st_;
    tandrel::Forms* forms_ = nullptr;
    std::unique_ptr<tandrel::Profile> ini_;
    // Set once the start-up has read the settings; only then are they written at exit.
    bool settingsRead_ = false;

    bool previewShown_ = false;
    tandrel::MailEditors previewTemplate_; // the editors as they were when the preview began
    bool controlsEnabled_ = true;
    int paneHeight_ = 230;
    FileChooser chooser_;
    QuestionAnswerer questionAnswerer_;
    tandrel::MailEditors savedMail_;
    DatabaseSnapshot savedDatabase_;
    bool settingTexts_ = false;
    // A new mail or database has no file of its own yet: Save asks for a name.
    bool mailUntitled_ = true;
    bool databaseUntitled_ = true;
    QFileDialog* dialogs_[6] = {};
    HelpWindow* help_ = nullptr;

    // Controls, named as everywhere in the program.
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
    std::vector<QToolButton*> toolButtons_; // the nine toolbar buttons
    std::vector<QFrame*> toolSeparators_;
    QStatusBar* statusLine = nullptr;
    QLabel* panels_[4] = {};

    QListWidget* fieldList = nullptr;
    QWidget* mailArea = nullptr;
    QWidget* peoplePane = nullptr;
    QWidget* availablePane = nullptr;
    QLabel* availableTitle = nullptr;
    QLineEdit* availableSearch = nullptr;
    QTreeView* availableView = nullptr;
    QWidget* moveButtonsPane = nullptr;
    QPushButton* moveSelectedButton = nullptr;
    QPushButton* moveAllButton = nullptr;
    QPushButton* takeBackAllButton = nullptr;
    QPushButton* takeBackSelectedButton = nullptr;
    QWidget* recipientsPane = nullptr;
    QLabel* recipientsTitle = nullptr;
    QLineEdit* recipientsSearch = nullptr;
    QTreeView* recipientsView = nullptr;
    QWidget* paneSplitter = nullptr;
    QWidget* headerPanel = nullptr;
    QLineEdit* fromEdit = nullptr;
    QLineEdit* toEdit = nullptr;
    QLineEdit* subjectEdit = nullptr;
    QToolButton* attachButton = nullptr;
    QGroupBox* sendGroup = nullptr;
    QPushButton* sendButton = nullptr;
    QToolButton* previewButton = nullptr;
    QPlainTextEdit* bodyEdit = nullptr;

    PeopleModel* availModel_ = nullptr;
    PeopleModel* recipModel_ = nullptr;
    PeopleFilter* availFilter_ = nullptr;
    PeopleFilter* recipFilter_ = nullptr;
};
