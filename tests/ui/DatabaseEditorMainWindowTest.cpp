// SPDX-License-Identifier: GPL-3.0-or-later
// The database editor opened from the main window of the whole program, and the main
// window's lists after it closes.
#include <QTest>
#include <gtest/gtest.h>

#include "tests/ui/DatabaseEditorTestHarness.h"
#include "tests/ui/MainWindowFixture.h"

using tandrel::AddPersonDialog;
using tandrel::DatabaseEditor;
using tandrel::FieldsDialog;

namespace tandrel::test {
namespace {

using Strings = std::vector<std::string>;

class EditorFromMainTest : public MainWindowTest {
protected:
    DatabaseEditor* editor() { return w->databaseEditor(); }
    AddPersonDialog* addPersonDialog() { return editor()->addPersonDialog(); }
    FieldsDialog* fieldsDialog() { return editor()->fieldsDialog(); }
    QListView* entryList() { return Child<QListView>(editor(), "ListBox2"); }
    QListWidget* fieldList() { return Child<QListWidget>(editor(), "ListBox1"); }
    QLineEdit* value() { return Child<QLineEdit>(editor(), "Edit2"); }

    void addPerson(const char* name, const char* mail) {
        WhileModal(
            addPersonDialog(), [&] { editor()->addPerson(); },
            [&] {
                Child<QLineEdit>(addPersonDialog(), "Edit1")->setText(name);
                Child<QLineEdit>(addPersonDialog(), "Edit2")->setText(mail);
                Child<QPushButton>(addPersonDialog(), "Button1")->click();
            });
    }
    void pickEntry(int row) {
        entryList()->selectionModel()->setCurrentIndex(entryList()->model()->index(row, 0),
                                                       QItemSelectionModel::ClearAndSelect);
    }
    void changeValue(int field, const char* text) {
        fieldList()->setCurrentRow(field);
        editor()->onFieldLineClicked();
        value()->setText(text);
        QTest::keyClick(value(), Qt::Key_Return);
    }
};

TEST_F(EditorFromMainTest, ADatabaseMadeFromNothingReachesTheMainLists) {
    start();
    ASSERT_EQ(w->state().db, nullptr);
    bool modal = false;
    // Without a database "Edit Database..." starts a new one in the modal editor.
    WhileModal(
        editor(), [&] { w->editDatabase(); },
        [&] {
            modal = editor()->isModal();
            addPerson("Ann", "ann@x");
            addPerson("Bob", "bob@x");
            addPerson("Cid", "cid@x");
            WhileModal(
                fieldsDialog(), [&] { editor()->editFields(); },
                [&] {
                    Child<QLineEdit>(fieldsDialog(), "Edit1")->setText("city");
                    fieldsDialog()->appendField();
                    fieldsDialog()->finishEditing();
                });
            pickEntry(1);
            changeValue(2, "Rome");
            changeValue(0, "Bobby");
            changeValue(1, "bobby@x");
            editor()->finishEditing();
        });
    EXPECT_TRUE(modal);
    EXPECT_TRUE(w->controlsEnabled());
    EXPECT_EQ(column(available(), 0), (Strings{"Ann", "Bobby", "Cid"}));
    EXPECT_EQ(column(available(), 1), (Strings{"ann@x", "bobby@x", "cid@x"}));
    EXPECT_EQ(column(receipients(), 0), Strings{});
    EXPECT_EQ(status(1), "0 of 3 receipients selected");
    EXPECT_EQ(find<QListWidget>("ListBox3")->count(), 3);
    EXPECT_EQ(w->state().db->entries[1]->values, (Strings{"Bobby", "bobby@x", "Rome"}));
}

TEST_F(EditorFromMainTest, TheModelessEditorRemovesTheChosenOfTwoNamesakes) {
    startWith("name\r\nemail\r\n", "Ann;first@x\r\nAnn;second@x\r\nBob;bob@x\r\n");
    w->moveAllToRecipients(); // everybody is a recipient
    w->editDatabase();
    ASSERT_TRUE(editor()->isVisible());
    EXPECT_FALSE(editor()->isModal());
    EXPECT_FALSE(w->controlsEnabled());
    EXPECT_EQ(Lines(entryList()), (Strings{"Ann", "Ann", "Bob"}));

    pickEntry(1);
    editor()->removeSelectedEntries();
    // The main window's lists wait for the editor to close.
    EXPECT_EQ(column(available(), 1), (Strings{"first@x", "second@x", "bob@x"}));

    Child<QPushButton>(editor(), "Done")->click();
    EXPECT_FALSE(editor()->isVisible());
    EXPECT_TRUE(w->controlsEnabled());
    EXPECT_EQ(column(available(), 1), (Strings{"first@x", "bob@x"}));
    EXPECT_EQ(column(receipients(), 1), (Strings{"first@x", "bob@x"}));
    EXPECT_EQ(status(1), "2 of 2 receipients selected");
}

TEST_F(EditorFromMainTest, NewDatabaseWhileTheEditorIsOpenStartsAfresh) {
    startWith("name\r\nemail\r\n", "Ann;ann@x\r\n");
    w->editDatabase();
    ASSERT_TRUE(editor()->isVisible());
    pickEntry(0);
    bool modal = false;
    WhileModal(
        editor(), [&] { w->newDatabase(); },
        [&] {
            modal = editor()->isModal() && editor()->isVisible();
            EXPECT_EQ(editor()->entryLineCount(), 0);
            EXPECT_EQ(fieldList()->count(), 0);
            addPerson("Zoe", "zoe@x");
            editor()->close();
        });
    EXPECT_TRUE(modal);
    EXPECT_TRUE(w->controlsEnabled());
    EXPECT_EQ(column(available(), 0), Strings{"Zoe"});
    EXPECT_EQ(w->state().db->entries[0]->values, (Strings{"Zoe", "zoe@x"}));
}

TEST_F(EditorFromMainTest, KeyboardWorkGoesOnInTheEditorAfterItsDialogs) {
    startWith("name\r\nemail\r\ncity\r\n", "Ann;ann@x;Oslo\r\n");
    w->show();
    w->editDatabase();
    ASSERT_TRUE(editor()->isVisible());
    auto focusIsInEditor = [&] {
        QApplication::processEvents();
        return QApplication::activeWindow() == editor() &&
               QApplication::focusWidget() == entryList();
    };

    addPerson("Bob", "bob@x");
    EXPECT_TRUE(focusIsInEditor()) << "after OK in the add dialog";
    std::string startText = "?";
    WhileModal(
        addPersonDialog(), [&] { editor()->addPerson(); },
        [&] { startText = Child<QLineEdit>(addPersonDialog(), "Edit1")->text().toStdString(); });
    EXPECT_EQ(startText, "") << "the add dialog opens empty";
    EXPECT_TRUE(focusIsInEditor()) << "after Cancel in the add dialog";

    // Enter in the field name renames the selected field and adds one when none is.
    WhileModal(
        fieldsDialog(), [&] { editor()->editFields(); },
        [&] {
            auto* list = Child<QListWidget>(fieldsDialog(), "ListBox1");
            auto* name = Child<QLineEdit>(fieldsDialog(), "Edit1");
            list->setCurrentRow(2);
            name->setText("town");
            QTest::keyClick(name, Qt::Key_Return);
            list->clearSelection();
            name->setText("zip");
            QTest::keyClick(name, Qt::Key_Return);
            Child<QPushButton>(fieldsDialog(), "Done")->click();
        });
    Strings fields;
    for (const Field& field : w->state().db->fields)
        fields.push_back(field.name);
    EXPECT_EQ(fields, (Strings{"name", "email", "town", "zip"}));
    EXPECT_TRUE(focusIsInEditor()) << "after Done in the fields dialog";
    editor()->finishEditing();

    // Tab leaves the mail text as the help says; Ctrl+Tab writes a tab into it.
    body()->setFocus();
    QTest::keyClick(body(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(body()->toPlainText(), QStringLiteral("\t"));
    QTest::keyClick(body(), Qt::Key_Tab);
    EXPECT_EQ(body()->toPlainText(), QStringLiteral("\t"));
    EXPECT_NE(QApplication::focusWidget(), body());
}

} // namespace
} // namespace tandrel::test
