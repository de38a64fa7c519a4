// SPDX-License-Identifier: GPL-3.0-or-later
// The "Fields" dialog: appending and renaming fields.
#include <QTest>
#include <gtest/gtest.h>

#include "tests/ui/DatabaseEditorTestHarness.h"

using namespace tandrel;
using namespace tandrel::test;

namespace {

using Strings = std::vector<std::string>;

struct FieldsHarness : EditorHarness {
    QListWidget* list() { return Child<QListWidget>(fields, "ListBox1"); }
    QLineEdit* edit() { return Child<QLineEdit>(fields, "Edit1"); }
    Strings names() {
        Strings n;
        for (const auto& f : db().fields)
            n.push_back(f.name);
        return n;
    }
    void setUp(const Strings& fieldNames) {
        main.st.newDatabase();
        db().fields.clear();
        for (const auto& f : fieldNames)
            db().fields.push_back(Field{f});
        fields->fillFieldList();
    }
    void select(int row) { list()->setCurrentRow(row); }
};

} // namespace

TEST(FieldsDialog, LooksLikeTheDesign) {
    FieldsHarness h;
    EXPECT_EQ(h.fields->windowTitle(), "Fields");
    EXPECT_EQ(h.fields->minimumSize(), h.fields->maximumSize());
    EXPECT_TRUE(Child<QPushButton>(h.fields, "newBut")->isDefault());
    EXPECT_EQ(Child<QPushButton>(h.fields, "changeBut")->text(), "Change");
    EXPECT_EQ(Child<QPushButton>(h.fields, "Done")->text(), "Done");
}

TEST(FieldsDialog, NewAppendsTheTextUnchanged) {
    FieldsHarness h;
    h.setUp({"name", "email"});
    h.addPerson("Ann", "ann@x");
    const struct {
        const char* text;
        bool appended;
    } cases[] = {{"", false}, {" city ", true}, {"name", true}, {"[x]", true}, {"[x]", true}};
    Strings expected{"name", "email"};
    for (const auto& c : cases) {
        h.edit()->setText(c.text);
        h.fields->appendField();
        if (c.appended) expected.push_back(c.text);
        EXPECT_EQ(h.names(), expected) << c.text;
        EXPECT_EQ(Lines(h.list()), expected) << c.text;
        EXPECT_EQ(Text(h.edit()), c.text) << "the edit keeps its text";
    }
    EXPECT_EQ(h.db().entries[0]->values, (Strings{"Ann", "ann@x"}));
}

TEST(FieldsDialog, EnterInTheEditPressesNew) {
    FieldsHarness h;
    h.setUp({"name", "email"});
    h.fields->show();
    h.edit()->setText("city");
    QTest::keyClick(h.edit(), Qt::Key_Return);
    EXPECT_EQ(h.names(), (Strings{"name", "email", "city"}));
    h.fields->hide();
}

TEST(FieldsDialog, ChangeRenamesTheSelectedFieldOnly) {
    struct Case {
        const char* what;
        Strings fields;
        int row; // -1: nothing selected
        const char* text;
        Strings after;
    };
    const Case cases[] = {
        {"third field", {"name", "email", "city"}, 2, "town", {"name", "email", "town"}},
        {"to an empty name", {"name", "email", "city"}, 2, "", {"name", "email", ""}},
        {"name is kept", {"name", "email", "city"}, 0, "x", {"name", "email", "city"}},
        {"email is kept", {"name", "email", "city"}, 1, "x", {"name", "email", "city"}},
        {"nothing selected", {"name", "email", "city"}, -1, "x", {"name", "email", "city"}},
        {"only the exact names are kept", {"Name", "email "}, 0, "x", {"x", "email "}},
        {"the chosen one of two equal names", {"a", "a", "a"}, 1, "b", {"a", "b", "a"}},
    };
    for (const auto& c : cases) {
        FieldsHarness h;
        h.setUp(c.fields);
        h.addPerson("Ann", "ann@x");
        const Strings valuesBefore = h.db().entries[0]->values;
        if (c.row >= 0) h.select(c.row);
        h.edit()->setText(c.text);
        h.fields->renameField();
        EXPECT_EQ(h.names(), c.after) << c.what;
        EXPECT_EQ(Lines(h.list()), c.after) << c.what;
        EXPECT_EQ(h.db().entries[0]->values, valuesBefore) << c.what;
    }
}

TEST(FieldsDialog, PickingALineCopiesItIntoTheEdit) {
    FieldsHarness h;
    h.setUp({"name", "email", "city"});
    h.fields->show();
    QListWidget* list = h.list();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(2)).center());
    EXPECT_EQ(Text(h.edit()), "city");
    h.fields->hide();
}

TEST(FieldsDialog, DoneRefreshesTheEditorButTheCloseBoxDoesNot) {
    FieldsHarness h;
    h.main.st.newDatabase();
    h.addPerson("Ann", "ann@x");
    h.openModeless();

    WhileModal(
        h.fields, [&] { h.editor->editFields(); },
        [&] {
            h.edit()->setText("city");
            h.fields->appendField();
            h.fields->close();
        });
    EXPECT_EQ(Lines(h.fieldList()), (Strings{"name Ann", "email ann@x"}));

    WhileModal(
        h.fields, [&] { h.editor->editFields(); },
        [&] {
            EXPECT_EQ(Lines(h.list()), (Strings{"name", "email", "city"}));
            h.fields->finishEditing();
        });
    EXPECT_FALSE(h.fields->isVisible());
    EXPECT_EQ(Lines(h.fieldList()), (Strings{"name Ann", "email ann@x", "city"}));
}
