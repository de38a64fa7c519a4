// SPDX-License-Identifier: GPL-3.0-or-later
// The "Add Receipient" dialog.
#include <QTest>
#include <gtest/gtest.h>

#include "tests/ui/DatabaseEditorTestHarness.h"

using namespace tandrel;
using namespace tandrel::test;

namespace {

using Strings = std::vector<std::string>;

} // namespace

TEST(AddPersonDialog, LooksLikeTheDesign) {
    EditorHarness h;
    EXPECT_EQ(h.add->windowTitle(), "Add Receipient");
    EXPECT_FALSE(h.add->windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(h.add->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(Child<QPushButton>(h.add, "Button1")->isDefault());
    EXPECT_EQ(Child<QPushButton>(h.add, "Button2")->text(), "Cancel");
    EXPECT_EQ(Child<QLineEdit>(h.add, "Edit1")->accessibleName(), "Name:");
    EXPECT_EQ(Child<QLineEdit>(h.add, "Edit2")->accessibleName(), "Mail:");
}

TEST(AddPersonDialog, OkAddsAPersonAndALineThenCloses) {
    struct Case {
        const char* what;
        Strings fields;
        const char* name;
        const char* mail;
        bool added;
        Strings values;
    };
    const Case cases[] = {
        {"usual", {"name", "email", "city"}, "Ann", "ann@x", true, {"Ann", "ann@x", ""}},
        {"empty mail", {"name", "email"}, "Ann", "", true, {"Ann", ""}},
        {"empty name refused", {"name", "email"}, "", "ann@x", false, {}},
        {"no name or email field", {"a", "b"}, "Ann", "ann@x", true, {"ann@x", ""}},
        {"no fields", {}, "Ann", "ann@x", true, {}},
    };
    for (const auto& c : cases) {
        EditorHarness h;
        h.main.st.newDatabase();
        h.db().fields.clear();
        for (const auto& f : c.fields)
            h.db().fields.push_back(Field{f});
        h.openModeless();
        bool openAfter = true;
        WhileModal(
            h.add, [&] { h.editor->addPerson(); },
            [&] {
                h.addPerson(c.name, c.mail);
                openAfter = h.add->isVisible();
            });
        EXPECT_EQ(openAfter, !c.added) << c.what;
        ASSERT_EQ(h.db().entryCount(), c.added ? 1u : 0u) << c.what;
        if (!c.added) continue;
        const Person& e = *h.db().entries[0];
        EXPECT_EQ(e.name(), c.name) << c.what;
        EXPECT_EQ(e.email(), c.mail) << c.what;
        EXPECT_FALSE(e.selected) << c.what;
        EXPECT_EQ(e.values, c.values) << c.what;
        EXPECT_EQ(Lines(h.entryList()), Strings{c.name}) << c.what;
        EXPECT_EQ(h.editor->entryAt(0), &e) << c.what;
    }
}

TEST(AddPersonDialog, EditsKeepTheirTextAndCancelChangesNothing) {
    EditorHarness h;
    h.main.st.newDatabase();
    h.openModeless();
    h.addPerson("Ann", "ann@x");
    auto* name = Child<QLineEdit>(h.add, "Edit1");
    auto* mail = Child<QLineEdit>(h.add, "Edit2");
    EXPECT_EQ(Text(name), "Ann");
    EXPECT_EQ(Text(mail), "ann@x");

    WhileModal(
        h.add, [&] { h.editor->addPerson(); },
        [&] {
            name->setText("Bob");
            h.add->cancelAdding();
        });
    EXPECT_FALSE(h.add->isVisible());
    EXPECT_EQ(h.db().entryCount(), 1u);
    EXPECT_EQ(Text(name), "Bob");

    // The dialog opens empty each time; Enter in an edit presses "OK".
    WhileModal(
        h.add, [&] { h.editor->addPerson(); },
        [&] {
            EXPECT_EQ(Text(name), "");
            name->setText("Bob");
            QTest::keyClick(mail, Qt::Key_Return);
        });
    EXPECT_EQ(Lines(h.entryList()), (Strings{"Ann", "Bob"}));
}
