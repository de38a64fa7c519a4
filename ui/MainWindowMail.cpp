// The main window's mail editors: their texts as bytes, the merged preview, field
// insertion, the clipboard commands and when those are offered.
#include "MainWindow.h"

#include <QAction>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>
#include <algorithm>
#include <utility>

#include "Compose.h"
#include "MailFile.h"
#include "MainWindowParts.h"
#include "PeopleModel.h"

using namespace tandrel::mainwindow;
using tandrel::MailEditors;
using tandrel::ReceipData;
// ---------------------------------------------------------------------------------------
// Editors

MailEditors MainWindow::editorTexts() const {
    MailEditors eds;
    const tandrel::TextEncoding enc = st_.mailText.encoding;
    eds.from = toMailBytes(fromEdit->text(), enc);
    eds.to = toMailBytes(toEdit->text(), enc);
    eds.subject = toMailBytes(subjectEdit->text(), enc);
    // The raw text, not toPlainText(): that turns non-breaking spaces into plain blanks,
    // and the mail must keep every character as typed or loaded.
    QString body = bodyEdit->document()->toRawText();
    for (QChar& c : body) {
        const char16_t u = c.unicode();
        if (u == QChar::ParagraphSeparator || u == QChar::LineSeparator || u == 0xfdd0 ||
            u == 0xfdd1)
            c = QLatin1Char('\n');
    }
    if (!body.isEmpty()) {
        const QStringList lines = body.split(QLatin1Char('\n'));
        eds.body.reserve(static_cast<std::size_t>(lines.size()));
        for (const QString& l : lines)
            eds.body.push_back(toMailBytes(l, enc));
    }
    return eds;
}

void MainWindow::setEditorTexts(const MailEditors& eds) {
    showEditorTexts(eds, st_.mailText.encoding);
}

void MainWindow::showEditorTexts(const MailEditors& eds, tandrel::TextEncoding enc) {
    settingTexts_ = true;
    fromEdit->setText(fromMailBytes(eds.from, enc));
    toEdit->setText(fromMailBytes(eds.to, enc));
    subjectEdit->setText(fromMailBytes(eds.subject, enc));
    QString body;
    for (std::size_t i = 0; i < eds.body.size(); ++i) {
        if (i) body += QLatin1Char('\n');
        body += fromMailBytes(eds.body[i], enc);
    }
    bodyEdit->setPlainText(body); // the caret goes to the start
    settingTexts_ = false;
    updateTitle();
}

// A Windows-1252 mail stays Windows-1252 until the user types or pastes a character it
// cannot hold; from then on the whole mail is UTF-8. Only the new text is looked at.
void MainWindow::guardMailEncoding(const QString& added) {
    if (st_.mailText.encoding == tandrel::TextEncoding::Utf8 || added.isEmpty()) return;
    const QByteArray u = added.toUtf8();
    if (!tandrel::EncodeText(std::string_view(u.constData(), static_cast<std::size_t>(u.size())),
                             st_.mailText.encoding))
        st_.mailText.encoding = tandrel::TextEncoding::Utf8;
}

// ---------------------------------------------------------------------------------------
// Preview

void MainWindow::onPreviewToggled() {
    if (previewButton->isChecked() && selectedRecipientCount() == 1) {
        if (!previewShown_) showPreview();
        return;
    }
    previewButton->setChecked(false);
    if (previewShown_) restoreTemplate();
}

// Passing through no or several selected rows (as a new click does) keeps the preview.
void MainWindow::onRecipientSelectionChanged() {
    if (!previewShown_ || selectedRecipientCount() != 1) return;
    restoreTemplate();
    showPreview();
}

void MainWindow::previewPrevious() {
    stepPreview(-1);
}

void MainWindow::previewNext() {
    stepPreview(1);
}

// Steps through the rows as the list shows them (sorted or searched), not as stored.
void MainWindow::stepPreview(int delta) {
    if (!controlsEnabled_) return;
    QAbstractItemModel* shown = recipientsView->model();
    const int count = shown->rowCount();
    if (count == 0) return;
    const QModelIndexList sel = recipientsView->selectionModel()->selectedRows();
    int row = 0;
    if (sel.size() == 1) row = std::clamp(sel.front().row() + delta, 0, count - 1);
    const QModelIndex target = shown->index(row, 0);
    recipientsView->setCurrentIndex(target);
    recipientsView->selectionModel()->select(target, QItemSelectionModel::ClearAndSelect |
                                                         QItemSelectionModel::Rows);
    recipientsView->scrollTo(target);
    if (!previewButton->isChecked()) previewButton->setChecked(true);
}

void MainWindow::endPreview() {
    previewButton->setChecked(false);
    onPreviewToggled();
}

void MainWindow::showPreview() {
    const std::vector<int> rows = selectedRows(recipientsView);
    ReceipData* entry = rows.size() == 1 ? recipModel_->entryAt(rows.front()) : nullptr;
    if (!entry || !st_.db) {
        previewButton->setChecked(false);
        return;
    }
    WaitCursor wait;
    // Nothing typed into a preview could be kept: it ends with the template put back.
    for (QLineEdit* e : {fromEdit, toEdit, subjectEdit})
        e->setReadOnly(true);
    bodyEdit->setReadOnly(true);
    previewTemplate_ = editorTexts();
    tandrel::BuildMailText(st_, previewTemplate_);

    std::vector<std::string> lines;
    try {
        lines = tandrel::MergeLines(st_.db->fields, st_.mailText.lines, *entry);
    } catch (const tandrel::ComposeError& e) {
        for (QLineEdit* edit : {fromEdit, toEdit, subjectEdit})
            edit->setReadOnly(false);
        bodyEdit->setReadOnly(false);
        previewButton->setChecked(false);
        showError(QString::fromStdString(e.what()));
        return;
    }
    MailEditors shown;
    // The merged text is only looked at: it must not change what the mail is.
    bool hasHeader = st_.mailText.MailHasHeader;
    tandrel::ParseMailHeader(lines, shown, hasHeader);
    shown.body = std::move(lines);
    // Values may bring UTF-8 into a Windows-1252 mail or the other way round; the merge
    // then made the whole text UTF-8, so it is shown by what it holds, not by the mail.
    std::string merged = shown.from + shown.to + shown.subject;
    for (const std::string& line : shown.body)
        merged += line;
    showEditorTexts(shown, tandrel::DetectTextEncoding(merged));

    QPalette pal = bodyEdit->palette();
    QColor tint = palette().color(QPalette::Inactive, QPalette::Window).darker(112);
    pal.setColor(QPalette::Active, QPalette::Base, tint);
    pal.setColor(QPalette::Inactive, QPalette::Base, tint);
    bodyEdit->setPalette(pal);
    previewShown_ = true;
}

void MainWindow::restoreTemplate() {
    WaitCursor wait;
    for (QLineEdit* e : {fromEdit, toEdit, subjectEdit})
        e->setReadOnly(false);
    bodyEdit->setReadOnly(false);
    // Exactly what the editors held when the preview began; MailText was built from it.
    setEditorTexts(previewTemplate_);
    previewTemplate_ = MailEditors{};
    bodyEdit->setPalette(QPalette());
    previewShown_ = false;
}

// ---------------------------------------------------------------------------------------
// Field insertion, clipboard and the enabling rules

bool MainWindow::fieldSelected() const {
    return !fieldList->selectedItems().isEmpty();
}

void MainWindow::insertField() {
    if (previewButton->isChecked() || previewShown_) {
        displayHint(QStringLiteral("Fields cannot be inserted while the preview is shown"));
        return;
    }
    if (!fieldSelected()) return;
    const QString name = fieldList->selectedItems().front()->text();
    bodyEdit->insertPlainText(QLatin1Char('[') + name + QLatin1Char(']'));
}

void MainWindow::cutText() {
    if (!bodyEdit->isReadOnly()) bodyEdit->cut();
}

void MainWindow::copyText() {
    bodyEdit->copy();
}

void MainWindow::pasteText() {
    if (!bodyEdit->isReadOnly()) bodyEdit->paste();
}

void MainWindow::deleteText() {
    if (bodyEdit->isReadOnly()) return;
    QTextCursor c = bodyEdit->textCursor();
    c.removeSelectedText();
    bodyEdit->setTextCursor(c);
}

void MainWindow::selectAllText() {
    bodyEdit->selectAll();
}

void MainWindow::setMenuPosition(int pos, bool on, bool editMenuToo) {
    QAction* popup[8] = {
        bodyInsertFieldAction, nullptr,          bodyCutAction, bodyCopyAction,
        bodyPasteAction,       bodyDeleteAction, nullptr,       bodySelectAllAction};
    QAction* edit[6] = {insertFieldAction, nullptr,     cutAction,
                        copyAction,        pasteAction, deleteAction};
    if (pos >= 0 && pos < 8 && popup[pos]) popup[pos]->setEnabled(on);
    if (editMenuToo && pos >= 0 && pos < 6 && edit[pos]) edit[pos]->setEnabled(on);
}

void MainWindow::onFieldListClicked() {
    setMenuPosition(0, fieldSelected(), true);
}

void MainWindow::onBodyEntered() {
    if (fieldSelected()) setMenuPosition(0, true, true);
    setMenuPosition(4, true, true);
    setMenuPosition(7, true, false);
    onBodySelectionChanged();
}

void MainWindow::onBodySelectionChanged() {
    const bool any = bodyEdit->textCursor().hasSelection();
    for (int pos : {2, 3, 5})
        setMenuPosition(pos, any, true);
}

void MainWindow::onBodyLeft() {
    for (int pos = 0; pos < 8; ++pos)
        setMenuPosition(pos, false, pos < 6);
}

void MainWindow::onBodyMouseDown(Qt::MouseButton button) {
    if (button != Qt::RightButton) return;
    if (previewButton->isChecked())
        onBodyLeft();
    else
        onBodyEntered();
}
