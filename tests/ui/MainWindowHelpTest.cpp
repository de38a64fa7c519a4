// SPDX-License-Identifier: GPL-3.0-or-later
// Help (contents, index, F1 by control, Escape), hints in the status bar, and the names
// and keyboard order that assistive technology reads.
#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScreen>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <functional>
#include <map>
#include <set>

#include "ui/HelpWindow.h"
#include "tests/ui/MainWindowFixture.h"

using tandrel::HelpWindow;

namespace tandrel::test {
namespace {

class MainHelpTest : public MainWindowTest {
protected:
    void SetUp() override {
        startWith("name\r\nemail\r\n", "Ann;ann@x\r\n");
        w->show();
        QApplication::setActiveWindow(w);
        QApplication::processEvents();
    }
    void key(QWidget* target, Qt::Key k) {
        target->setFocus();
        QTest::keyClick(target, k);
        QApplication::processEvents();
    }
};

TEST_F(MainHelpTest, F1OpensTheTopicOfTheFocusedControlOrItsNearestEnclosingOne) {
    struct Case {
        const char* control;
        const char* fragment;
    };
    const Case cases[] = {
        {"RichEdit1", "mail-text"},  {"FrEdit", "from"},     {"ToEdit", "to"},
        {"SubEdit", "subject"},      {"ListBox3", "fields"}, {"ListView2", "available"},
        {"ListView1", "receipients"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        auto* target = find<QWidget>(c.control);
        // A key sent to an inner part (the list's viewport) still finds its list's topic.
        QWidget* receiver = target;
        if (auto* view = qobject_cast<QAbstractScrollArea*>(target)) receiver = view->viewport();
        target->setFocus();
        QTest::keyClick(receiver, Qt::Key_F1);
        ASSERT_NE(w->helpWindow(), nullptr);
        EXPECT_TRUE(w->helpWindow()->isVisible());
        EXPECT_EQ(w->helpWindow()->currentUrl().fragment().toStdString(), c.fragment);
        EXPECT_EQ(w->helpWindow()->currentUrl().path().toStdString(), "/help/main-window.html");
        w->helpWindow()->close();
    }
    // A control without a help context of its own or around it: no help.
    auto* send = find<QPushButton>("SendBut");
    key(send, Qt::Key_F1);
    EXPECT_FALSE(w->helpWindow()->isVisible());
}

TEST_F(MainHelpTest, EscapeOpensTheContentsWhateverHasTheFocusAndIndexOpensTheIndex) {
    for (const char* name : {"FrEdit", "RichEdit1", "ListView1", "SendBut"}) {
        SCOPED_TRACE(name);
        key(find<QWidget>(name), Qt::Key_Escape);
        ASSERT_NE(w->helpWindow(), nullptr);
        EXPECT_TRUE(w->helpWindow()->isVisible());
        EXPECT_EQ(w->helpWindow()->currentUrl().toString().toStdString(), "qrc:/help/index.html");
        EXPECT_EQ(w->helpWindow()->tabs()->currentIndex(), 0);
        w->helpWindow()->close();
    }
    // Other keys go on to the control.
    edit("SubEdit")->clear();
    key(edit("SubEdit"), Qt::Key_A);
    EXPECT_EQ(edit("SubEdit")->text().toStdString(), "a");

    action("Help2")->trigger();
    EXPECT_TRUE(w->helpWindow()->isVisible());
    EXPECT_EQ(
        w->helpWindow()->tabs()->tabText(w->helpWindow()->tabs()->currentIndex()).toStdString(),
        "&Index");
    EXPECT_TRUE(w->helpWindow()->showKeyword(QStringLiteral("preview")));
    EXPECT_EQ(w->helpWindow()->currentTitle().toStdString(), "Previewing a mail");
    action("Help1")->trigger();
    EXPECT_EQ(w->helpWindow()->currentTitle().toStdString(), "Welcome to Tandrel");
    // Escape inside the help closes it again.
    QTest::keyClick(w->helpWindow()->browser(), Qt::Key_Escape);
    EXPECT_FALSE(w->helpWindow()->isVisible());
}

TEST_F(MainHelpTest, TheContentsMarkTheTopicOnShowAndTheHelpFirstComesUpOverTheWindow) {
    w->move(40, 30);
    QApplication::processEvents();
    action("Help1")->trigger();
    HelpWindow* help = w->helpWindow();
    ASSERT_NE(help, nullptr);
    const QRect area = w->screen()->availableGeometry();
    QRect expected(QPoint(0, 0), help->size());
    expected.moveCenter(w->frameGeometry().center());
    expected.moveRight(std::min(expected.right(), area.right()));
    expected.moveBottom(std::min(expected.bottom(), area.bottom()));
    expected.moveLeft(std::max(expected.left(), area.left()));
    expected.moveTop(std::max(expected.top(), area.top()));
    EXPECT_EQ(help->pos(), expected.topLeft());

    struct Case {
        std::function<void()> go;
        const char* entry;
    };
    const Case cases[] = {
        {[&] { help->showContext(3); }, "From, To and Subject"},
        {[&] { help->showContext(7); }, "Available and Receipients"},
        {[&] { help->showContext(1); }, "The mail text"},
        {[&] { help->showKeyword(QStringLiteral("Sending")); }, "Sending"},
        // A place that has no entry of its own: the chapter of its page.
        {[&] { help->showKeyword(QStringLiteral("Password")); }, "Sending"},
        {[&] { help->showKeyword(QStringLiteral("Status bar")); }, "The main window"},
        {[&] { help->showContents(); }, "Welcome to Tandrel"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        c.go();
        ASSERT_NE(help->currentContentsItem(), nullptr);
        EXPECT_EQ(help->currentContentsItem()->text(0).toStdString(), c.entry);
    }
    // Where the user put it, it stays.
    help->move(5, 5);
    help->close();
    action("Help2")->trigger();
    EXPECT_EQ(help->pos(), QPoint(5, 5));
}

TEST(HelpWindowContent, EveryLinkReachesAnExistingAnchorAndEveryPageIsInTheContents) {
    HelpWindow help;
    // Every place the help can be sent to: contexts, index, contents and the links of
    // every page, each resolved as the browser resolves it.
    std::vector<std::pair<QUrl, QString>> targets; // the place and where it was found
    for (int c = 1; c <= 7; ++c)
        targets.emplace_back(HelpWindow::contextUrl(c), QStringLiteral("F1 context %1").arg(c));
    EXPECT_TRUE(HelpWindow::contextUrl(0).isEmpty());
    EXPECT_TRUE(HelpWindow::contextUrl(8).isEmpty());
    for (const QString& k : help.keywords()) {
        ASSERT_TRUE(help.showKeyword(k));
        targets.emplace_back(help.currentUrl(), QStringLiteral("index: ") + k);
    }
    std::set<QString> pagesInContents;
    auto* contents = qobject_cast<QTreeWidget*>(help.tabs()->widget(0));
    ASSERT_NE(contents, nullptr);
    for (QTreeWidgetItemIterator it(contents); *it; ++it) {
        contents->setCurrentItem(*it);
        emit contents->itemActivated(*it, 0);
        targets.emplace_back(help.currentUrl(), QStringLiteral("contents: ") + (*it)->text(0));
        pagesInContents.insert(help.currentUrl().path());
    }
    const QStringList pages = QDir(QStringLiteral(":/help")).entryList({QStringLiteral("*.html")});
    ASSERT_GT(pages.size(), 5);
    std::map<QString, QString> html; // path -> text
    const QRegularExpression href(QStringLiteral("<a href=\"([^\"]+)\""));
    for (const QString& page : pages) {
        QFile f(QStringLiteral(":/help/") + page);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QString path = QStringLiteral("/help/") + page;
        html[path] = QString::fromUtf8(f.readAll());
        EXPECT_TRUE(pagesInContents.count(path)) << page.toStdString() << " is not in the contents";
        for (auto m = href.globalMatch(html[path]); m.hasNext();)
            targets.emplace_back(
                QUrl(QStringLiteral("qrc:") + path).resolved(QUrl(m.next().captured(1))),
                QStringLiteral("link on ") + page);
    }
    for (const auto& [url, where] : targets) {
        SCOPED_TRACE(where.toStdString() + " -> " + url.toString().toStdString());
        ASSERT_TRUE(html.count(url.path()));
        if (url.hasFragment()) {
            EXPECT_TRUE(
                html[url.path()].contains(QStringLiteral("name=\"%1\"").arg(url.fragment())));
        }
    }
}

TEST_F(MainHelpTest, StatusPanelShowsTheStatusPartOfHints) {
    auto* list = find<QWidget>("ListBox3");
    EXPECT_TRUE(list->toolTip().isEmpty()); // "|..." hints have no tooltip
    struct Case {
        QWidget* target;
        QString tip;
        const char* expected;
    };
    const Case cases[] = {
        {list, list->statusTip(), "List of available fields - double click a field to insert it"},
        {find<QWidget>("SpeedButton2"), find<QWidget>("SpeedButton2")->statusTip(),
         "Remove the current mail"},
        {body(), QString(), "Press F1 for help"},
    };
    for (const Case& c : cases) {
        QStatusTipEvent tip(c.tip);
        QApplication::sendEvent(c.target, &tip);
        EXPECT_EQ(status(0), c.expected);
    }
    // Every button showing only its image says what it does when pointed at, and no
    // hint shows its "tip|status" bar.
    for (auto* b : w->findChildren<QAbstractButton*>())
        EXPECT_TRUE(!b->isVisibleTo(w) || !b->text().isEmpty() || !b->toolTip().isEmpty())
            << b->objectName().toStdString();
    for (auto* o : w->findChildren<QObject*>()) {
        QString tips;
        if (auto* widget = qobject_cast<QWidget*>(o))
            tips = widget->toolTip() + widget->statusTip();
        else if (auto* act = qobject_cast<QAction*>(o))
            tips = act->toolTip() + act->statusTip();
        EXPECT_FALSE(tips.contains('|')) << o->objectName().toStdString();
    }
    // The panels are read by their current text.
    w->updateStatusBar();
    QAccessibleInterface* panel =
        QAccessible::queryAccessibleInterface(find<QWidget>("StatusPanel1"));
    EXPECT_EQ(panel->text(QAccessible::Name).toStdString(), "0 of 1 receipients selected");
    w->displayHint(QStringLiteral("tip|status text"));
    EXPECT_EQ(status(0), "status text");
    w->displayHint(QStringLiteral("both"));
    EXPECT_EQ(status(0), "both");
}

// Each control is named by what stands beside it or on it, not by a neighbour's caption.
TEST_F(MainHelpTest, ControlsAreNamedByTheirOwnCaptions) {
    const std::pair<const char*, const char*> names[] = {
        {"SpeedButton2", "New Mail"}, {"SpeedButton10", "Database Editor"},
        {"AttachBut", "Attachments"}, {"SpeedButton1", "Preview mail"},
        {"FrEdit", "From:"},          {"ToEdit", "To:"},
        {"SubEdit", "Subject:"},      {"ListView2", "Available"},
        {"ListView1", "Receipients"}, {"RichEdit1", "Mail text"},
        {"SendBut", "Send"},          {"Button3", "->>"}};
    for (const auto& [name, expected] : names) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(find<QWidget>(name));
        EXPECT_EQ(iface->text(QAccessible::Name).toStdString(), expected) << name;
    }
}

TEST_F(MainHelpTest, TabOrderFollowsTheReadingOrder) {
    const char* order[] = {"ListBox3",  "SearchAvailable", "ListView2",   "Button2",
                           "Button3",   "Button4",         "Button1",     "SearchReceipients",
                           "ListView1", "FrEdit",          "ToEdit",      "SubEdit",
                           "CcEdit",    "BccEdit",         "ReplyToEdit", "AttachBut",
                           "SendBut",   "SpeedButton1",    "RichEdit1",   "HtmlPreview"};
    QWidget* cur = find<QWidget>(order[0]);
    for (std::size_t i = 1; i < std::size(order); ++i) {
        QWidget* next = cur->nextInFocusChain();
        while (next && next->focusPolicy() == Qt::NoFocus)
            next = next->nextInFocusChain();
        ASSERT_NE(next, nullptr);
        EXPECT_EQ(next->objectName().toStdString(), order[i]);
        cur = find<QWidget>(order[i]);
    }
}

} // namespace
} // namespace tandrel::test
