// SPDX-License-Identifier: GPL-3.0-or-later
// Changed work through the real windows: the questions before it is dropped, File Save,
// the read-only preview, and the mail's bytes kept through the editors.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QTest>
#include <gtest/gtest.h>

#include "tests/ui/DatabaseEditorTestHarness.h"
#include "tests/ui/MainWindowFixture.h"

using tandrel::AddPersonDialog;
using tandrel::DatabaseEditor;

namespace tandrel::test {
namespace {

using Strings = std::vector<std::string>;

const char* const kMail = "From: \"A\" <a@b>\r\nTo: [email]\r\nSubject: Hi\r\n\r\nDear [name]\r\n";

class UnsavedWorkTest : public MainWindowTest {
protected:
    void startAll() {
        startWithAll(kMail, "name\r\nemail\r\n", "Ann;ann@x\r\nBob;bob@x\r\n");
        w->show();
    }
    // A new person through the database editor and its add dialog, and a new subject
    // typed into the editor.
    void changeBoth() {
        DatabaseEditor* editor = w->databaseEditor();
        AddPersonDialog* add = editor->addPersonDialog();
        w->editDatabase();
        WhileModal(
            add, [&] { editor->addPerson(); },
            [&] {
                Child<QLineEdit>(add, "Edit1")->setText("Cid");
                Child<QLineEdit>(add, "Edit2")->setText("cid@x");
                Child<QPushButton>(add, "Button1")->click();
            });
        editor->finishEditing();
        QLineEdit* subject = edit("SubEdit");
        subject->setFocus();
        subject->selectAll();
        QTest::keyClicks(subject, "News");
    }
};

TEST_F(UnsavedWorkTest, ExitAsksForEachChangedFileAndDoesWhatTheAnswerSays) {
    struct Case {
        int answer;
        Strings questions;
        bool closed;
        bool written;
    };
    const Strings both = {"Save changes to the database?", "Save changes to the mail?"};
    const Case cases[] = {
        {QMessageBox::Cancel, {"Save changes to the database?"}, false, false},
        {QMessageBox::Discard, both, true, false},
        {QMessageBox::Save, both, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        startAll();
        EXPECT_TRUE(questions.empty());
        EXPECT_EQ(w->windowTitle().toStdString(), " Tandrel 1.1");
        changeBoth();
        EXPECT_TRUE(w->databaseChanged());
        EXPECT_TRUE(w->mailChanged());
        EXPECT_EQ(w->windowTitle().toStdString(), " Tandrel 1.1 - people.txt*, mail.txt*");

        answer = c.answer;
        EXPECT_EQ(w->close(), c.closed);
        EXPECT_EQ(questions, c.questions);
        EXPECT_EQ(w->isVisible(), !c.closed);
        const std::string people = ReadFileBytes(dir.file("people.txt"));
        const std::string mail = ReadFileBytes(dir.file("mail.txt"));
        EXPECT_EQ(people.find("Cid;cid@x") != std::string::npos, c.written) << people;
        EXPECT_EQ(mail.find("Subject: News") != std::string::npos, c.written) << mail;
        EXPECT_EQ(mail.find("Dear [name]") != std::string::npos, true) << mail;

        // A second start with nothing changed exits without a question.
        answer = QMessageBox::Discard;
        w->close();
        app.reset();
        w = nullptr;
        questions.clear();
        start();
        w->show();
        EXPECT_EQ(column(available(), 0).size(), c.written ? 3u : 2u);
        EXPECT_TRUE(w->close());
        EXPECT_TRUE(questions.empty());
        app.reset();
        w = nullptr;
        questions.clear();
    }
}

TEST_F(UnsavedWorkTest, OpeningOrNewAsksAndCancelKeepsTheWork) {
    startAll();
    changeBoth();
    answer = QMessageBox::Cancel;
    nextPath = dir.file("people.txt");
    w->newMail();
    w->openMail();
    w->openDatabase();
    w->openFields();
    EXPECT_EQ(questions,
              (Strings{"Save changes to the mail?", "Save changes to the mail?",
                       "Save changes to the database?", "Save changes to the database?"}));
    EXPECT_TRUE(dialogTitles.empty()); // cancelled before any file dialog
    EXPECT_EQ(edit("SubEdit")->text(), "News");
    EXPECT_EQ(column(available(), 0).size(), 3u);

    // File Save writes both to their own files and asks nothing.
    questions.clear();
    w->saveAll();
    EXPECT_TRUE(questions.empty());
    EXPECT_TRUE(dialogTitles.empty());
    EXPECT_FALSE(w->mailChanged());
    EXPECT_FALSE(w->databaseChanged());
    EXPECT_EQ(w->windowTitle().toStdString(), " Tandrel 1.1");
    EXPECT_NE(ReadFileBytes(dir.file("people.txt")).find("Cid;cid@x"), std::string::npos);
    EXPECT_NE(ReadFileBytes(dir.file("mail.txt")).find("Subject: News"), std::string::npos);
    EXPECT_TRUE(action("FileSave")->shortcut() == QKeySequence::Save);
}

// Toggled the way assistive technology does it: the checked state flips, no click.
TEST_F(UnsavedWorkTest, PreviewShownByTheToggleActionIsReadOnlyAndFollowsTheSelection) {
    startAll();
    w->moveAllToRecipients();
    selectRows(receipients(), {1});
    auto* button = find<QToolButton>("SpeedButton1");
    QAccessibleInterface* acc = QAccessible::queryAccessibleInterface(button);
    ASSERT_NE(acc, nullptr);
    ASSERT_NE(acc->actionInterface(), nullptr);
    acc->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    ASSERT_TRUE(w->previewShown());
    EXPECT_EQ(edit("ToEdit")->text(), "bob@x");
    EXPECT_EQ(body()->toPlainText(), "Dear Bob");
    for (const char* name : {"FrEdit", "ToEdit", "SubEdit"})
        EXPECT_TRUE(edit(name)->isReadOnly()) << name;
    EXPECT_TRUE(body()->isReadOnly());

    selectRows(receipients(), {0});
    EXPECT_EQ(body()->toPlainText(), "Dear Ann");
    EXPECT_FALSE(w->mailChanged());

    acc->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_FALSE(w->previewShown());
    EXPECT_EQ(body()->toPlainText(), "Dear [name]");
    EXPECT_FALSE(edit("SubEdit")->isReadOnly());

    // Without exactly one selected recipient the button says why it stays up.
    selectRows(receipients(), {0, 1});
    button->setChecked(true);
    EXPECT_FALSE(button->isChecked());
    EXPECT_FALSE(w->previewShown());
    EXPECT_EQ(status(0), "Select exactly one receipient to preview the mail");
}

// A Windows-1252 mail keeps its bytes through the editors until a character it cannot
// hold is typed; then all of it is written as UTF-8.
TEST_F(UnsavedWorkTest, TheEditorsGiveBackTheMailsOwnBytes) {
    struct Case {
        const char* file;
        const char* typed; // appended to the subject (UTF-8), or nothing
        const char* subjectShown;
        const char* savedSubject;
        const char* savedBody;
    };
    const Case cases[] = {
        {"Subject: Caf\xe9 \x80\r\n\r\nGr\xfc\xdf \x81\x9d\r\n", "", "Caf\xc3\xa9 \xe2\x82\xac",
         "Caf\xe9 \x80", "Gr\xfc\xdf \x81\x9d\r\n"},
        {"Subject: Caf\xe9\r\n\r\nGr\xfc\xdf\r\n", "\xc3\xa0", "Caf\xc3\xa9", "Caf\xe9\xe0",
         "Gr\xfc\xdf\r\n"},
        {"Subject: Caf\xe9\r\n\r\nGr\xfc\xdf\r\n", "\xe4\xb8\xad", "Caf\xc3\xa9",
         "Caf\xc3\xa9\xe4\xb8\xad", "Gr\xc3\xbc\xc3\x9f\r\n"},
        {"Subject: Caf\xc3\xa9\r\n\r\n\xe4\xb8\xad\r\n", "", "Caf\xc3\xa9", "Caf\xc3\xa9",
         "\xe4\xb8\xad\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        WriteFileBytes(dir.file("mail.txt"), c.file);
        writeIni({{"User", {{"lastmail", dir.file("mail.txt")}}}});
        start();
        QLineEdit* subject = edit("SubEdit");
        EXPECT_EQ(subject->text().toStdString(), c.subjectShown);
        subject->setFocus();
        subject->end(false);
        // Typed as a keyboard delivers text the key codes cannot name.
        if (*c.typed) {
            QTest::sendKeyEvent(QTest::Press, subject, Qt::Key_unknown, QString::fromUtf8(c.typed),
                                Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, subject, Qt::Key_unknown,
                                QString::fromUtf8(c.typed), Qt::NoModifier);
        }
        EXPECT_EQ(w->mailChanged(), *c.typed != '\0');
        nextPath = dir.file("saved.txt");
        w->saveMailAs();
        const std::string saved = ReadFileBytes(dir.file("saved.txt"));
        const auto subjectAt = saved.find("Subject: ") + 9;
        EXPECT_EQ(saved.substr(subjectAt, saved.find("\r\n", subjectAt) - subjectAt),
                  c.savedSubject);
        EXPECT_EQ(saved.substr(saved.find("\r\n\r\n") + 4), c.savedBody);
        answer = QMessageBox::Discard;
        w->close();
        app.reset();
        w = nullptr;
    }
}

} // namespace
} // namespace tandrel::test
