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
class QStatusBar;
class QToolBar;
class QToolButton;
class QTreeView;

namespace tandrel {
class Profile;
}

class TForm1 : public QMainWindow, public tandrel::MainHooks {
    Q_OBJECT
public:
    // `programDir` replaces the directory of the program file as the home of the
    // settings and log files (empty: the program's own directory).
    explicit TForm1(QWidget* parent = nullptr, const std::string& programDir = {});
    ~TForm1() override;
    void setForms(tandrel::Forms* forms) { forms_ = forms; }

    // MainHooks
    tandrel::AppState& state() override { return st_; }
    tandrel::MailEditors editorTexts() const override;
    bool previewShown() const override { return previewShown_; }
    std::vector<tandrel::ReceipData*> recipientRows() const override;
    void SetControlsEnabled(bool on) override;
    void RefreshLists() override;
    void UpdateStatusBar() override;
    QWidget* mainWidget() override { return this; }

    // Puts the texts into the four mail editors.
    void setEditorTexts(const tandrel::MailEditors& eds);

    // The file dialogs are run through this, so a test can answer them. It gets the
    // configured dialog and returns the chosen path, or an empty text for Cancel.
    using FileChooser = std::function<QString(QFileDialog&)>;
    void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
    enum class Dialog { OpenMail, OpenFields, OpenData, SaveMail, SaveField, SaveData };
    QFileDialog& fileDialog(Dialog which);

    HelpWindow* helpWindow() const { return help_; }
    QString statusPanelText(int panel) const;
    int upperPaneHeight() const { return paneHeight_; }
    PeopleModel* availableModel() const { return availModel_; }
    PeopleModel* recipientModel() const { return recipModel_; }
    bool controlsEnabled() const { return controlsEnabled_; }

public slots:
    // Menu commands.
    void File11Click();
    void File12Click();
    void File21Click();
    void File23Click();
    void File24Click();
    void File41Click();
    void File42Click();
    void File43Click();
    void File5Click();
    void FieldItemClick();
    void CutItemClick();
    void CopyItemClick();
    void PasteItemClick();
    void DeleteItemClick();
    void SelectItemClick();
    void Edit6Click();
    void Edit7Click();
    void Help1Click();
    void Help2Click();
    void Help3Click();
    // Toolbar.
    void SpeedButton2Click() { File11Click(); }
    void SpeedButton3Click() { File12Click(); }
    void SpeedButton5Click() { File21Click(); }
    void SpeedButton6Click() { File23Click(); }
    void SpeedButton7Click() { File24Click(); }
    void SpeedButton4Click() { File41Click(); }
    void SpeedButton8Click() { File42Click(); }
    void SpeedButton9Click() { File43Click(); }
    void SpeedButton10Click() { Edit6Click(); }
    // People lists.
    void Button2Click();
    void Button3Click();
    void Button1Click();
    void Button4Click();
    // The merged preview: shows it when the button is down and exactly one recipient is
    // selected; otherwise puts the button up and gives back the template if a preview
    // is on the screen.
    void BitBtn1Click();
    void SendButClick();
    void AttachButClick();
    // Enabling rules of the insert and clipboard items.
    void ListBox3Click();
    void RichEdit1Enter();
    void RichEdit1Exit();
    void RichEdit1SelectionChange();
    void RichEdit1MouseDown(Qt::MouseButton button);
    // Status panel 0 shows the status part of a "tooltip|status" hint.
    void DisplayHint(const QString& hint);

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    QMenu* createPopupMenu() override { return nullptr; }

private:
    void buildMenus();
    void buildToolBar();
    void buildStatusBar();
    void buildClientArea();
    void setAccessibility();
    void FormCreate(const std::string& programDir);
    void FormCloseQuery();
    bool FormKeyDown(int key, QWidget* focus);
    void FormResize();
    void layoutPanel1();
    void dragSplitter(int startHeight, int dy);

    void showPreview();
    void restoreTemplate();
    void endPreview();
    int selectedRecipientCount() const;
    std::vector<int> selectedRows(QTreeView* view) const;

    void setMenuPosition(int pos, bool on, bool editMenuToo);
    bool fieldSelected() const;
    QString chooseFile(Dialog which);
    void closeDatabaseEditor();
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
    QFileDialog* dialogs_[6] = {};
    HelpWindow* help_ = nullptr;

    // Controls, named as everywhere in the program.
    QMenuBar* MainMenu1 = nullptr;
    QAction* File11 = nullptr;
    QAction* File12 = nullptr;
    QAction* File21 = nullptr;
    QAction* File23 = nullptr;
    QAction* File24 = nullptr;
    QAction* File41 = nullptr;
    QAction* File42 = nullptr;
    QAction* File43 = nullptr;
    QAction* File5 = nullptr;
    QAction* Edit1 = nullptr;
    QAction* Edit2 = nullptr;
    QAction* Edit3 = nullptr;
    QAction* Edit4 = nullptr;
    QAction* Edit5 = nullptr;
    QAction* Edit6 = nullptr;
    QAction* Edit7 = nullptr;
    QAction* Help1 = nullptr;
    QAction* Help2 = nullptr;
    QAction* Help3 = nullptr;
    QMenu* MailPopupMenu = nullptr;
    QAction* FieldItem = nullptr;
    QAction* CutItem = nullptr;
    QAction* CopyItem = nullptr;
    QAction* PasteItem = nullptr;
    QAction* DeleteItem = nullptr;
    QAction* SelectItem = nullptr;

    QToolBar* ToolBar1 = nullptr;
    std::vector<QToolButton*> speedButtons_; // the nine toolbar buttons
    std::vector<QFrame*> toolSeparators_;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* panels_[4] = {};

    QListWidget* ListBox3 = nullptr;
    QWidget* Panel1 = nullptr;
    QWidget* Panel4 = nullptr;
    QWidget* Panel5 = nullptr;
    QLabel* Panel6 = nullptr;
    QTreeView* ListView2 = nullptr;
    QWidget* Panel3 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;
    QPushButton* Button1 = nullptr;
    QWidget* Panel7 = nullptr;
    QLabel* Panel8 = nullptr;
    QTreeView* ListView1 = nullptr;
    QWidget* Splitter1 = nullptr;
    QWidget* Panel2 = nullptr;
    QLineEdit* FrEdit = nullptr;
    QLineEdit* ToEdit = nullptr;
    QLineEdit* SubEdit = nullptr;
    QToolButton* AttachBut = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QPushButton* SendBut = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QPlainTextEdit* RichEdit1 = nullptr;

    PeopleModel* availModel_ = nullptr;
    PeopleModel* recipModel_ = nullptr;
};
