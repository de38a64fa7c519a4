// SPDX-License-Identifier: GPL-3.0-or-later
// The merged preview in the main window: on, off, refused, and that the merged text never
// becomes the mail.
#include <QTest>

#include "tests/ui/MainWindowFixture.h"

namespace tandrel::test {
namespace {

const char* kMail = "Date: x\r\n"
                    "From: \"Me\" <me@x>\r\n"
                    "To: \"[name]\" <[email]>\r\n"
                    "Subject: News for [name]\r\n"
                    "\r\n"
                    "Dear [name],\r\n"
                    "greetings to [town].\r\n";

class MainPreviewTest : public MainWindowTest {
protected:
    void SetUp() override {
        startWithAll(kMail, "name\r\nemail\r\ntown\r\n", "Ann;ann@x;Leeds\r\nBob;bob@x;York\r\n");
        w->show();
        QTest::mouseClick(find<QPushButton>("Button3"), Qt::LeftButton);
        button = find<QToolButton>("SpeedButton1");
    }

    MailEditors shown() const { return w->editorTexts(); }
    void press() { QTest::mouseClick(button, Qt::LeftButton); }
    QColor bodyBase() const { return body()->palette().color(QPalette::Active, QPalette::Base); }

    QToolButton* button = nullptr;
    const std::vector<std::string> templateBody{"Dear [name],", "greetings to [town]."};
};

TEST_F(MainPreviewTest, ShowsTheMergedMailAndGivesBackTheTemplate) {
    const QColor normal = bodyBase();
    selectRows(receipients(), {1});
    press();
    EXPECT_TRUE(button->isChecked());
    EXPECT_TRUE(w->previewShown());
    MailEditors e = shown();
    EXPECT_EQ(e.from, "\"Me\" <me@x>");
    EXPECT_EQ(e.to, "\"Bob\" <bob@x>");
    EXPECT_EQ(e.subject, "News for Bob");
    EXPECT_EQ(e.body, (std::vector<std::string>{"Dear Bob,", "greetings to York."}));
    EXPECT_TRUE(body()->isReadOnly());
    EXPECT_NE(bodyBase(), normal);
    EXPECT_EQ(body()->textCursor().position(), 0);

    press();
    EXPECT_FALSE(button->isChecked());
    EXPECT_FALSE(w->previewShown());
    e = shown();
    EXPECT_EQ(e.to, "\"[name]\" <[email]>");
    EXPECT_EQ(e.subject, "News for [name]");
    EXPECT_EQ(e.body, templateBody);
    EXPECT_FALSE(body()->isReadOnly());
    EXPECT_EQ(bodyBase(), normal);
}

// A mail and values in different encodings: the preview shows the characters both hold,
// and the mail keeps its own bytes.
TEST_F(MainWindowTest, PreviewShowsMixedEncodingsAsTheirCharacters) {
    const struct {
        const char* what;
        std::string subject, name; // bytes
        const char16_t* shown;
    } cases[] = {
        {"Windows-1252 mail, UTF-8 value",
         "Gr\xFC\xDF"
         "e [name]",
         "Zo\xC3\xAB", u"Gr\u00FC\u00DFe Zo\u00EB"},
        {"UTF-8 mail, Windows-1252 value",
         "Gr\xC3\xBC\xC3\x9F"
         "e [name]",
         "Zo\xEB", u"Gr\u00FC\u00DFe Zo\u00EB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        startWithAll("To: [email]\r\nSubject: " + c.subject + "\r\n\r\nx\r\n", "name\r\nemail\r\n",
                     c.name + ";z@x\r\n");
        w->moveAllToRecipients();
        selectRows(receipients(), {0});
        w->previewNext();
        ASSERT_TRUE(w->previewShown());
        EXPECT_EQ(edit("SubEdit")->text(), QString::fromStdU16String(c.shown));
        w->previewNext(); // only one person: the preview stays
        find<QToolButton>("SpeedButton1")->click();
        EXPECT_FALSE(w->previewShown());
        EXPECT_EQ(w->editorTexts().subject, c.subject);
        app.reset();
        w = nullptr;
    }
}

TEST_F(MainPreviewTest, RefusedWithoutExactlyOneSelectedRecipient) {
    struct Case {
        const char* what;
        std::vector<int> rows;
    };
    const Case cases[] = {{"none selected", {}}, {"two selected", {0, 1}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        receipients()->clearSelection();
        for (int r : c.rows)
            receipients()->selectionModel()->select(receipients()->model()->index(r, 0),
                                                    QItemSelectionModel::Select |
                                                        QItemSelectionModel::Rows);
        body()->setPlainText("typed [name]");
        press();
        EXPECT_FALSE(button->isChecked());
        EXPECT_FALSE(w->previewShown());
        EXPECT_EQ(body()->toPlainText().toStdString(), "typed [name]");
        EXPECT_FALSE(body()->isReadOnly());
    }
}

TEST_F(MainPreviewTest, TheMergedTextNeverBecomesTheMail) {
    // Typed since the last build of the mail text, then previewed.
    body()->setPlainText("Hi [name]");
    selectRows(receipients(), {0});
    press();
    ASSERT_TRUE(w->previewShown());
    EXPECT_EQ(body()->toPlainText().toStdString(), "Hi Ann");

    // Save Mail writes the template.
    nextPath = dir.file("saved.txt");
    w->saveMailAs();
    const std::string saved = ReadFileBytes(dir.file("saved.txt"));
    EXPECT_NE(saved.find("\r\nSubject: News for [name]\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\r\n\r\nHi [name]\r\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("Ann"), std::string::npos);

    // Typing in a header editor during the preview is not the mail either.
    edit("SubEdit")->setText("changed during preview");
    // Field insertion is refused while previewing.
    find<QListWidget>("ListBox3")->setCurrentRow(0);
    w->insertField();
    EXPECT_EQ(body()->toPlainText().toStdString(), "Hi Ann");

    // A change of selection does not keep the preview from ending.
    selectRows(receipients(), {0, 1});
    press();
    EXPECT_FALSE(w->previewShown());
    EXPECT_EQ(shown().subject, "News for [name]");
    EXPECT_EQ(shown().body, std::vector<std::string>{"Hi [name]"});
}

TEST_F(MainPreviewTest, RebuildingTheListsEndsAShownPreviewAndKeepsTypedTextOtherwise) {
    // No preview: what was typed stays exactly as typed.
    body()->setPlainText("typed after the last build");
    edit("ToEdit")->setText("someone");
    w->refreshLists();
    EXPECT_EQ(body()->toPlainText().toStdString(), "typed after the last build");
    EXPECT_EQ(edit("ToEdit")->text().toStdString(), "someone");

    // With a preview: the template comes back, editable.
    selectRows(receipients(), {0});
    press();
    ASSERT_TRUE(w->previewShown());
    w->refreshLists();
    EXPECT_FALSE(w->previewShown());
    EXPECT_FALSE(button->isChecked());
    EXPECT_FALSE(body()->isReadOnly());
    EXPECT_EQ(body()->toPlainText().toStdString(), "typed after the last build");
    EXPECT_EQ(edit("ToEdit")->text().toStdString(), "someone");
}

TEST_F(MainPreviewTest, OpeningTheDatabaseEditorEndsThePreview) {
    selectRows(receipients(), {1});
    press();
    ASSERT_TRUE(w->previewShown());
    w->editDatabase();
    EXPECT_FALSE(w->previewShown());
    EXPECT_FALSE(button->isChecked());
    EXPECT_EQ(shown().body, templateBody);
    EXPECT_TRUE(receipients()->selectionModel()->selectedRows().isEmpty());
}

TEST_F(MainPreviewTest, NewMailDuringAPreviewStartsFromTheTemplate) {
    // Without a sender name New Mail keeps the From line: the template's, not Bob's.
    w->state().prefs.name.clear();
    edit("FrEdit")->setText("\"[name]\" <me@x>");
    selectRows(receipients(), {1});
    press();
    ASSERT_EQ(edit("FrEdit")->text().toStdString(), "\"Bob\" <me@x>");
    w->newMail();
    EXPECT_FALSE(w->previewShown());
    EXPECT_EQ(edit("FrEdit")->text().toStdString(), "\"[name]\" <me@x>");
    EXPECT_TRUE(body()->toPlainText().isEmpty());
    EXPECT_FALSE(body()->isReadOnly());
}

// Values that name each other's placeholders would grow the preview without end: it
// says so and the editors keep the template, open for typing.
TEST_F(MainWindowTest, PreviewOfValuesThatGrowWithoutEndSaysSoAndKeepsTheTemplate) {
    std::string fields = "name\r\nemail\r\n", person = "[f1][f1];ann@x";
    for (int level = 1; level <= 30; ++level) {
        fields += "f" + std::to_string(level) + "\r\n";
        person += ";[f" + std::to_string(level + 1) + "][f" + std::to_string(level + 1) + "]";
    }
    startWithAll(kMail, fields, person + "\r\n");
    w->show();
    QTest::mouseClick(find<QPushButton>("Button3"), Qt::LeftButton);
    selectRows(receipients(), {0});
    BoxCatcher boxes;
    auto* button = find<QToolButton>("SpeedButton1");
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(boxes.texts, (std::vector<std::string>{"The merged mail for [f1][f1] grows beyond "
                                                     "64 MB; its values refer to each other"}));
    EXPECT_FALSE(button->isChecked());
    EXPECT_FALSE(w->previewShown());
    EXPECT_FALSE(body()->isReadOnly());
    EXPECT_EQ(w->editorTexts().body,
              (std::vector<std::string>{"Dear [name],", "greetings to [town]."}));
}

} // namespace
} // namespace tandrel::test
