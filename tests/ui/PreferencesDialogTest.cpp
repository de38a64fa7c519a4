// SPDX-License-Identifier: GPL-3.0-or-later
// The preferences dialog: filling, the port check, the delimiter choices and closing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "tests/ui/AttachmentsWindowTestHooks.h"
#include "tests/support/FakeKeyring.h"
#include "oauth/OAuthSettings.h"
#include "ui/settings/PreferencesDialog.h"

using tandrel::PreferencesDialog;

void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

class PreferencesDialogTest : public ::testing::Test {
protected:
    PreferencesDialogTest() {
        QObject::connect(&form, &PreferencesDialog::explained, [this](const QString& reason) {
            main.explained.push_back(reason.toStdString());
        });
        main.st.prefs.smtp = "mail.example.org";
        main.st.prefs.port = "25";
        main.st.prefs.name = "Ann Example";
        main.st.prefs.fromAddress = "ann@example.org";
        setDelimiter(';');
    }
    ~PreferencesDialogTest() override { form.hide(); }

    void setDelimiter(char c) {
        main.st.prefs.delimiterChar = c;
        main.st.prefs.fieldDelimiter = static_cast<unsigned char>(c);
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
    PreferencesDialog form{main.st};
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
        EXPECT_EQ(main.st.prefs.delimiterChar, c.stored) << c.name;
        EXPECT_EQ(main.st.prefs.fieldDelimiter, static_cast<unsigned char>(c.stored)) << c.name;

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
    main.st.prefs.fieldDelimiter = 300; // from a file: low byte ","
    main.st.prefs.delimiterChar = ',';
    open();
    radio(2)->click();
    EXPECT_EQ(edit("fieldDelimEd")->text(), "");
    button("OkBut")->click();
    EXPECT_EQ(main.st.prefs.delimiterChar, ',');
    EXPECT_EQ(main.st.prefs.fieldDelimiter, 44);
    // The user is told why the typed-nothing choice changed nothing.
    ASSERT_EQ(main.explained.size(), 1u);
    EXPECT_NE(main.explained[0].find("delimiter stays"), std::string::npos);
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
    EXPECT_EQ(main.st.prefs.delimiterChar, '\xa7');
    EXPECT_EQ(main.st.prefs.fieldDelimiter, 0xa7);
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
    EXPECT_EQ(main.st.prefs.fromAddress, "bob@example.net");
}

TEST_F(PreferencesDialogTest, EnterTakesTheChangesEscapeAndCancelDiscardThem) {
    for (const char* name : {"smtpEdit", "portEdit", "nameEdit", "emailEdit"}) {
        open();
        QLineEdit* e = edit(name);
        e->setFocus();
        e->selectAll();
        QTest::keyClicks(e, "2526");
        QTest::keyClick(e, Qt::Key_Return);
        EXPECT_FALSE(form.isVisible()) << name;
        EXPECT_EQ(form.result(), QDialog::Accepted) << name;
    }
    EXPECT_EQ(main.st.prefs.smtp, "2526");
    EXPECT_EQ(main.st.prefs.port, "2526");
    EXPECT_EQ(main.st.prefs.fromAddress, "2526");

    const tandrel::Preferences before = main.st.prefs;
    open();
    edit("portEdit")->setText("9");
    QTest::keyClick(edit("portEdit"), Qt::Key_Escape);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Rejected);
    open();
    edit("smtpEdit")->setText("other");
    radio(2)->click();
    edit("fieldDelimEd")->setText("9");
    button("CancBut")->click();
    EXPECT_EQ(form.result(), QDialog::Rejected);

    EXPECT_EQ(main.st.prefs.smtp, before.smtp);
    EXPECT_EQ(main.st.prefs.port, before.port);
    EXPECT_EQ(main.st.prefs.delimiterChar, before.delimiterChar);
    EXPECT_EQ(main.st.prefs.fieldDelimiter, before.fieldDelimiter);
}

// Encryption, login and limits: the port offered with each encryption, what OK stores,
// and that the password goes to memory and the keyring, never into the preferences.
TEST_F(PreferencesDialogTest, SecurityLoginAndLimits) {
    std::map<std::string, std::string> stored;
    main.st.keyring = std::make_unique<tandrel::test::FakeKeyring>(stored);
    auto* security = form.findChild<QComboBox*>("securityList");
    auto* remember = form.findChild<QCheckBox*>("rememberCheck");
    struct Step {
        const char* shown; // the encryption of the preferences
        const char* port;
        int chosen;
        const char* offered;
    };
    const Step steps[] = {
        {"none", "25", 2, "465"},     {"tls", "465", 1, "587"},
        {"starttls", "587", 0, "25"}, {"none", "2525", 2, "2525"}, // a port of the user's own stays
        {"none", "465", 1, "465"}, // not the usual port of the encryption shown
    };
    for (const Step& s : steps) {
        main.st.prefs.security = s.shown;
        open();
        edit("portEdit")->setText(s.port);
        security->setCurrentIndex(s.chosen);
        emit security->activated(s.chosen);
        EXPECT_EQ(edit("portEdit")->text(), s.offered) << s.shown << " " << s.chosen;
        form.hide();
    }
    main.st.prefs.security = "none";

    open();
    security->setCurrentIndex(1);
    edit("userEdit")->setText("ann");
    EXPECT_EQ(edit("passwordEdit")->echoMode(), QLineEdit::Password);
    typeInto(edit("passwordEdit"), "s3cret");
    remember->click();
    auto* timeout = form.findChild<QSpinBox*>("timeoutEdit");
    timeout->setValue(30);
    form.findChild<QSpinBox*>("perConnectionEdit")->setValue(2);
    form.findChild<QSpinBox*>("rateEdit")->setValue(60);
    form.findChild<QCheckBox*>("ehloCheck")->click();
    form.findChild<QSpinBox*>("connectionsEdit")->setValue(4);
    QTest::keyClick(edit("smtpEdit"), Qt::Key_Return);
    ASSERT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(main.st.prefs.security, "starttls");
    EXPECT_EQ(main.st.prefs.user, "ann");
    EXPECT_EQ(main.st.prefs.timeoutSeconds, 30);
    EXPECT_EQ(main.st.prefs.perConnection, 2);
    EXPECT_EQ(main.st.prefs.ratePerMinute, 60);
    EXPECT_EQ(main.st.prefs.ehlo, "yes");
    EXPECT_EQ(main.st.prefs.connections, 4);
    EXPECT_EQ(main.st.password, "s3cret");
    EXPECT_EQ(stored, (std::map<std::string, std::string>{{"ann@mail.example.org", "s3cret"}}));

    // Shown again for the same login; unticking "Remember password" takes it out of the
    // keyring but keeps it for this session.
    open();
    EXPECT_EQ(edit("passwordEdit")->text(), "s3cret");
    EXPECT_EQ(timeout->text(), "30");
    remember->setChecked(true);
    remember->click();
    button("OkBut")->click();
    EXPECT_TRUE(stored.empty());
    EXPECT_EQ(main.st.password, "s3cret");

    // A login without encryption is caught at OK, with STARTTLS offered.
    open();
    security->setCurrentIndex(0);
    emit security->activated(0);
    bool asked = false;
    QTimer::singleShot(0, [&asked] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        asked = true;
        box->findChild<QPushButton*>("UseStartTlsBut")->click();
    });
    button("OkBut")->click();
    EXPECT_TRUE(asked);
    EXPECT_EQ(main.st.prefs.security, "starttls");
    EXPECT_EQ(main.st.prefs.port, "587");

    open();
    timeout->setValue(0);
    EXPECT_EQ(timeout->text(), "Standard");
    form.hide();

    // The token login: the provider's fields take the password's place, OK stores them,
    // and "Remember password" decides whether the sign-in's refresh token is kept.
    open();
    auto* login = form.findChild<QComboBox*>("loginList");
    auto* provider = form.findChild<QComboBox*>("providerList");
    EXPECT_FALSE(provider->isEnabled());
    login->setCurrentIndex(login->findText("OAuth 2.0"));
    EXPECT_FALSE(edit("passwordEdit")->isEnabled());
    EXPECT_TRUE(provider->isEnabled() && edit("clientIdEdit")->isEnabled());
    provider->setCurrentIndex(provider->findText("Google"));
    edit("clientIdEdit")->setText(" 1234-abc.apps.example ");
    edit("tenantEdit")->setText("contoso.example");
    remember->setChecked(false);
    remember->click();
    button("OkBut")->click();
    EXPECT_EQ(main.st.prefs.auth, "oauth2");
    EXPECT_EQ(main.st.prefs.oauthProvider, "google");
    EXPECT_EQ(main.st.prefs.oauthClientId, "1234-abc.apps.example");
    EXPECT_EQ(main.st.prefs.oauthTenant, "contoso.example");
    EXPECT_TRUE(main.st.rememberTokenLogin);
    EXPECT_EQ(main.st.password, "s3cret"); // the password login's, untouched

    stored[tandrel::OAuthKeyringAccount(main.st.prefs)] = "a refresh token";
    open();
    EXPECT_EQ(login->currentText(), "OAuth 2.0");
    EXPECT_EQ(edit("clientIdEdit")->text(), "1234-abc.apps.example");
    remember->setChecked(true);
    remember->click();
    button("OkBut")->click();
    EXPECT_FALSE(main.st.rememberTokenLogin);
    EXPECT_TRUE(stored.empty());
}

TEST_F(PreferencesDialogTest, PagesAndTheLastShownPage) {
    auto* pages = form.findChild<QTabWidget*>("PageControl1");
    ASSERT_EQ(pages->count(), 3);
    EXPECT_EQ(pages->tabText(0), "Internet Settings");
    EXPECT_EQ(pages->tabText(1), "Data Format");
    EXPECT_EQ(pages->tabText(2), "Security");
    open();
    EXPECT_EQ(pages->currentIndex(), 0);
    pages->setCurrentIndex(1);
    form.hide();
    open();
    EXPECT_EQ(pages->currentIndex(), 1);
    EXPECT_TRUE(button("OkBut")->isDefault());
    EXPECT_FALSE(form.windowFlags() & Qt::WindowCloseButtonHint);
}

} // namespace
