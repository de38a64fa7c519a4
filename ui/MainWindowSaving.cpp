// What the main window remembers of the mail and the database as last loaded or saved,
// the Save/Discard/Cancel question before a command drops changed work, and File Save.
#include "MainWindow.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QToolButton>
#include <exception>

#include "CsvFile.h"
#include "DatabaseFile.h"
#include "FieldFile.h"
#include "MailFile.h"
#include "MainWindowParts.h"

using namespace tandrel::mainwindow;
using tandrel::MailEditors;

namespace {

bool sameMail(const MailEditors& a, const MailEditors& b) {
    return a.from == b.from && a.to == b.to && a.subject == b.subject && a.body == b.body;
}

} // namespace

MainWindow::DatabaseSnapshot MainWindow::databaseSnapshot() const {
    DatabaseSnapshot s;
    if (!st_.db) return s;
    s.exists = true;
    for (const auto& f : st_.db->fields)
        s.fields.push_back(f.name);
    s.entries.reserve(st_.db->entries.size());
    for (const auto& e : st_.db->entries)
        s.entries.push_back(e->values);
    return s;
}

MailEditors MainWindow::mailTemplate() const {
    return previewShown_ ? previewTemplate_ : editorTexts();
}

bool MainWindow::mailChanged() const {
    return !sameMail(mailTemplate(), savedMail_);
}

bool MainWindow::databaseChanged() const {
    const DatabaseSnapshot& s = savedDatabase_;
    if (!st_.db) return s.exists;
    if (!s.exists || st_.db->fields.size() != s.fields.size() ||
        st_.db->entries.size() != s.entries.size())
        return true;
    for (std::size_t i = 0; i < s.fields.size(); ++i)
        if (st_.db->fields[i].name != s.fields[i]) return true;
    for (std::size_t i = 0; i < s.entries.size(); ++i)
        if (st_.db->entries[i]->values != s.entries[i]) return true;
    return false;
}

void MainWindow::markMailSaved() {
    savedMail_ = mailTemplate();
    updateTitle();
}

void MainWindow::markDatabaseSaved() {
    savedDatabase_ = databaseSnapshot();
    updateTitle();
}

void MainWindow::updateTitle() {
    if (!fromEdit || !bodyEdit) return;
    QStringList changed;
    auto add = [&changed](const std::string& path, const char* untitled) {
        changed << (path.empty() ? QString::fromLatin1(untitled)
                                 : QFileInfo(fromBytes(path)).fileName()) +
                       QLatin1Char('*');
    };
    if (databaseChanged()) add(databaseUntitled_ ? std::string() : st_.user.lastdb, "database");
    if (mailChanged()) add(mailUntitled_ ? std::string() : st_.user.lastmail, "mail");
    QString title = QStringLiteral(" Tandrel 1.1");
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
    std::string path = mailUntitled_ ? std::string() : st_.user.lastmail;
    if (path.empty()) path = toBytes(chooseFile(Dialog::SaveMail));
    if (path.empty()) return false;
    try {
        tandrel::SaveMail(st_, path, mailTemplate(), previewShown_);
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
        return false;
    }
    mailUntitled_ = false;
    markMailSaved();
    return true;
}

// A database is the field list and the people: both go to their own files, and a CSV
// database holds its field names in its header row.
bool MainWindow::saveDatabase() {
    if (!st_.db) return true;
    std::string dbPath = databaseUntitled_ ? std::string() : st_.user.lastdb;
    if (dbPath.empty()) dbPath = toBytes(chooseFile(Dialog::SaveData));
    if (dbPath.empty()) return false;
    const bool csv = tandrel::IsCsvPath(dbPath);
    std::string fieldsPath = databaseUntitled_ ? std::string() : st_.user.lastfields;
    if (!csv && fieldsPath.empty()) fieldsPath = toBytes(chooseFile(Dialog::SaveField));
    if (!csv && fieldsPath.empty()) return false;
    try {
        if (csv) {
            tandrel::SaveCsvDatabase(st_, dbPath);
        } else {
            if (!st_.db->fields.empty()) tandrel::SaveFields(st_, fieldsPath);
            tandrel::SaveDatabase(st_, dbPath);
        }
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
        return false;
    }
    databaseUntitled_ = false;
    markDatabaseSaved();
    return true;
}

void MainWindow::saveAll() {
    if (databaseChanged() && !saveDatabase()) return;
    if (mailChanged()) saveMail();
}
