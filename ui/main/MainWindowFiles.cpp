// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's documents: start-up and shut-down, New, Open and Save for the mail
// and the database, the Save/Discard/Cancel question before changed work is dropped, and
// the title that names what is changed.
#include "ui/main/MainWindow.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QMessageBox>
#include <QScreen>
#include <exception>
#include <optional>

#include "ui/main/AddressColumnDialog.h"
#include "model/CsvFile.h"
#include "ui/database/DatabaseEditor.h"
#include "ui/main/MailPanel.h"
#include "ui/main/MainLook.h"
#include "ui/main/MainStatusBar.h"
#include "ui/main/PeoplePanes.h"
#include "model/Settings.h"
#include "model/TextFile.h"
#include "model/Version.h"

namespace tandrel {

using namespace mainwindow;

// ---------------------------------------------------------------------------------------
// Start-up and shut-down

void MainWindow::startUp(const std::string& programDir) {
    setWindowTitle(QLatin1Char(' ') + QLatin1StringView(kProgramAndVersion));
    try {
        st_.computerName = ComputeLocalComputerName();
        st_.programDir = programDir.empty() ? ComputeProgramDir() : programDir;
        st_.mailText = MailText{};
        ini_ = std::make_unique<Profile>(st_.iniPath());
        // The run log and the sent log are only ever appended to; they may have grown
        // large over the years, so they are not read here: memory holds this session's.
        st_.sentLog.clear();

        WindowGeometry stored;
        ReadSettings(*ini_, st_.prefs, st_.user, stored);
        settingsRead_ = true;
        const WindowGeometry geo = FitWindow(stored, screenArea(stored));
        paneHeight_ = geo.paneHeight;
        layoutMailArea();
        move(geo.x, geo.y);
        resize(geo.width, geo.height);

        st_.runLog.clear();
        st_.attachments.clear();
        {
            WaitCursor wait;
            showMail(mail_.restoreLast());
            database_.restoreLast();
        }
    } catch (const std::exception& e) {
        // The rest of the start-up is skipped; the program goes on with what it has.
        showError(WordsText(e.what()));
    }
    refreshLists();
    // Whatever the start-up brought in is what the files hold.
    mail_.markSaved(mailTemplate());
    database_.markSaved();
    updateTitle();
}

// The available area of the screen the stored window's corner lies on, else the primary.
QRect MainWindow::screenArea(const WindowGeometry& g) const {
    QScreen* screen = QGuiApplication::screenAt(QPoint(g.x, g.y));
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

void MainWindow::shutDown() {
    // A start-up that failed before the settings were read (an unreadable sent log) has
    // only empty values in memory: writing those would wipe the user's settings file.
    if (ini_ && settingsRead_) {
        const bool normal =
            !(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen));
        WindowGeometry geo{x(), y(), width(), height(), paneHeight_};
        try {
            WriteSettings(*ini_, st_.prefs, st_.user, normal ? &geo : nullptr);
        } catch (const std::exception& e) {
            // Reported, but the program still ends: a settings file that cannot be
            // written must never keep the user from closing the window.
            showError(WordsText(e.what()));
        }
    }
    ini_.reset();
    people_->clear();
    st_.freeDatabase();
    st_.mailText = MailText{};
    st_.runLog.clear();
    st_.freeAttachments();
    st_.sentLog.clear();
}

void MainWindow::closeEvent(QCloseEvent* e) {
    if (!keepChangedDatabase() || !keepChangedMail()) {
        e->ignore();
        return;
    }
    // The other windows of the program go with the main window, first, while the data
    // they may still look at on closing is there.
    for (QWidget* w : findChildren<QWidget*>()) {
        if (w->isWindow() && w->isVisible()) w->close();
    }
    shutDown();
    e->accept();
}

// ---------------------------------------------------------------------------------------
// File commands

bool MainWindow::tryFile(const std::function<void()>& operation) {
    try {
        WaitCursor wait;
        operation();
        return true;
    } catch (const std::exception& e) {
        showError(WordsText(e.what()));
        return false;
    }
}

void MainWindow::showError(const QString& text) {
    QMessageBox::critical(this, QStringLiteral("Tandrel"), text);
}

void MainWindow::closeDatabaseEditor() {
    if (databaseEditor_ && databaseEditor_->isVisible()) databaseEditor_->close();
    // The editor's closing gives the controls back; make sure of it in any case.
    if (!controlsEnabled_) {
        setControlsEnabled(true);
        refreshLists();
    }
}

void MainWindow::newMail() {
    if (!keepChangedMail()) return;
    endPreview(); // a new mail starts from the template, never from a merged text
    showMail(mail_.startNew(editorTexts()));
}

void MainWindow::newDatabase() {
    if (!keepChangedDatabase()) {
        if (!controlsEnabled_) setControlsEnabled(true);
        return;
    }
    closeDatabaseEditor();
    if (!databaseEditor_) return;
    // The editor releases the database the lists point into.
    people_->freeze();
    databaseEditor_->startNewDatabase();
    refreshLists();
}

void MainWindow::openMail() {
    if (!keepChangedMail()) return;
    const QString path = dialogs_.choose(Dialog::OpenMail);
    if (path.isEmpty()) return;
    openMailFile(PathBytes(path));
}

void MainWindow::openMailFile(const std::string& path) {
    endPreview();
    std::optional<MailEditors> eds;
    if (tryFile([&] { eds = mail_.open(path); }) && eds) showMail(*eds);
}

void MainWindow::openFields() {
    if (!keepChangedDatabase()) return;
    const QString path = dialogs_.choose(Dialog::OpenFields);
    if (path.isEmpty()) return;
    closeDatabaseEditor();
    if (!tryFile([&] { database_.openFields(PathBytes(path)); })) return;
    refreshLists();
}

void MainWindow::openDatabase() {
    if (!keepChangedDatabase()) return;
    const QString path = dialogs_.choose(Dialog::OpenData);
    if (path.isEmpty()) return;
    openDatabaseFile(PathBytes(path));
}

void MainWindow::openDatabaseFile(const std::string& file) {
    // A CSV file brings its own fields; the other kind needs a field list first.
    if (database_.lacksFieldListFor(file)) {
        displayHint(QStringLiteral("Open a field list before the database"));
        return;
    }
    closeDatabaseEditor();
    // A load may replace the database object the lists point into.
    people_->freeze();
    // A CSV file whose header row calls no column by a usual name for the addresses
    // asks which one holds them; the file is then read with that column.
    std::optional<std::vector<CsvColumn>> columns;
    bool opened = tryFile([&] {
        try {
            database_.open(file);
        } catch (const NoAddressColumn& e) {
            columns = e.columns;
        }
    });
    if (columns) {
        const QString name = QFileInfo(PathText(file)).fileName();
        const std::optional<std::string> chosen = AskAddressColumn(name, *columns, this);
        opened = chosen && tryFile([&] { database_.open(file, *chosen); });
    }
    const std::string note = CsvColumnsNote(database_.columnsTaken());
    if (opened && !note.empty() && st_.db)
        statusLine_->setText(0, QFileInfo(PathText(file)).fileName() + QStringLiteral(": ") +
                                    EncodedText(note, st_.db->encoding));
    refreshLists();
}

void MainWindow::openFiles(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        // A name the desktop or the shell passed on may be gone by now, or be a folder.
        if (!FileExists(path)) {
            showError(QStringLiteral("Cannot open file ") + PathText(path));
            continue;
        }
        if (IsCsvPath(path)) {
            if (keepChangedDatabase()) openDatabaseFile(path);
        } else if (keepChangedMail()) {
            openMailFile(path);
        }
    }
}

void MainWindow::saveMailAs() {
    const QString path = dialogs_.choose(Dialog::SaveMail);
    if (path.isEmpty()) return;
    if (tryFile([&] { mail_.saveAs(PathBytes(path), mailTemplate(), previewShown()); }))
        updateTitle();
}

void MainWindow::saveFieldsAs() {
    if (!st_.db || st_.db->fields.empty()) return;
    const QString path = dialogs_.choose(Dialog::SaveField);
    if (path.isEmpty()) return;
    if (tryFile([&] { database_.saveFieldsAs(PathBytes(path)); })) updateTitle();
}

void MainWindow::saveDatabaseAs() {
    if (!st_.db || st_.db->entries.empty()) return;
    const QString path = dialogs_.choose(Dialog::SaveData);
    if (path.isEmpty()) return;
    if (tryFile([&] { database_.saveAs(PathBytes(path)); })) updateTitle();
}

void MainWindow::exitProgram() {
    close();
}

// ---------------------------------------------------------------------------------------
// Unsaved work

// What the document just loaded or made is what its file holds, as the editors show it.
void MainWindow::showMail(const MailEditors& eds) {
    setEditorTexts(eds);
    mail_.markSaved(mailTemplate());
    updateTitle();
}

MailEditors MainWindow::mailTemplate() const {
    return editors_->templateTexts();
}

bool MainWindow::mailChanged() const {
    return mail_.changedFrom(mailTemplate());
}

void MainWindow::updateTitle() {
    if (!editors_) return;
    QStringList changed;
    auto add = [&changed](const std::string& path, const char* untitled) {
        changed << (path.empty() ? QString::fromLatin1(untitled)
                                 : QFileInfo(PathText(path)).fileName()) +
                       QLatin1Char('*');
    };
    if (databaseChanged()) add(database_.path(), "database");
    if (mailChanged()) add(mail_.path(), "mail");
    QString title = QLatin1Char(' ') + QLatin1StringView(kProgramAndVersion);
    if (!changed.isEmpty()) title += QStringLiteral(" - ") + changed.join(QStringLiteral(", "));
    if (windowTitle() != title) setWindowTitle(title);
}

int MainWindow::ask(const QString& question) {
    if (questionAnswerer_) return questionAnswerer_(question);
    QMessageBox box(QMessageBox::Question, QStringLiteral("Tandrel"), question,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec();
}

// True when the command may go on: nothing changed, Discard, or Save that succeeded.
bool MainWindow::keepChanged(bool changed, const QString& question, bool (MainWindow::*save)()) {
    if (!changed) return true;
    const int answer = ask(question);
    if (answer == QMessageBox::Save) return (this->*save)();
    return answer == QMessageBox::Discard;
}

bool MainWindow::keepChangedMail() {
    return keepChanged(mailChanged(), QStringLiteral("Save changes to the mail?"),
                       &MainWindow::saveMail);
}

bool MainWindow::keepChangedDatabase() {
    return keepChanged(databaseChanged(), QStringLiteral("Save changes to the database?"),
                       &MainWindow::saveDatabase);
}

bool MainWindow::saveMail() {
    std::string path = mail_.path();
    if (path.empty()) path = PathBytes(dialogs_.choose(Dialog::SaveMail));
    if (path.empty()) return false;
    if (!tryFile([&] { mail_.saveAs(path, mailTemplate(), previewShown()); })) return false;
    updateTitle();
    return true;
}

// A database is the field list and the people: both go to their own files, and a CSV
// database holds its field names in its header row.
bool MainWindow::saveDatabase() {
    if (!st_.db) return true;
    std::string path = database_.path();
    if (path.empty()) path = PathBytes(dialogs_.choose(Dialog::SaveData));
    if (path.empty()) return false;
    std::string fieldsPath = database_.fieldsPath();
    const bool needsFields = database_.needsFieldFile(path);
    if (needsFields && fieldsPath.empty())
        fieldsPath = PathBytes(dialogs_.choose(Dialog::SaveField));
    if (needsFields && fieldsPath.empty()) return false;
    if (!tryFile([&] { database_.save(path, fieldsPath); })) return false;
    updateTitle();
    return true;
}

void MainWindow::saveAll() {
    if (databaseChanged() && !saveDatabase()) return;
    if (mailChanged()) saveMail();
}

} // namespace tandrel
