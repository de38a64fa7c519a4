// The main window's file commands (new, open, save as) and the commands that open the
// other windows or start a mailing.
#include "MainWindow.h"

#include <QAction>
#include <QCompleter>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QToolButton>
#include <QTreeView>
#include <exception>

#include "AboutBox.h"
#include "AttachmentsWindow.h"
#include "CsvFile.h"
#include "DatabaseEditor.h"
#include "DatabaseFile.h"
#include "FieldFile.h"
#include "MailFile.h"
#include "MainWindowParts.h"
#include "PeopleModel.h"
#include "PreferencesDialog.h"
#include "SendCommand.h"
#include "Settings.h"
#include "TextFile.h"

using namespace tandrel::mainwindow;
using tandrel::MailEditors;
using tandrel::ReceipData;
// ---------------------------------------------------------------------------------------
// File commands

QFileDialog& MainWindow::fileDialog(Dialog which) {
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
    const bool database = which == Dialog::OpenData || which == Dialog::SaveData;
    QStringList filters =
        s.save ? QStringList{QStringLiteral("Text (*.txt)"), QStringLiteral("All Files (*)")}
               : QStringList{QStringLiteral("Text files (*.txt)"), QStringLiteral("All files (*)")};
    // A database may also be a spreadsheet's CSV file.
    if (database) filters.insert(1, QStringLiteral("CSV files (*.csv)"));
    if (s.save) {
        d->setAcceptMode(QFileDialog::AcceptSave);
        d->setFileMode(QFileDialog::AnyFile);
    } else {
        d->setAcceptMode(QFileDialog::AcceptOpen);
        d->setFileMode(QFileDialog::ExistingFile);
    }
    d->setNameFilters(filters);
    // A name typed without an extension gets the one of the chosen kind of file.
    connect(d, &QFileDialog::filterSelected, d, [d](const QString& filter) {
        d->setDefaultSuffix(filter.contains(QLatin1String("*.csv")) ? QStringLiteral("csv")
                                                                    : QStringLiteral("txt"));
    });
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
void MainWindow::prepareFileDialog(Dialog which, QFileDialog& d) const {
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
        // The database in use decides which kind of file the dialog offers first.
        if (path == own && (which == Dialog::OpenData || which == Dialog::SaveData)) {
            const QStringList filters = d.nameFilters();
            const bool csv = tandrel::IsCsvPath(*own);
            for (const QString& f : filters)
                if (f.contains(QLatin1String("*.csv")) == csv &&
                    !f.contains(QLatin1String("(*)"))) {
                    d.selectNameFilter(f);
                    d.setDefaultSuffix(csv ? QStringLiteral("csv") : QStringLiteral("txt"));
                    break;
                }
        }
        return;
    }
}

QString MainWindow::chooseFile(Dialog which) {
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

void MainWindow::showError(const QString& text) {
    QMessageBox::critical(this, QStringLiteral("Tandrel"), text);
}

void MainWindow::closeDatabaseEditor() {
    if (forms_ && forms_->databaseEditor && forms_->databaseEditor->isVisible())
        forms_->databaseEditor->close();
    // The editor's closing gives the controls back; make sure of it in any case.
    if (!controlsEnabled_) {
        setControlsEnabled(true);
        refreshLists();
    }
}

void MainWindow::newMail() {
    if (!keepChangedMail()) return;
    endPreview(); // a new mail starts from the template, never from a merged text
    MailEditors eds = editorTexts();
    tandrel::NewMail(st_, eds);
    setEditorTexts(eds);
    mailUntitled_ = true;
    markMailSaved();
}

void MainWindow::newDatabase() {
    if (!keepChangedDatabase()) {
        if (!controlsEnabled_) setControlsEnabled(true);
        return;
    }
    closeDatabaseEditor();
    if (!forms_ || !forms_->databaseEditor) return;
    // What the editor starts from: the two special fields and nobody.
    savedDatabase_ = DatabaseSnapshot{true, {"name", "email"}, {}};
    databaseUntitled_ = true;
    // The editor releases the database the lists point into.
    availModel_->freeze();
    recipModel_->freeze();
    forms_->databaseEditor->startNewDatabase();
    refreshLists();
}

void MainWindow::openMail() {
    if (!keepChangedMail()) return;
    const QString path = chooseFile(Dialog::OpenMail);
    if (path.isEmpty()) return;
    openMailFile(toBytes(path));
}

void MainWindow::openMailFile(const std::string& path) {
    endPreview();
    MailEditors eds = editorTexts();
    try {
        WaitCursor wait;
        if (tandrel::LoadMail(st_, path, eds)) {
            setEditorTexts(eds);
            mailUntitled_ = false;
            markMailSaved();
        }
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    }
}

void MainWindow::openFields() {
    if (!keepChangedDatabase()) return;
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
    markDatabaseSaved();
    refreshLists();
}

void MainWindow::openDatabase() {
    if (!keepChangedDatabase()) return;
    const QString path = chooseFile(Dialog::OpenData);
    if (path.isEmpty()) return;
    openDatabaseFile(toBytes(path));
}

void MainWindow::openDatabaseFile(const std::string& file) {
    // A CSV file brings its own fields; the other kind needs a field list first.
    const bool csv = tandrel::IsCsvPath(file);
    if (!csv && (!st_.db || st_.db->fields.empty())) {
        displayHint(QStringLiteral("Open a field list before the database"));
        return;
    }
    closeDatabaseEditor();
    if (!csv && (!st_.db || st_.db->fields.empty())) return;
    try {
        WaitCursor wait;
        // A CSV load replaces the database object the lists point into.
        if (csv) {
            availModel_->freeze();
            recipModel_->freeze();
            tandrel::LoadCsvDatabase(st_, file);
        } else {
            tandrel::LoadDatabase(st_, file);
        }
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
        refreshLists();
        return;
    }
    databaseUntitled_ = false;
    markDatabaseSaved();
    refreshLists();
}

void MainWindow::openFiles(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        // A name the desktop or the shell passed on may be gone by now, or be a folder.
        if (!tandrel::FileExists(path)) {
            showError(QString::fromLocal8Bit(("Cannot open file " + path).c_str()));
            continue;
        }
        if (tandrel::IsCsvPath(path)) {
            if (keepChangedDatabase()) openDatabaseFile(path);
        } else if (keepChangedMail()) {
            openMailFile(path);
        }
    }
}

void MainWindow::saveMailAs() {
    const QString path = chooseFile(Dialog::SaveMail);
    if (path.isEmpty()) return;
    try {
        tandrel::SaveMail(st_, toBytes(path), mailTemplate(), previewShown_);
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
        return;
    }
    mailUntitled_ = false;
    markMailSaved();
}

void MainWindow::saveFieldsAs() {
    if (!st_.db || st_.db->fields.empty()) return;
    const QString path = chooseFile(Dialog::SaveField);
    if (path.isEmpty()) return;
    try {
        tandrel::SaveFields(st_, toBytes(path));
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
        return;
    }
    savedDatabase_.fields = databaseSnapshot().fields;
    updateTitle();
}

void MainWindow::saveDatabaseAs() {
    if (!st_.db || st_.db->entries.empty()) return;
    const QString path = chooseFile(Dialog::SaveData);
    if (path.isEmpty()) return;
    try {
        const std::string file = toBytes(path);
        if (tandrel::IsCsvPath(file))
            tandrel::SaveCsvDatabase(st_, file);
        else
            tandrel::SaveDatabase(st_, file);
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
        return;
    }
    DatabaseSnapshot now = databaseSnapshot();
    // A CSV file holds the field names too; the other kind only the people.
    if (!tandrel::IsCsvPath(toBytes(path))) now.fields = savedDatabase_.fields;
    savedDatabase_ = std::move(now);
    databaseUntitled_ = false;
    updateTitle();
}

void MainWindow::exitProgram() {
    close();
}

// ---------------------------------------------------------------------------------------
// Other windows

void MainWindow::editDatabase() {
    setControlsEnabled(false);
    if (!st_.db) {
        newDatabase();
        return;
    }
    if (!forms_ || !forms_->databaseEditor) return;
    DatabaseEditor* editor = forms_->databaseEditor;
    editor->show();
    editor->fillEntryList();
    editor->showCurrentEntry();
    editor->repaint();
}

void MainWindow::editPreferences() {
    if (!forms_ || !forms_->preferencesDialog) return;
    if (forms_->preferencesDialog->exec() != QDialog::Accepted) return;
    if (!ini_) ini_ = std::make_unique<tandrel::Profile>(st_.iniPath());
    try {
        tandrel::WritePrefs(*ini_, st_.prefs);
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    }
}

void MainWindow::showAbout() {
    if (!forms_ || !forms_->aboutBox) return;
    forms_->aboutBox->setTexts(QStringLiteral("Tandrel 1.1"), AboutBox::creditText());
    forms_->aboutBox->exec();
}

// The attachments window tests files and the mailing run writes the sent log. Those
// windows report their own errors; a file error that still reaches these handlers is
// shown here, since an exception leaving a click handler would end the program.
void MainWindow::editAttachments() {
    if (!forms_ || !forms_->attachmentsWindow) return;
    try {
        forms_->attachmentsWindow->exec();
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    }
    updateStatusBar();
}

void MainWindow::sendMailing() {
    if (!forms_) return;
    if (!st_.db || recipModel_->rowCount() == 0) {
        displayHint(QStringLiteral("No receipients: move people to the receipients list first"));
        return;
    }
    try {
        tandrel::RunMailing({this, forms_->preparationWindow, forms_->deliveryWindow}, st_,
                            recipientRows(), editorTexts(), previewShown());
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    }
    updateNotReachedCommand();
}

void MainWindow::sendTestMail() {
    if (!forms_ || !controlsEnabled_) return;
    const std::vector<int> rows = selectedRows(recipientsView);
    ReceipData* person = recipModel_->entryAt(rows.empty() ? 0 : rows.front());
    if (!st_.db || !person) {
        displayHint(QStringLiteral("No receipients: move people to the receipients list first"));
        return;
    }
    try {
        tandrel::RunTestMail({this, forms_->preparationWindow, forms_->deliveryWindow}, st_,
                             editorTexts(), previewShown(), *person);
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    }
}
