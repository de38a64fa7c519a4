// SPDX-License-Identifier: GPL-3.0-or-later
// The database editor window driven like a user would: lines, clicks, Enter, closing.
#include <QAccessible>
#include <QApplication>
#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "tests/ui/DatabaseEditorTestHarness.h"

using namespace tandrel;
using namespace tandrel::test;

namespace {

using Strings = std::vector<std::string>;

Strings FieldNames(const Database& db) {
    Strings n;
    for (const auto& f : db.fields)
        n.push_back(f.name);
    return n;
}

} // namespace

TEST(DatabaseEditor, StartsLikeTheDesign) {
    EditorHarness h;
    EXPECT_EQ(h.editor->windowTitle(), "Database Editor");
    EXPECT_FALSE(h.value()->isEnabled());
    EXPECT_FALSE(h.change()->isEnabled());
    EXPECT_EQ(h.entryList()->selectionMode(), QAbstractItemView::ExtendedSelection);
    const std::pair<const char*, const char*> buttons[] = {
        {"Button3", "Add"}, {"Button4", "Remove"}, {"varEdit", "Fields..."},
        {"Done", "Done"},   {"Button1", "Change"},
    };
    for (const auto& [name, caption] : buttons) {
        auto* b = Child<QPushButton>(h.editor.get(), name);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->text(), caption);
        EXPECT_EQ(b->accessibleName(), caption);
    }
    for (const char* name : {"Panel10", "Panel11", "Panel9"})
        EXPECT_TRUE(Child<QLineEdit>(h.editor.get(), name)->isReadOnly()) << name;
}

TEST(DatabaseEditor, NewDatabaseDiscardsTheOldOneAndClearsTheDialogs) {
    EditorHarness h;
    h.main.st.newDatabase();
    h.db().fields.push_back(Field{"city"});
    h.addPerson("Old", "old@x");
    h.fields->fillFieldList();
    Child<QLineEdit>(h.fields, "Edit1")->setText("typed");

    bool wasModal = false;
    WhileModal(
        h.editor.get(), [&] { h.editor->startNewDatabase(); },
        [&] {
            wasModal = h.editor->isModal() && h.editor->isVisible();
            EXPECT_EQ(h.editor->entryLineCount(), 0);
            EXPECT_EQ(FieldNames(h.db()), (Strings{"name", "email"}));
            EXPECT_EQ(h.db().entryCount(), 0u);
            EXPECT_EQ(Text(Child<QLineEdit>(h.add, "Edit1")), "");
            EXPECT_EQ(Text(Child<QLineEdit>(h.add, "Edit2")), "");
            EXPECT_EQ(Text(Child<QLineEdit>(h.fields, "Edit1")), "");
            EXPECT_EQ(Child<QListWidget>(h.fields, "ListBox1")->count(), 0);
            EXPECT_TRUE(h.fieldList()->count() == 0 && h.panel("Panel10").empty());
            h.editor->finishEditing();
        });
    EXPECT_TRUE(wasModal);
    EXPECT_FALSE(h.editor->isVisible());
    EXPECT_EQ(h.main.enableCalls, std::vector<bool>{true});
    EXPECT_EQ(h.main.refreshCalls, 1);
}

TEST(DatabaseEditor, BuildsADatabaseFromNothing) {
    EditorHarness h;
    h.main.st.newDatabase();
    h.openModeless();

    // Three people through "Add"; the dialog is modal above the editor.
    for (const auto& [name, mail] : {std::pair{"Ann", "ann@x"}, {"Bob", "bob@x"}, {"Cid", ""}}) {
        WhileModal(
            h.add, [&] { h.editor->addPerson(); },
            [&] {
                EXPECT_TRUE(h.add->isModal());
                h.addPerson(name, mail);
            });
    }
    EXPECT_EQ(Lines(h.entryList()), (Strings{"Ann", "Bob", "Cid"}));
    ASSERT_EQ(h.db().entryCount(), 3u);
    EXPECT_EQ(h.db().entries[2]->values, (Strings{"Cid", ""}));

    // A field through "Fields...": "New", then "Done" refreshes the editor.
    h.pickEntry(1);
    WhileModal(
        h.fields, [&] { h.editor->editFields(); },
        [&] {
            auto* list = Child<QListWidget>(h.fields, "ListBox1");
            EXPECT_EQ(Lines(list), (Strings{"name", "email"}));
            Child<QLineEdit>(h.fields, "Edit1")->setText("city");
            h.fields->appendField();
            h.fields->finishEditing();
        });
    EXPECT_EQ(FieldNames(h.db()), (Strings{"name", "email", "city"}));
    EXPECT_EQ(h.panel("Panel10"), "Bob");
    EXPECT_EQ(h.panel("Panel11"), "bob@x");
    EXPECT_EQ(Lines(h.fieldList()), (Strings{"name Bob", "email bob@x", "city"}));

    // Change Bob's city: click the field, type, press Enter in the value edit.
    h.pickField(2);
    EXPECT_TRUE(h.value()->isEnabled());
    EXPECT_TRUE(h.change()->isEnabled());
    EXPECT_TRUE(h.change()->isDefault());
    EXPECT_EQ(h.panel("Panel9"), "city");
    EXPECT_EQ(Text(h.value()), "");
    h.value()->setText("Rome");
    QTest::keyClick(h.value(), Qt::Key_Return);
    EXPECT_EQ(h.db().entries[1]->values, (Strings{"Bob", "bob@x", "Rome"}));
    EXPECT_EQ(Lines(h.fieldList()), (Strings{"name Bob", "email bob@x", "city Rome"}));
    EXPECT_EQ(h.fieldList()->currentRow(), 2);
    EXPECT_TRUE(h.entryList()->selectionModel()->isRowSelected(1, {}));

    // Changing the name renames the line and the entry; the e-mail follows its field.
    h.pickField(0);
    EXPECT_EQ(Text(h.value()), "Bob");
    h.value()->setText("Robert");
    h.change()->click();
    h.pickField(1);
    h.value()->setText("rob@y");
    h.change()->click();
    const Person& bob = *h.db().entries[1];
    EXPECT_EQ(bob.name(), "Robert");
    EXPECT_EQ(bob.email(), "rob@y");
    EXPECT_EQ(bob.values, (Strings{"Robert", "rob@y", "Rome"}));
    EXPECT_EQ(Lines(h.entryList()), (Strings{"Ann", "Robert", "Cid"}));
    EXPECT_EQ(h.panel("Panel10"), "Robert");
    EXPECT_EQ(h.panel("Panel11"), "rob@y");

    // Other people are untouched: a new field adds no values.
    EXPECT_EQ(h.db().entries[0]->values, (Strings{"Ann", "ann@x"}));
}

TEST(DatabaseEditor, ChangingBeyondAShortValueListPadsWithEmptyValues) {
    EditorHarness h;
    h.main.st.newDatabase();
    h.addPerson("Ann", "ann@x");
    h.db().fields.push_back(Field{"A"});
    h.db().fields.push_back(Field{"B"});
    h.openModeless();
    EXPECT_EQ(Lines(h.fieldList()), (Strings{"name Ann", "email ann@x", "A", "B"}));

    h.pickField(3);
    EXPECT_EQ(Text(h.value()), "") << "a missing value reads as empty";
    h.value()->setText("bee");
    h.editor->changeValue();
    EXPECT_EQ(h.db().entries[0]->values, (Strings{"Ann", "ann@x", "", "bee"}));
    EXPECT_EQ(Lines(h.fieldList()), (Strings{"name Ann", "email ann@x", "A ", "B bee"}));

    // An empty text is stored as it is.
    h.pickField(0);
    h.value()->clear();
    h.editor->changeValue();
    EXPECT_EQ(h.db().entries[0]->name(), "");
    EXPECT_EQ(Lines(h.entryList()), (Strings{""}));
}

TEST(DatabaseEditor, ChangeNeedsAnEntryAndAField) {
    EditorHarness h;
    h.main.st.newDatabase();
    h.openModeless();
    // Nobody yet: a field click and "Change" do nothing.
    h.editor->onFieldLineClicked();
    h.editor->changeValue();
    EXPECT_FALSE(h.value()->isEnabled());

    h.addPerson("Ann", "ann@x");
    h.editor->onEntryClicked();
    h.value()->setText("x");
    h.editor->changeValue(); // no field picked
    EXPECT_EQ(h.db().entries[0]->values, (Strings{"Ann", "ann@x"}));
}

TEST(DatabaseEditor, RemoveTakesTheSelectedLinesOwnEntries) {
    EditorHarness h;
    h.main.st.newDatabase();
    h.addPerson("Ann", "first@x");
    h.addPerson("Ann", "second@x");
    h.addPerson("Bob", "bob@x");
    h.openModeless();
    Person* first = h.db().entries[0].get();

    h.editor->removeSelectedEntries(); // nothing selected
    EXPECT_EQ(h.db().entryCount(), 3u);

    h.pickEntry(1);
    h.editor->removeSelectedEntries();
    ASSERT_EQ(h.db().entryCount(), 2u);
    EXPECT_EQ(h.db().entries[0].get(), first);
    EXPECT_EQ(h.db().entries[0]->email(), "first@x");
    EXPECT_EQ(Lines(h.entryList()), (Strings{"Ann", "Bob"}));
    EXPECT_EQ(h.editor->entryAt(0), first);
    EXPECT_EQ(h.panel("Panel11"), "first@x");

    // Several lines at once, then the last person: the display empties.
    auto* sel = h.entryList()->selectionModel();
    sel->select(h.entryList()->model()->index(0, 0), QItemSelectionModel::Select);
    sel->select(h.entryList()->model()->index(1, 0), QItemSelectionModel::Select);
    h.editor->removeSelectedEntries();
    EXPECT_EQ(h.db().entryCount(), 0u);
    EXPECT_EQ(h.editor->entryLineCount(), 0);
    EXPECT_EQ(h.panel("Panel10"), "");
    EXPECT_EQ(h.fieldList()->count(), 0);
}

TEST(DatabaseEditor, ExtraValuesAreShownReadOnly) {
    EditorHarness h;
    h.main.st.newDatabase();
    h.addPerson("Ann", "ann@x");
    h.db().entries[0]->values = {"Ann", "ann@x", "old city", "old zip"};
    h.openModeless();
    auto* list = h.fieldList();
    EXPECT_EQ(Lines(list),
              (Strings{"name Ann", "email ann@x", "(extra) old city", "(extra) old zip"}));
    EXPECT_FALSE(list->item(2)->flags() & Qt::ItemIsSelectable);
    EXPECT_FALSE(list->item(2)->flags() & Qt::ItemIsEnabled);

    // A real click on an extra line picks nothing.
    h.editor->show();
    h.pickField(1);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(3)).center());
    EXPECT_EQ(list->currentRow(), 1);
    EXPECT_EQ(h.panel("Panel9"), "email");
    h.value()->setText("new@x");
    h.editor->changeValue();
    EXPECT_EQ(h.db().entries[0]->values, (Strings{"Ann", "new@x", "old city", "old zip"}));
}

TEST(DatabaseEditor, ClicksAndKeysReachTheHandlers) {
    EditorHarness h;
    h.main.st.newDatabase();
    h.addPerson("Ann", "ann@x");
    h.addPerson("Bob", "bob@x");
    h.openModeless();
    h.editor->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(h.editor.get()));
    EXPECT_EQ(h.panel("Panel10"), "Ann") << "the first line is current after filling";

    QListView* people = h.entryList();
    QTest::mouseClick(people->viewport(), Qt::LeftButton, {},
                      people->visualRect(people->model()->index(1, 0)).center());
    EXPECT_EQ(h.panel("Panel10"), "Bob");

    QListWidget* fields = h.fieldList();
    QTest::mouseClick(fields->viewport(), Qt::LeftButton, {},
                      fields->visualItemRect(fields->item(1)).center());
    EXPECT_EQ(h.panel("Panel9"), "email");
    EXPECT_EQ(Text(h.value()), "bob@x");
    EXPECT_EQ(QApplication::focusWidget(), h.value());
    EXPECT_TRUE(h.change()->isDefault());

    // Leaving the right part takes the edit and "Change" away again.
    people->setFocus();
    EXPECT_FALSE(h.value()->isEnabled());
    EXPECT_FALSE(h.change()->isEnabled());
    EXPECT_FALSE(h.change()->isDefault());

    // Another line clears the picked field.
    QTest::keyClick(people, Qt::Key_Up);
    EXPECT_EQ(h.panel("Panel10"), "Ann");
    EXPECT_EQ(h.panel("Panel9"), "");
    EXPECT_EQ(Text(h.value()), "");
}

TEST(DatabaseEditor, EnterPressesChangeOnlyWhileAValueIsEdited) {
    EditorHarness h;
    h.main.st.newDatabase();
    h.addPerson("Ann", "ann@x");
    h.openModeless();
    h.editor->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(h.editor.get()));
    // No button is the default before a value is picked: Enter in the entry list
    // must not open the add dialog.
    for (QPushButton* b : h.editor->findChildren<QPushButton*>())
        EXPECT_FALSE(b->isDefault()) << b->objectName().toStdString();
    int addOpened = 0;
    QTimer::singleShot(0, h.add, [&] {
        if (h.add->isVisible()) {
            ++addOpened;
            h.add->reject();
        }
    });
    h.entryList()->setFocus();
    QTest::keyClick(h.entryList(), Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(addOpened, 0);
    EXPECT_EQ(h.db().entryCount(), 1u);

    // Visiting a button and coming back leaves none of them the default either.
    Child<QPushButton>(h.editor.get(), "Button3")->setFocus();
    h.entryList()->setFocus();
    for (QPushButton* b : h.editor->findChildren<QPushButton*>())
        EXPECT_FALSE(b->isDefault() && b->isEnabled()) << b->objectName().toStdString();

    h.pickField(1);
    EXPECT_TRUE(h.change()->isDefault());
    h.value()->setText("new@x");
    QTest::keyClick(h.value(), Qt::Key_Return);
    EXPECT_EQ(h.db().entries[0]->email(), "new@x");
}

TEST(DatabaseEditor, EveryWayOfClosingRefreshesTheMainWindowOnce) {
    struct Case {
        const char* what;
        void (*close)(DatabaseEditor*);
    };
    const Case cases[] = {
        {"Done", [](DatabaseEditor* e) { e->finishEditing(); }},
        {"close box", [](DatabaseEditor* e) { e->close(); }},
        {"Escape", [](DatabaseEditor* e) { QTest::keyClick(e, Qt::Key_Escape); }},
    };
    for (const auto& c : cases) {
        EditorHarness h;
        h.main.st.newDatabase();
        h.addPerson("Ann", "ann@x");
        h.openModeless();
        c.close(h.editor.get());
        EXPECT_FALSE(h.editor->isVisible()) << c.what;
        EXPECT_EQ(h.main.enableCalls, (std::vector<bool>{false, true})) << c.what;
        EXPECT_EQ(h.main.refreshCalls, 1) << c.what;
        // A closed editor keeps no lines that could outlive their entries.
        EXPECT_EQ(h.editor->entryLineCount(), 0) << c.what;
        h.editor->close(); // already closed: nothing more
        EXPECT_EQ(h.main.refreshCalls, 1) << c.what;
    }
}

TEST(DatabaseEditor, FillsAHundredThousandPeople) {
    EditorHarness h;
    h.main.st.newDatabase();
    for (int i = 0; i < 100000; ++i) {
        Person& e = h.db().appendEntry();
        e.setName("P" + std::to_string(i));
        e.values = {e.name(), ""};
    }
    h.openModeless();
    ASSERT_EQ(h.editor->entryLineCount(), 100000);
    EXPECT_EQ(h.editor->entryAt(99999), h.db().entries[99999].get());
    EXPECT_EQ(h.entryList()->model()->index(99999, 0).data().toString(), "P99999");
    h.pickEntry(99999);
    EXPECT_EQ(h.panel("Panel10"), "P99999");
}

TEST(DatabaseEditor, TabWalksTheThreeWindowsInReadingOrder) {
    EditorHarness h;
    h.main.st.newDatabase();
    h.addPerson("Ann", "ann@x");
    h.openModeless();
    h.pickField(0); // brings the value edit and "Change" to life
    struct Window {
        QWidget* w;
        std::vector<const char*> tabOrder;
    };
    const Window windows[] = {
        {h.editor.get(),
         {"ListBox2", "Button3", "Button4", "varEdit", "Done", "Panel10", "Panel11", "ListBox1",
          "Panel9", "Edit2", "Button1"}},
        {h.fields, {"Edit1", "changeBut", "newBut", "Done", "ListBox1"}},
        {h.add, {"Edit1", "Edit2", "Button1", "Button2"}},
    };
    for (const auto& win : windows) {
        const std::string title = win.w->windowTitle().toStdString();
        QWidget* cur = Child<QWidget>(win.w, win.tabOrder[0]);
        for (std::size_t i = 1; i < win.tabOrder.size(); ++i) {
            QWidget* next = cur->nextInFocusChain();
            while (next && next->focusPolicy() == Qt::NoFocus)
                next = next->nextInFocusChain();
            ASSERT_NE(next, nullptr);
            EXPECT_EQ(next->objectName().toStdString(), win.tabOrder[i]) << title;
            cur = next;
        }
    }
    const std::pair<const char*, const char*> names[] = {
        {"Panel10", "Name:"}, {"Panel11", "EMail:"}, {"Done", "Done"}, {"Button1", "Change"}};
    for (const auto& [name, expected] : names)
        EXPECT_EQ(QAccessible::queryAccessibleInterface(Child<QWidget>(h.editor.get(), name))
                      ->text(QAccessible::Name)
                      .toStdString(),
                  expected);
}

TEST(DatabaseEditor, TheCurrentLineIsOutlinedWithoutBeingSelected) {
    EditorHarness h;
    h.main.st.newDatabase();
    h.addPerson("Ann", "ann@x");
    h.addPerson("Bob", "bob@x");
    h.openModeless();
    QListView* people = h.entryList();
    EXPECT_TRUE(people->selectionModel()->selectedRows().isEmpty());

    const QColor outline = people->palette().color(QPalette::Active, QPalette::Highlight);
    const QImage shot = people->viewport()->grab().toImage();
    auto edgeIsOutlined = [&](int row) {
        const QRect r = people->visualRect(people->model()->index(row, 0));
        return QColor(shot.pixel(r.left(), r.center().y())) == outline;
    };
    EXPECT_TRUE(edgeIsOutlined(0));
    EXPECT_FALSE(edgeIsOutlined(1));
}
