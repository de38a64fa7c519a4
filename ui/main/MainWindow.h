// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: the program a user starts. It shows the mail and the database (the
// two documents it owns), starts every command, and keeps the program-wide state for
// the other windows. Its parts: the menus and toolbar (MainMenus), the people lists
// (PeoplePanes), the mail editors (MailPanel) and the file dialogs (FileDialogs).
#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/AppState.h"
#include "model/DatabaseDocument.h"
#include "ui/DialogHelp.h"
#include "ui/main/FileDialogs.h"
#include "model/MailDocument.h"
#include "ui/main/MainMenus.h"

class QListWidget;

namespace tandrel {

class AboutBox;
class AttachmentsWindow;
class DatabaseEditor;
class HelpWindow;
class MailPanel;
class MainStatusBar;
class PeopleModel;
class PeoplePanes;
class PreferencesDialog;

class Profile;
struct WindowGeometry;

// What Send and Send Test start: the mailing run with its own windows.
class MailingLauncher {
public:
    virtual ~MailingLauncher() = default;
    virtual void sendMailing() = 0;
    virtual void sendTestMail(const Person& person) = 0;
};

class MainWindow : public QMainWindow, public MenuCommands, public HelpDesk {
    Q_OBJECT
public:
    // `programDir` replaces the directory of the program file as the home of the
    // settings and log files (empty: the program's own directory).
    explicit MainWindow(QWidget* parent = nullptr, const std::string& programDir = {});
    ~MainWindow() override;

    AppState& state() { return st_; }
    // Where Send and Send Test go; without one they do nothing.
    void setMailingLauncher(MailingLauncher* launcher) { launcher_ = launcher; }

    // The current texts of the From, To, Subject and body editors.
    MailEditors editorTexts() const;
    // Puts the texts into the four mail editors.
    void setEditorTexts(const MailEditors& eds);
    // True while the merged preview is shown in the editors.
    bool previewShown() const;
    // The entries of the "Receipients" rows, in row order (each row its own entry).
    std::vector<Person*> recipientRows() const;
    void setControlsEnabled(bool on);
    bool controlsEnabled() const { return controlsEnabled_; }
    // Shows the database again in the field list and both people lists.
    void refreshLists();
    void updateStatusBar();

    // The file dialogs are run through this, so a test can answer them. It gets the
    // configured dialog and returns the chosen path, or an empty text for Cancel.
    using FileChooser = FileDialogs::Chooser;
    void setFileChooser(FileChooser chooser) { dialogs_.setChooser(std::move(chooser)); }
    using Dialog = FileDialogs::Kind;
    QFileDialog& fileDialog(Dialog which) { return dialogs_.dialog(which); }

    // The unsaved-work questions go through this, so a test can answer them. It gets the
    // question and returns QMessageBox::Save, Discard or Cancel.
    using QuestionAnswerer = std::function<int(const QString&)>;
    void setQuestionAnswerer(QuestionAnswerer answerer) { questionAnswerer_ = std::move(answerer); }
    // Whether the mail (as the template, never a preview) or the database with its fields
    // differ from what was last loaded or saved.
    bool mailChanged() const;
    bool databaseChanged() const { return database_.changed(); }

    // The files given when the program was started: a .csv file becomes the database,
    // any other the mail, as Open Database and Open Mail would load them.
    void openFiles(const std::vector<std::string>& paths);

    HelpWindow* helpWindow() const { return help_; }
    DatabaseEditor* databaseEditor() const { return databaseEditor_; }
    PreferencesDialog* preferencesDialog() const { return preferences_; }
    AboutBox* aboutBox() const { return about_; }
    AttachmentsWindow* attachmentsWindow() const { return attachments_; }
    QString statusPanelText(int panel) const;
    int upperPaneHeight() const { return paneHeight_; }
    PeopleModel* availableModel() const;
    PeopleModel* recipientModel() const;

public slots:
    // Menu commands.
    void newMail() override;
    void newDatabase() override;
    void openMail() override;
    void openFields() override;
    void openDatabase() override;
    void saveMailAs() override;
    void saveFieldsAs() override;
    void saveDatabaseAs() override;
    // Saves every changed file to its own file, asking for a name only where there is none.
    void saveAll() override;
    void exitProgram() override;
    void insertField() override;
    void cutText() override;
    void copyText() override;
    void pasteText() override;
    void deleteText() override;
    void selectAllText() override;
    void editDatabase() override;
    void editPreferences() override;
    // The mail merged for the selected receipient (or the first), sent to the sender.
    void sendTestMail() override;
    // Makes the people the last run did not reach the receipients, and only them.
    void selectRecipientsNotReached() override;
    // Step the preview to the previous or next receipient shown, starting it if needed.
    void previewPrevious() override;
    void previewNext() override;
    void showHelpContents() override;
    void showHelpIndex() override;
    void showAbout() override;
    // A dialog's page of the help, usable beside the dialog.
    void showHelpPage(const QUrl& page, QWidget* asking) override;
    // People lists.
    void moveAllToRecipients();
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
    void buildClientArea();
    void buildDialogs();
    void startUp(const std::string& programDir);
    QRect screenArea(const WindowGeometry& g) const;
    void shutDown();
    void adjustToSize();
    void layoutMailArea();
    int shownPaneHeight() const;
    void dragSplitter(int startHeight, int dy);

    void showPreview();
    void stepPreview(int delta);
    void restoreTemplate();
    void endPreview();
    void updateNotReachedCommand();
    bool fieldSelected() const;
    void closeDatabaseEditor();
    void openMailFile(const std::string& path);
    void openDatabaseFile(const std::string& path);

    void showMail(const MailEditors& eds);
    MailEditors mailTemplate() const;
    void updateTitle();
    int ask(const QString& question);
    // Ask before changed work is dropped; false when the user cancels or the save fails.
    bool keepChanged(bool changed, const QString& question, bool (MainWindow::*save)());
    bool keepChangedMail();
    bool keepChangedDatabase();
    bool saveMail();
    bool saveDatabase();
    // Runs a file operation; a FileError (or any other) is shown and gives false.
    bool tryFile(const std::function<void()>& operation);
    void showError(const QString& text);
    void showHelpContext(QWidget* focus);
    HelpWindow& help();

    AppState st_;
    MailDocument mail_{st_};
    DatabaseDocument database_{st_};
    std::unique_ptr<Profile> ini_;
    // Set once the start-up has read the settings; only then are they written at exit.
    bool settingsRead_ = false;
    MailingLauncher* launcher_ = nullptr;

    bool controlsEnabled_ = true;
    int paneHeight_ = 230;
    FileDialogs dialogs_{this, st_.user};
    QuestionAnswerer questionAnswerer_;

    MainMenus* menus_ = nullptr;
    PeoplePanes* people_ = nullptr;
    MailPanel* editors_ = nullptr;
    HelpWindow* help_ = nullptr;
    DatabaseEditor* databaseEditor_ = nullptr;
    PreferencesDialog* preferences_ = nullptr;
    AboutBox* about_ = nullptr;
    AttachmentsWindow* attachments_ = nullptr;

    // Controls, named as everywhere in the program.
    MainStatusBar* statusLine_ = nullptr;
    QListWidget* fieldList_ = nullptr;
    QWidget* mailArea_ = nullptr;
    QWidget* paneSplitter_ = nullptr;
};

} // namespace tandrel
