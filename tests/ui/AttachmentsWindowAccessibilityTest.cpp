// SPDX-License-Identifier: GPL-3.0-or-later
// Screen readers and keyboard users: Tab walks the controls of the attachments, file
// test, preferences and about windows in reading order, each by its own name.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QTabWidget>
#include <QTest>

#include "ui/main/AboutBox.h"
#include "ui/attachments/AttachmentsWindow.h"
#include "tests/ui/AttachmentsWindowTestHooks.h"
#include "ui/attachments/FileTestWindow.h"
#include "ui/settings/PreferencesDialog.h"

using tandrel::AboutBox;
using tandrel::AttachmentsWindow;
using tandrel::FileTestWindow;
using tandrel::PreferencesDialog;

void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

QString AccessibleName(QWidget* w) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(QAccessible::Name) : QString();
}

// A widget that hands its focus to another (a tab widget to its tab bar) is reached
// through that one.
bool IsControl(QWidget* w, QWidget* window) {
    return !w->focusProxy() && w->isVisibleTo(window) && w->isEnabled() &&
           (w->focusPolicy() & Qt::TabFocus);
}

// The controls that Tab reaches, in focus chain order, by object name; and the
// accessible name of each.
std::vector<std::pair<QString, QString>> TabWalk(QWidget* window) {
    std::vector<std::pair<QString, QString>> walk;
    for (QWidget* w = window->nextInFocusChain(); w != window; w = w->nextInFocusChain())
        if (IsControl(w, window)) walk.emplace_back(w->objectName(), AccessibleName(w));
    return walk;
}

std::vector<QString> Names(const std::vector<std::pair<QString, QString>>& walk) {
    std::vector<QString> names;
    for (const auto& [objectName, name] : walk)
        names.push_back(objectName);
    return names;
}

class AccessibilityTest : public ::testing::Test {
protected:
    tandrel::test::AttachTestHooks main;
};

TEST_F(AccessibilityTest, AttachmentsWindow) {
    AttachmentsWindow form(main.st);
    form.show();
    const auto walk = TabWalk(&form);
    EXPECT_EQ(Names(walk), (std::vector<QString>{"ListView1", "Edit1", "BrowseBut", "AddButt",
                                                 "Button1", "TestBut", "DoneBut", "HelpBut"}));
    std::vector<QString> spoken;
    for (const auto& [objectName, name] : walk)
        spoken.push_back(name);
    EXPECT_EQ(spoken, (std::vector<QString>{"Attachments", "Attachment path", "Browse...", "Add",
                                            "Remove", "Test Files...", "Done", "Help"}));
}

TEST_F(AccessibilityTest, FileTestWindow) {
    FileTestWindow form(main.st);
    form.show();
    const auto walk = TabWalk(&form);
    ASSERT_EQ(walk.size(), 3u);
    EXPECT_EQ(walk[0], std::make_pair(QString("ListBox1"), QString("File test result")));
    EXPECT_EQ(walk[1], std::make_pair(QString("OKBut"), QString("OK")));
    EXPECT_EQ(walk[2], std::make_pair(QString("HelpBut"), QString("Help")));
}

TEST_F(AccessibilityTest, PreferencesBothPages) {
    PreferencesDialog form(main.st);
    auto* pages = form.findChild<QTabWidget*>("PageControl1");
    form.show();
    pages->setCurrentIndex(0);
    const auto first = TabWalk(&form);
    EXPECT_EQ(Names(first), (std::vector<QString>{
                                "PageControl1Tabs", "smtpEdit", "portEdit", "nameEdit", "emailEdit",
                                "timeoutEdit", "perConnectionEdit", "rateEdit", "connectionsEdit",
                                "ehloCheck", "OkBut", "CancBut", "HelpBut"}));
    std::vector<QString> spoken;
    for (const auto& [objectName, name] : first)
        spoken.push_back(name);
    EXPECT_EQ(spoken, (std::vector<QString>{
                          "Internet Settings", "SMTP Server:", "SMTP Port:", "Name:", "EMail:",
                          "Time-out (s):", "Messages per connection:", "Messages per minute:",
                          "Connections:", "Use ESMTP extensions (EHLO, pipelining)", "Ok", "Cancel",
                          "Help"}));
    pages->setCurrentIndex(2);
    EXPECT_EQ(
        Names(TabWalk(&form)),
        (std::vector<QString>{"PageControl1Tabs", "securityList", "userEdit", "loginList",
                              "passwordEdit", "rememberCheck", "OkBut", "CancBut", "HelpBut"}));

    pages->setCurrentIndex(1);
    main.st.prefs.delimiterChar = '|'; // both options' inputs: the edit enabled...
    form.hide();
    form.show();
    EXPECT_EQ(Names(TabWalk(&form)),
              (std::vector<QString>{"PageControl1Tabs", "RadioButton1", "RadioButton2",
                                    "fieldDelimEd", "OkBut", "CancBut", "HelpBut"}));
    form.findChild<QWidget*>("RadioButton1")->setFocus();
    QTest::keyClick(form.findChild<QWidget*>("RadioButton1"), Qt::Key_Space);
    // ...and the list enabled
    EXPECT_EQ(Names(TabWalk(&form)),
              (std::vector<QString>{"PageControl1Tabs", "RadioButton1", "ComboBox1", "RadioButton2",
                                    "OkBut", "CancBut", "HelpBut"}));
}

TEST_F(AccessibilityTest, AboutBox) {
    AboutBox form(main.st.programDir);
    form.setTexts("Tandrel 1.1", AboutBox::creditText());
    form.show();
    EXPECT_EQ(AccessibleName(form.findChild<QWidget*>("Label1")), "Tandrel 1.1");
    EXPECT_FALSE(AccessibleName(form.findChild<QWidget*>("Label2")).isEmpty());
    EXPECT_EQ(AccessibleName(form.findChild<QWidget*>("Image1")), "Tandrel icon");
    const auto walk = TabWalk(&form);
    ASSERT_EQ(walk.size(), 2u);
    EXPECT_EQ(walk[0].second, "OK");
    EXPECT_EQ(walk[1].second, "Help");
}

} // namespace
