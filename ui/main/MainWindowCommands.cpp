// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's commands on what it shows: the mail editors and their preview, the
// field list, the people lists and the status bar, and the commands that open the other
// windows or start a mailing.
#include "ui/main/MainWindow.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QToolButton>
#include <exception>

#include "merge/Merge.h"
#include "model/RunResults.h"
#include "model/Settings.h"
#include "model/Version.h"
#include "ui/TextBridge.h"
#include "ui/attachments/AttachmentsWindow.h"
#include "ui/database/DatabaseEditor.h"
#include "ui/main/AboutBox.h"
#include "ui/main/MailPanel.h"
#include "ui/main/MainLook.h"
#include "ui/main/MainMenus.h"
#include "ui/main/MainStatusBar.h"
#include "ui/main/PeopleModel.h"
#include "ui/main/PeoplePanes.h"
#include "ui/settings/PreferencesDialog.h"

namespace tandrel {

using namespace mainwindow;

// ---------------------------------------------------------------------------------------
// Other windows and the mailing

void MainWindow::editDatabase() {
    setControlsEnabled(false);
    if (!st_.db) {
        newDatabase();
        return;
    }
    if (!databaseEditor_) return;
    databaseEditor_->show();
    databaseEditor_->fillEntryList();
    databaseEditor_->showCurrentEntry();
    databaseEditor_->repaint();
}

void MainWindow::editPreferences() {
    if (!preferences_ || preferences_->exec() != QDialog::Accepted) return;
    if (!ini_) ini_ = std::make_unique<Profile>(st_.iniPath());
    try {
        WritePrefs(*ini_, st_.prefs);
    } catch (const std::exception& e) {
        showError(WordsText(e.what()));
    }
}

void MainWindow::showAbout() {
    if (!about_) return;
    about_->setTexts(QLatin1StringView(kProgramAndVersion), AboutBox::creditText());
    about_->exec();
}

// The attachments window tests files and the mailing run writes the sent log. Those
// windows report their own errors; a file error that still reaches these handlers is
// shown here, since an exception leaving a click handler would end the program.
void MainWindow::editAttachments() {
    if (!attachments_) return;
    try {
        attachments_->exec();
    } catch (const std::exception& e) {
        showError(WordsText(e.what()));
    }
    updateStatusBar();
}

void MainWindow::sendMailing() {
    if (!launcher_) return;
    if (!st_.db || people_->recipientCount() == 0) {
        displayHint(QStringLiteral("No receipients: move people to the receipients list first"));
        return;
    }
    try {
        launcher_->sendMailing();
    } catch (const std::exception& e) {
        showError(WordsText(e.what()));
    }
    updateNotReachedCommand();
}

void MainWindow::sendTestMail() {
    if (!launcher_ || !controlsEnabled_) return;
    Person* person = people_->chosenRecipient();
    if (!st_.db || !person) {
        displayHint(QStringLiteral("No receipients: move people to the receipients list first"));
        return;
    }
    try {
        launcher_->sendTestMail(*person);
    } catch (const std::exception& e) {
        showError(WordsText(e.what()));
    }
}

// ---------------------------------------------------------------------------------------
// Editors and preview

MailEditors MainWindow::editorTexts() const {
    return editors_->texts();
}

bool MainWindow::previewShown() const {
    return editors_->previewShown();
}

void MainWindow::setEditorTexts(const MailEditors& eds) {
    editors_->setTexts(eds);
    updateTitle();
}

void MainWindow::onPreviewToggled() {
    if (editors_->previewButton->isChecked() && people_->selectedRecipientCount() == 1) {
        if (!editors_->previewShown()) showPreview();
        return;
    }
    editors_->previewButton->setChecked(false);
    if (editors_->previewShown()) restoreTemplate();
}

// Passing through no or several selected rows (as a new click does) keeps the preview.
void MainWindow::onRecipientSelectionChanged() {
    if (!editors_->previewShown() || people_->selectedRecipientCount() != 1) return;
    restoreTemplate();
    showPreview();
}

void MainWindow::previewPrevious() {
    stepPreview(-1);
}

void MainWindow::previewNext() {
    stepPreview(1);
}

void MainWindow::stepPreview(int delta) {
    if (!controlsEnabled_ || !people_->stepRecipient(delta)) return;
    if (!editors_->previewButton->isChecked()) editors_->previewButton->setChecked(true);
}

void MainWindow::endPreview() {
    editors_->previewButton->setChecked(false);
    onPreviewToggled();
}

void MainWindow::showPreview() {
    Person* entry = people_->singleSelectedRecipient();
    if (!entry || !st_.db) {
        editors_->previewButton->setChecked(false);
        return;
    }
    try {
        editors_->showPreview(st_, *entry);
    } catch (const ComposeError& e) {
        editors_->previewButton->setChecked(false);
        showError(WordsText(e.what()));
        return;
    }
    updateTitle();
}

void MainWindow::restoreTemplate() {
    editors_->restoreTemplate();
    updateTitle();
}

// ---------------------------------------------------------------------------------------
// Field insertion, clipboard and the enabling rules

bool MainWindow::fieldSelected() const {
    return !fieldList_->selectedItems().isEmpty();
}

void MainWindow::insertField() {
    if (editors_->previewButton->isChecked() || editors_->previewShown()) {
        displayHint(QStringLiteral("Fields cannot be inserted while the preview is shown"));
        return;
    }
    if (!fieldSelected()) return;
    const QString name = fieldList_->selectedItems().front()->text();
    editors_->bodyEdit->insertPlainText(QLatin1Char('[') + name + QLatin1Char(']'));
}

void MainWindow::cutText() {
    if (!editors_->bodyEdit->isReadOnly()) editors_->bodyEdit->cut();
}

void MainWindow::copyText() {
    editors_->bodyEdit->copy();
}

void MainWindow::pasteText() {
    if (!editors_->bodyEdit->isReadOnly()) editors_->bodyEdit->paste();
}

void MainWindow::deleteText() {
    QPlainTextEdit* body = editors_->bodyEdit;
    if (body->isReadOnly()) return;
    QTextCursor c = body->textCursor();
    c.removeSelectedText();
    body->setTextCursor(c);
}

void MainWindow::selectAllText() {
    editors_->bodyEdit->selectAll();
}

void MainWindow::onFieldListClicked() {
    menus_->offer(0, fieldSelected(), true);
}

void MainWindow::onBodyEntered() {
    menus_->bodyEntered(fieldSelected(), editors_->bodyEdit->textCursor().hasSelection());
}

void MainWindow::onBodySelectionChanged() {
    menus_->bodySelectionChanged(editors_->bodyEdit->textCursor().hasSelection());
}

void MainWindow::onBodyLeft() {
    menus_->bodyLeft();
}

void MainWindow::onBodyMouseDown(Qt::MouseButton button) {
    if (button != Qt::RightButton) return;
    if (editors_->previewButton->isChecked())
        onBodyLeft();
    else
        onBodyEntered();
}

// ---------------------------------------------------------------------------------------
// Lists and status bar

std::vector<Person*> MainWindow::recipientRows() const {
    return people_->recipientRows();
}

PeopleModel* MainWindow::availableModel() const {
    return people_->availableModel();
}

PeopleModel* MainWindow::recipientModel() const {
    return people_->recipientModel();
}

void MainWindow::refreshLists() {
    if (!st_.db) {
        updateTitle();
        return;
    }
    fieldList_->clear();
    for (const auto& f : st_.db->fields)
        fieldList_->addItem(DatabaseString(st_.db.get(), f.name));
    people_->showDatabase();
    endPreview();
    updateStatusBar();
    updateTitle();
    updateNotReachedCommand();
}

void MainWindow::updateStatusBar() {
    statusLine_->setText(2, QStringLiteral("%1 attachments").arg(st_.attachments.size()));
    statusLine_->setText(1, QStringLiteral("%1 of %2 receipients selected")
                                .arg(people_->recipientCount())
                                .arg(people_->availableCount()));
}

void MainWindow::setControlsEnabled(bool on) {
    controlsEnabled_ = on;
    menus_->setToolBarEnabled(on);
    if (!on) {
        endPreview();
        fieldList_->clearSelection();
    }
    people_->setListsEnabled(on);
    for (QWidget* w :
         std::initializer_list<QWidget*>{fieldList_, editors_->previewButton, editors_->sendButton})
        w->setEnabled(on);
    menus_->sendTestAction->setEnabled(on);
    updateNotReachedCommand();
}

void MainWindow::moveAllToRecipients() {
    people_->moveAllToRecipients();
}

// The people of the loaded database the last run (also of an earlier session) did not
// reach, in database order.
static std::vector<Person*> NotReached(const AppState& st) {
    if (!st.db) return {};
    return RecipientsNotReached(*st.db, st.runResultsPath());
}

void MainWindow::updateNotReachedCommand() {
    menus_->notReachedAction->setEnabled(controlsEnabled_ && !NotReached(st_).empty());
}

void MainWindow::selectRecipientsNotReached() {
    if (!st_.db || people_->recipientModel()->frozen()) return;
    const std::vector<Person*> missed = NotReached(st_);
    if (missed.empty()) return;
    people_->makeRecipients(missed);
    endPreview();
    updateStatusBar();
}

} // namespace tandrel
