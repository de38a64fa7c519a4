// SPDX-License-Identifier: GPL-3.0-or-later
// The people lists, the move commands, the status bar, field insertion, the enabling
// rules of the edit and context menus, and the file commands.
#include <QMenu>
#include <QTest>

#include "tests/ui/MainWindowFixture.h"
#include "ui/main/PeopleModel.h"

using tandrel::PeopleModel;

namespace tandrel::test {
namespace {

const char* kFields = "name\r\nemail\r\ntown\r\n";
// Two people called "Sam", and one without a name.
const char* kPeople = "Sam;sam1@x;Leeds\r\n"
                      "Ann;ann@x;York\r\n"
                      "Sam;sam2@x;Hull\r\n"
                      ";nobody@x;Bath\r\n";

class MainListsTest : public MainWindowTest {
protected:
    void SetUp() override {
        startWith(kFields, kPeople);
        w->show();
    }
    Person* entry(std::size_t i) { return w->state().db->entries[i].get(); }
    std::vector<Person*> entries() {
        std::vector<Person*> out;
        for (auto& e : w->state().db->entries)
            out.push_back(e.get());
        return out;
    }
    std::vector<bool> flags() {
        std::vector<bool> out;
        for (auto& e : w->state().db->entries)
            out.push_back(e->selected);
        return out;
    }
    void click(const char* button) { QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton); }
};

TEST_F(MainListsTest, ListsShowTheDatabase) {
    EXPECT_EQ(column(available(), 0), (std::vector<std::string>{"Sam", "Ann", "Sam", ""}));
    EXPECT_EQ(column(available(), 1),
              (std::vector<std::string>{"sam1@x", "ann@x", "sam2@x", "nobody@x"}));
    EXPECT_EQ(column(available(), 2), (std::vector<std::string>{"", "", "", ""}));
    EXPECT_EQ(available()->model()->headerData(2, Qt::Horizontal).toString().toStdString(), "*");
    EXPECT_EQ(receipients()->model()->columnCount(), 2);
    // Loaded columns are as wide as their header or widest value.
    for (QTreeView* list : {available(), receipients()}) {
        QHeaderView* h = list->header();
        EXPECT_EQ(h->sectionSize(0), h->sectionSizeHint(0)) << "names shorter than \"Name\"";
    }
    EXPECT_GE(available()->header()->sectionSize(1),
              available()->sizeHintForIndex(available()->model()->index(3, 1)).width());
    auto* fields = find<QListWidget>("ListBox3");
    ASSERT_EQ(fields->count(), 3);
    EXPECT_EQ(fields->item(2)->text().toStdString(), "town");
    EXPECT_EQ(status(1), "0 of 4 receipients selected");
    EXPECT_EQ(status(2), "0 attachments");
}

TEST_F(MainListsTest, EachRowMovesItsOwnEntryEvenWithTheSameName) {
    // Only the second "Sam" is chosen: that person, not the first, becomes a recipient.
    selectRows(available(), {2});
    click("Button2");
    EXPECT_EQ(flags(), (std::vector<bool>{false, false, true, false}));
    EXPECT_EQ(w->recipientRows(), std::vector<Person*>{entry(2)});
    EXPECT_EQ(column(available(), 2), (std::vector<std::string>{"", "", "*", ""}));
    EXPECT_EQ(column(receipients(), 1), std::vector<std::string>{"sam2@x"});
    EXPECT_EQ(status(1), "1 of 4 receipients selected");

    // "->" again on a row that is already a recipient changes nothing.
    click("Button2");
    EXPECT_EQ(receipients()->model()->rowCount(), 1);

    // "->>" appends the others in database order; every row is its own entry.
    click("Button3");
    EXPECT_EQ(w->recipientRows(),
              (std::vector<Person*>{entry(2), entry(0), entry(1), entry(3)}));
    EXPECT_EQ(column(available(), 2), (std::vector<std::string>{"*", "*", "*", "*"}));
    EXPECT_EQ(status(1), "4 of 4 receipients selected");

    // The lists' rebuild puts the recipients in database order.
    w->refreshLists();
    EXPECT_EQ(w->recipientRows(), entries());
}

TEST_F(MainListsTest, TakingBackRemovesEverySelectedRecipientEmptyNamesIncluded) {
    click("Button3");
    ASSERT_EQ(receipients()->model()->rowCount(), 4);
    // Rows 1 ("Ann") and 3 (no name) and 2 (second "Sam").
    selectRows(receipients(), {3, 1, 2});
    click("Button1");
    EXPECT_EQ(w->recipientRows(), std::vector<Person*>{entry(0)});
    EXPECT_EQ(flags(), (std::vector<bool>{true, false, false, false}));
    EXPECT_EQ(column(available(), 2), (std::vector<std::string>{"*", "", "", ""}));
    EXPECT_EQ(status(1), "1 of 4 receipients selected");

    // Nothing selected: nothing happens.
    receipients()->clearSelection();
    click("Button1");
    EXPECT_EQ(receipients()->model()->rowCount(), 1);

    click("Button4");
    EXPECT_EQ(receipients()->model()->rowCount(), 0);
    EXPECT_EQ(flags(), (std::vector<bool>{false, false, false, false}));
    EXPECT_EQ(column(available(), 2), (std::vector<std::string>{"", "", "", ""}));
    EXPECT_EQ(status(1), "0 of 4 receipients selected");
}

TEST_F(MainListsTest, CommandsWithoutTheirPreconditionsDoNothing) {
    struct Case {
        const char* button;
        const char* what;
    };
    const Case cases[] = {{"Button2", "-> without a selection"},
                          {"Button1", "<- without a selection"},
                          {"Button4", "<<- without recipients"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        available()->clearSelection();
        click(c.button);
        EXPECT_EQ(receipients()->model()->rowCount(), 0);
        EXPECT_EQ(flags(), (std::vector<bool>{false, false, false, false}));
        EXPECT_EQ(status(1), "0 of 4 receipients selected");
    }
}

TEST_F(MainListsTest, StatusBarCountsRowsAndAttachments) {
    selectRows(available(), {0, 1, 3});
    click("Button2");
    EXPECT_EQ(status(1), "3 of 4 receipients selected");
    w->state().attachments.push_back(MakeAttachment("/tmp/a.txt"));
    w->updateStatusBar();
    EXPECT_EQ(status(2), "1 attachments");
    EXPECT_TRUE(status(3).empty());
}

TEST_F(MainListsTest, InsertFieldPutsThePlaceholderAtTheCaretOnlyWithAFieldSelected) {
    auto* fields = find<QListWidget>("ListBox3");
    body()->setPlainText("Hello  there");
    QTextCursor c = body()->textCursor();
    c.setPosition(6);
    body()->setTextCursor(c);

    fields->clearSelection();
    w->insertField();
    EXPECT_EQ(body()->toPlainText().toStdString(), "Hello  there");

    fields->setCurrentRow(2);
    w->insertField();
    EXPECT_EQ(body()->toPlainText().toStdString(), "Hello [town] there");

    // Over a selection the placeholder replaces it.
    c = body()->textCursor();
    c.setPosition(0);
    c.setPosition(5, QTextCursor::KeepAnchor);
    body()->setTextCursor(c);
    fields->setCurrentRow(0);
    action("Edit1")->setEnabled(true);
    action("Edit1")->trigger();
    EXPECT_EQ(body()->toPlainText().toStdString(), "[name] [town] there");
}

TEST_F(MainListsTest, EnablingRulesOfTheEditAndContextMenus) {
    const char* popup[] = {"FieldItem", "CutItem",    "CopyItem",
                           "PasteItem", "DeleteItem", "SelectItem"};
    const char* edit[] = {"Edit1", "Edit2", "Edit3", "Edit4", "Edit5"};
    auto states = [&](const char* const* names, int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += action(names[i])->isEnabled() ? '1' : '0';
        return s;
    };
    // Designed start: insert, cut, copy and delete off; paste and select all on.
    EXPECT_EQ(states(popup, 6), "000101");
    EXPECT_EQ(states(edit, 5), "00010");
    EXPECT_TRUE(action("Edit6")->isEnabled());

    auto* fields = find<QListWidget>("ListBox3");
    body()->setPlainText("some text");
    struct Step {
        const char* what;
        std::function<void()> act;
        const char* popup;
        const char* edit;
    };
    const Step steps[] = {
        {"field chosen in the list", [&] { fields->setCurrentRow(1); }, "100101", "10010"},
        {"body left", [&] { w->onBodyLeft(); }, "000000", "00000"},
        {"body entered with a field chosen", [&] { w->onBodyEntered(); }, "100101", "10010"},
        {"text selected", [&] { body()->selectAll(); }, "111111", "11111"},
        {"selection gone",
         [&] {
             QTextCursor c = body()->textCursor();
             c.clearSelection();
             body()->setTextCursor(c);
         },
         "100101", "10010"},
        {"field list emptied of its choice", [&] { fields->clearSelection(); }, "000101", "00010"},
        {"body left again", [&] { w->onBodyLeft(); }, "000000", "00000"},
        {"right button in the body", [&] { w->onBodyMouseDown(Qt::RightButton); }, "000101",
         "00010"},
        {"other buttons change nothing",
         [&] {
             w->onBodyLeft();
             w->onBodyMouseDown(Qt::LeftButton);
         },
         "000000", "00000"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        s.act();
        EXPECT_EQ(states(popup, 6), s.popup);
        EXPECT_EQ(states(edit, 5), s.edit);
        EXPECT_TRUE(action("Edit6")->isEnabled());
        EXPECT_TRUE(action("Edit7")->isEnabled());
    }
}

TEST_F(MainListsTest, FocusChangesDriveTheRules) {
    w->show();
    QApplication::setActiveWindow(w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    body()->setPlainText("abc");
    body()->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    EXPECT_TRUE(action("PasteItem")->isEnabled());
    EXPECT_TRUE(action("SelectItem")->isEnabled());
    edit("SubEdit")->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    EXPECT_FALSE(action("PasteItem")->isEnabled());
    EXPECT_FALSE(action("Edit4")->isEnabled());
    EXPECT_FALSE(action("SelectItem")->isEnabled());
}

TEST_F(MainListsTest, EditMenuOpenedFromTheKeyboardStillOffersTheBodyCommands) {
    // Alt+E moves the keyboard focus to the menu bar; that is not leaving the body.
    QApplication::setActiveWindow(w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    body()->setPlainText("abc");
    body()->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    body()->selectAll();
    bool menuOpen = false;
    std::string inMenu;
    QTimer::singleShot(100, [&] {
        menuOpen = qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr;
        for (const char* name : {"Edit2", "Edit3", "Edit4", "Edit5"})
            inMenu += action(name)->isEnabled() ? '1' : '0';
        if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    });
    QTest::keyClick(body(), Qt::Key_E, Qt::AltModifier);
    QTest::qWait(300);
    EXPECT_TRUE(menuOpen);
    EXPECT_EQ(inMenu, "1111");
}

TEST_F(MainListsTest, ClipboardCommandsActOnTheBody) {
    body()->setPlainText("one two");
    edit("SubEdit")->setFocus();
    QTextCursor c = body()->textCursor();
    c.setPosition(0);
    c.setPosition(4, QTextCursor::KeepAnchor);
    body()->setTextCursor(c);
    w->cutText();
    EXPECT_EQ(body()->toPlainText().toStdString(), "two");
    w->pasteText();
    EXPECT_EQ(body()->toPlainText().toStdString(), "one two");
    w->selectAllText();
    w->deleteText();
    EXPECT_TRUE(body()->toPlainText().isEmpty());
}

TEST_F(MainListsTest, FileCommandsUseTheirDialogsAndReportErrors) {
    // Opening a database replaces the people; its dialog is the data dialog.
    WriteFileBytes(dir.file("more.txt"), "Zed;zed@x;Rome;extra\r\n");
    nextPath = dir.file("more.txt");
    w->openDatabase();
    EXPECT_EQ(dialogTitles.back(), "Open Data File");
    EXPECT_EQ(column(available(), 0), std::vector<std::string>{"Zed"});
    EXPECT_EQ(find<QListWidget>("ListBox3")->count(), 4); // "New Field 1" added
    EXPECT_EQ(status(1), "0 of 1 receipients selected");

    // A file that cannot be read: the error box, and nothing changes.
    BoxCatcher boxes;
    nextPath = "/proc/self/mem";
    w->openFields();
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], "Cannot open file /proc/self/mem");
    EXPECT_EQ(find<QListWidget>("ListBox3")->count(), 4);

    // Cancel does nothing.
    nextPath.clear();
    w->saveDatabaseAs();
    EXPECT_EQ(dialogTitles.back(), "Save Database");

    nextPath = dir.file("saved-fields.txt");
    w->saveFieldsAs();
    EXPECT_EQ(ReadFileBytes(dir.file("saved-fields.txt")),
              "name\r\nemail\r\ntown\r\nNew Field 1\r\n");
    nextPath = dir.file("no-such-dir/x.txt");
    w->saveDatabaseAs();
    ASSERT_EQ(boxes.texts.size(), 2u);
    EXPECT_EQ(boxes.texts[1], "Cannot create file " + dir.file("no-such-dir/x.txt") +
                                  ": No such file or directory");

    QFileDialog& save = w->fileDialog(MainWindow::Dialog::SaveMail);
    EXPECT_EQ(save.objectName().toStdString(), "SaveMailDia");
    EXPECT_EQ(save.defaultSuffix().toStdString(), "txt");
    EXPECT_EQ(save.acceptMode(), QFileDialog::AcceptSave);
    EXPECT_FALSE(save.testOption(QFileDialog::DontConfirmOverwrite));
    QFileDialog& open = w->fileDialog(MainWindow::Dialog::OpenFields);
    EXPECT_EQ(open.windowTitle().toStdString(), "Open Field Definitions File");
    EXPECT_EQ(open.nameFilters().front().toStdString(), "Text files (*.txt)");
}

TEST_F(MainListsTest, SavedMailKeepsTheBodyAsTyped) {
    // A mail read from a file and saved again keeps its bytes, non-breaking spaces
    // included; a line break typed with Shift+Enter is a line break in the file.
    const std::string nbsp = "\xC2\xA0";
    const std::string file = "Date: x\r\nFrom: a\r\nTo: b\r\nSubject: s\r\n\r\n"
                             "10" +
                             nbsp + "km" + nbsp + "away\r\n\r\nend\r\n";
    WriteFileBytes(dir.file("in.txt"), file);
    nextPath = dir.file("in.txt");
    w->openMail();
    ASSERT_EQ(body()->toPlainText().toStdString(), "10 km away\n\nend"); // shown as blanks
    EXPECT_EQ(w->editorTexts().body,
              (std::vector<std::string>{"10" + nbsp + "km" + nbsp + "away", "", "end"}));

    body()->setFocus();
    body()->moveCursor(QTextCursor::End);
    QTest::keyClick(body(), Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(body(), "PS");
    nextPath = dir.file("out.txt");
    w->saveMailAs();
    const std::string out = ReadFileBytes(dir.file("out.txt"));
    const std::string tail = "\r\n\r\n10" + nbsp + "km" + nbsp + "away\r\n\r\nend\r\nPS\r\n";
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
}

TEST_F(MainListsTest, SaveCommandsWithoutDataDoNotAsk) {
    w->state().db->entries.clear();
    w->refreshLists();
    w->saveDatabaseAs(); // no entries
    w->state().db->fields.clear();
    w->saveFieldsAs(); // no fields
    EXPECT_TRUE(dialogTitles.empty());
    // A CSV database brings its own fields, so the open dialog comes up all the same.
    w->openDatabase();
    EXPECT_EQ(dialogTitles, std::vector<std::string>{"Open Data File"});
}

TEST_F(MainListsTest, OpeningTheEditorFreezesTheListsUntilTheyAreRebuilt) {
    selectRows(available(), {1});
    click("Button2");
    selectRows(available(), {0});
    w->editDatabase();
    EXPECT_FALSE(w->controlsEnabled());
    EXPECT_FALSE(find<QPushButton>("Button3")->isEnabled());
    EXPECT_FALSE(find<QToolButton>("SpeedButton2")->isEnabled());
    EXPECT_FALSE(find<QPushButton>("SendBut")->isEnabled());
    EXPECT_TRUE(action("File11")->isEnabled());
    EXPECT_TRUE(edit("FrEdit")->isEnabled());
    EXPECT_TRUE(available()->selectionModel()->selectedRows().isEmpty());

    // Another window may remove people meanwhile: the lists keep showing what they had
    // without touching the entries that are gone.
    w->state().db->entries.erase(w->state().db->entries.begin());
    EXPECT_EQ(cell(available(), 0, 0).toStdString(), "Sam");
    EXPECT_EQ(cell(available(), 1, 2).toStdString(), "*");
    available()->viewport()->repaint();

    // Whoever asks for the recipients meanwhile gets live entries, never removed ones.
    selectRows(available(), {3});
    w->setControlsEnabled(true);
    click("Button2"); // refused until the lists are rebuilt
    w->state().db->entries.erase(w->state().db->entries.begin()); // "Ann", the recipient
    EXPECT_TRUE(w->recipientRows().empty());
    w->state().db->entries[1]->selected = true;
    EXPECT_EQ(w->recipientRows(), std::vector<Person*>{entry(1)});

    w->refreshLists();
    EXPECT_EQ(column(available(), 0), (std::vector<std::string>{"Sam", ""}));
    EXPECT_EQ(status(1), "1 of 2 receipients selected");
    EXPECT_TRUE(find<QPushButton>("Button3")->isEnabled());
}

TEST_F(MainWindowTest, AHundredThousandPeopleLoadAndMove) {
    std::string people;
    for (int i = 0; i < 100000; ++i)
        people += "P" + std::to_string(i) + ";p@x\r\n";
    startWith("name\r\nemail\r\n", people);
    w->show();
    QApplication::processEvents();
    ASSERT_EQ(available()->model()->rowCount(), 100000);
    QTest::mouseClick(find<QPushButton>("Button3"), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(status(1), "100000 of 100000 receipients selected");
    // Every other recipient back: scattered rows in one go.
    QItemSelection sel;
    for (int r = 0; r < 100000; r += 2)
        sel.select(receipients()->model()->index(r, 0), receipients()->model()->index(r, 1));
    receipients()->selectionModel()->select(sel, QItemSelectionModel::Select);
    QTest::mouseClick(find<QPushButton>("Button1"), Qt::LeftButton);
    EXPECT_EQ(status(1), "50000 of 100000 receipients selected");
    EXPECT_EQ(cell(receipients(), 0, 0).toStdString(), "P1");
    EXPECT_EQ(cell(available(), 0, 2).toStdString(), "");
    EXPECT_EQ(cell(available(), 1, 2).toStdString(), "*");
    QTest::mouseClick(find<QPushButton>("Button4"), Qt::LeftButton);
    EXPECT_EQ(status(1), "0 of 100000 receipients selected");
}

} // namespace
} // namespace tandrel::test
