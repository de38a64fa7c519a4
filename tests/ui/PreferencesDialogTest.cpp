// The preferences dialog: filling, the port check, the delimiter choices and closing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include "AttachmentsWindowTestHooks.h"
#include "PreferencesDialog.h"

void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

class PreferencesDialogTest : public ::testing::Test {
protected:
    PreferencesDialogTest() {
        main.st.prefs.smtp = "mail.example.org";
        main.st.prefs.port = "25";
        main.st.prefs.name = "Ann Example";
        main.st.prefs.fromaddy = "ann@example.org";
        setDelimiter(';');
    }
    ~PreferencesDialogTest() override { form.hide(); }

    void setDelimiter(char c) {
        main.st.prefs.delimchar = c;
        main.st.prefs.fielddelim = static_cast<unsigned char>(c);
    }
    QLineEdit* edit(const char* name) { return form.findChild<QLineEdit*>(name); }
    QRadioButton* radio(int n) {
        return form.findChild<QRadioButton*>(n == 1 ? "RadioButton1" : "RadioButton2");
    }
    QComboBox* combo() { return form.findChild<QComboBox*>("ComboBox1"); }
    QPushButton* button(const char* name) { return form.findChild<QPushButton*>(name); }
    void open() {
        form.show();
        ASSERT_TRUE(form.isVisible());
        form.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    }
    void typeInto(QLineEdit* e, const QString& text) {
        e->setFocus();
        QTest::keyClicks(e, text);
    }

    tandrel::test::AttachTestHooks main;
    tandrel::Forms forms;
    PreferencesDialog form{main.st, main, forms};
};

TEST_F(PreferencesDialogTest, ShowingFillsTheControlsFromThePreferences) {
    open();
    EXPECT_EQ(edit("smtpEdit")->text(), "mail.example.org");
    EXPECT_EQ(edit("portEdit")->text(), "25");
    EXPECT_EQ(edit("nameEdit")->text(), "Ann Example");
    EXPECT_EQ(edit("emailEdit")->text(), "ann@example.org");
    form.hide();

    struct Case {
        char delim;
        bool firstOption;
        int item;
        const char* typed;
    };
    const Case cases[] = {
        {';', true, 4, ""},   {'\t', true, 0, ""}, {' ', true, 1, ""},   {',', true, 2, ""},
        {'.', true, 3, ""},   {':', true, 5, ""},  {'|', false, 5, "|"}, // list keeps its item
        {'x', false, 5, "x"},
    };
    for (const Case& c : cases) {
        setDelimiter(c.delim);
        open();
        EXPECT_EQ(radio(1)->isChecked(), c.firstOption) << c.delim;
        EXPECT_EQ(radio(2)->isChecked(), !c.firstOption) << c.delim;
        EXPECT_EQ(combo()->currentIndex(), c.item) << c.delim;
        EXPECT_EQ(combo()->isEnabled(), c.firstOption) << c.delim;
        EXPECT_EQ(edit("fieldDelimEd")->isEnabled(), !c.firstOption) << c.delim;
        EXPECT_EQ(edit("fieldDelimEd")->text(), c.typed) << c.delim;
        form.hide();
    }
}

TEST_F(PreferencesDialogTest, DelimiterRoundTrip) {
    struct Case {
        const char* name;
        std::function<void()> choose;
        char stored;
        bool reopensWithFirstOption;
    };
    const Case cases[] = {
        {"list ;", [&] { combo()->setCurrentIndex(4); }, ';', true},
        {"list tab", [&] { combo()->setCurrentIndex(0); }, '\t', true},
        {"typed |",
         [&] {
             radio(2)->click();
             typeInto(edit("fieldDelimEd"), "|");
         },
         '|', false},
        // A typed character that the list offers reopens as the list item.
        {"typed ;",
         [&] {
             radio(2)->click();
             typeInto(edit("fieldDelimEd"), ";");
         },
         ';', true},
    };
    for (const Case& c : cases) {
        setDelimiter(':');
        open();
        c.choose();
        button("OkBut")->click();
        EXPECT_EQ(form.result(), QDialog::Accepted) << c.name;
        EXPECT_EQ(main.st.prefs.delimchar, c.stored) << c.name;
        EXPECT_EQ(main.st.prefs.fielddelim, static_cast<unsigned char>(c.stored)) << c.name;

        open();
        EXPECT_EQ(radio(1)->isChecked(), c.reopensWithFirstOption) << c.name;
        if (c.reopensWithFirstOption)
            EXPECT_EQ(combo()->currentText(),
                      c.stored == '\t' ? "<TAB>" : QString(QChar(c.stored)));
        else
            EXPECT_EQ(edit("fieldDelimEd")->text(), QString(QChar(c.stored)));
        form.hide();
    }
}

TEST_F(PreferencesDialogTest, SecondOptionWithAnEmptyEditKeepsTheDelimiter) {
    main.st.prefs.fielddelim = 300; // from a file: low byte ","
    main.st.prefs.delimchar = ',';
    open();
    radio(2)->click();
    EXPECT_EQ(edit("fieldDelimEd")->text(), "");
    button("OkBut")->click();
    EXPECT_EQ(main.st.prefs.delimchar, ',');
    EXPECT_EQ(main.st.prefs.fielddelim, 44);
}

TEST_F(PreferencesDialogTest, SwitchingToTheListEmptiesTheTypedCharacter) {
    open();
    radio(2)->click();
    EXPECT_FALSE(combo()->isEnabled());
    EXPECT_EQ(combo()->currentIndex(), 4);
    typeInto(edit("fieldDelimEd"), "#");
    EXPECT_EQ(edit("fieldDelimEd")->text(), "#");
    radio(1)->click();
    EXPECT_EQ(edit("fieldDelimEd")->text(), "");
    EXPECT_FALSE(edit("fieldDelimEd")->isEnabled());
    EXPECT_TRUE(combo()->isEnabled());
}

TEST_F(PreferencesDialogTest, OnlySingleByteCharactersCanBeTyped) {
    open();
    radio(2)->click();
    QLineEdit* e = edit("fieldDelimEd");
    e->setFocus();
    QKeyEvent accented(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier,
                       QString::fromUtf8("\xc3\xa9")); // two bytes in UTF-8
    QApplication::sendEvent(e, &accented);
    EXPECT_EQ(edit("fieldDelimEd")->text(), "");
    typeInto(edit("fieldDelimEd"), "ab"); // one character at most
    EXPECT_EQ(edit("fieldDelimEd")->text(), "a");
}

TEST_F(PreferencesDialogTest, AByteTheEditCannotShowSurvivesAnUnchangedOk) {
    setDelimiter('\xa7');
    open();
    EXPECT_TRUE(radio(2)->isChecked());
    button("OkBut")->click();
    EXPECT_EQ(main.st.prefs.delimchar, '\xa7');
    EXPECT_EQ(main.st.prefs.fielddelim, 0xa7);
}

TEST_F(PreferencesDialogTest, PortCheckWhileTyping) {
    struct Case {
        const char* typed; // after clearing the field
        const char* shown;
    };
    const Case cases[] = {
        {"2a", "25"},       // a letter: back to the stored port at once
        {"65535", "65535"}, // every TCP port fits
        {"123456", "12345"}, {"0", "0"}, {"-", "25"}, {"", ""},
    };
    for (const Case& c : cases) {
        open();
        QLineEdit* port = edit("portEdit");
        port->setFocus();
        port->selectAll();
        QTest::keyClick(port, Qt::Key_Backspace);
        EXPECT_EQ(port->text(), "") << c.typed;
        QTest::keyClicks(port, c.typed);
        EXPECT_EQ(port->text(), c.shown) << c.typed;
        form.hide();
    }

    // Text set by the program is not checked, nor cut to the typing limit: an OK that
    // leaves the port alone stores it unchanged.
    for (const char* stored : {"smtp", "1234567"}) {
        main.st.prefs.port = stored;
        open();
        EXPECT_EQ(edit("portEdit")->text(), stored);
        button("OkBut")->click();
        EXPECT_EQ(main.st.prefs.port, stored);
    }
}

TEST_F(PreferencesDialogTest, OkStoresTheTextsAsTyped) {
    open();
    QLineEdit* port = edit("portEdit");
    port->setFocus();
    port->selectAll();
    QTest::keyClick(port, Qt::Key_Delete);
    edit("smtpEdit")->setText(" relay.example.net ");
    edit("nameEdit")->setText("");
    edit("emailEdit")->setText("bob@example.net");
    button("OkBut")->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(main.st.prefs.smtp, " relay.example.net ");
    EXPECT_EQ(main.st.prefs.port, "");
    EXPECT_EQ(main.st.prefs.name, "");
    EXPECT_EQ(main.st.prefs.fromaddy, "bob@example.net");
}

TEST_F(PreferencesDialogTest, EnterAndCancelCloseWithoutTakingTheChanges) {
    const tandrel::GlobalPrefs before = main.st.prefs;
    for (const char* name : {"smtpEdit", "portEdit", "nameEdit", "emailEdit", "fieldDelimEd"}) {
        open();
        // Visiting "Ok" first must not leave it as the button that Enter presses.
        button("OkBut")->setFocus();
        radio(2)->click();
        QLineEdit* e = edit(name);
        e->setFocus();
        e->setText("9");
        QTest::keyClick(e, Qt::Key_Return);
        EXPECT_FALSE(form.isVisible()) << name;
        EXPECT_EQ(form.result(), QDialog::Rejected) << name;
    }
    open();
    edit("smtpEdit")->setText("other");
    button("CancBut")->click();
    EXPECT_EQ(form.result(), QDialog::Rejected);

    EXPECT_EQ(main.st.prefs.smtp, before.smtp);
    EXPECT_EQ(main.st.prefs.port, before.port);
    EXPECT_EQ(main.st.prefs.delimchar, before.delimchar);
    EXPECT_EQ(main.st.prefs.fielddelim, before.fielddelim);
}

TEST_F(PreferencesDialogTest, PagesAndTheLastShownPage) {
    auto* pages = form.findChild<QTabWidget*>("PageControl1");
    ASSERT_EQ(pages->count(), 2);
    EXPECT_EQ(pages->tabText(0), "Internet Settings");
    EXPECT_EQ(pages->tabText(1), "Data Format");
    open();
    EXPECT_EQ(pages->currentIndex(), 0);
    pages->setCurrentIndex(1);
    form.hide();
    open();
    EXPECT_EQ(pages->currentIndex(), 1);
    EXPECT_TRUE(button("CancBut")->isDefault());
    EXPECT_FALSE(form.windowFlags() & Qt::WindowCloseButtonHint);
}

} // namespace
