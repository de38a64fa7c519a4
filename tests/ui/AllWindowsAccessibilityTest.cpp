// SPDX-License-Identifier: GPL-3.0-or-later
// Every window of the program, as the program creates them, on every page: no control
// that a keyboard or screen-reader user can reach is left without a name, every control
// shows whole at the desktop's font, and every dialog opens its help. The main window
// keeps room for the mail under all its header lines, at any width.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidgetItem>

#include "ui/main/AboutBox.h"
#include "ui/database/AddPersonDialog.h"
#include "ui/main/AddressColumnDialog.h"
#include "ui/main/AppWindows.h"
#include "ui/attachments/AttachmentsWindow.h"
#include "tests/ui/ControlsFit.h"
#include "ui/database/DatabaseEditor.h"
#include "ui/mailing/DeliveryWindow.h"
#include "ui/database/FieldsDialog.h"
#include "ui/attachments/FileTestWindow.h"
#include "ui/HelpWindow.h"
#include "ui/main/MainWindow.h"
#include "ui/mailing/PasswordPrompt.h"
#include "ui/settings/PreferencesDialog.h"
#include "ui/mailing/PreparationWindow.h"
#include "ui/mailing/SendCheckDialog.h"
#include "tests/support/TestSupport.h"

using tandrel::AboutBox;
using tandrel::AddPersonDialog;
using tandrel::AddressColumnDialog;
using tandrel::AttachmentsWindow;
using tandrel::DatabaseEditor;
using tandrel::MainWindow;
using tandrel::FieldsDialog;
using tandrel::FileTestWindow;
using tandrel::HelpWindow;
using tandrel::PreferencesDialog;

namespace {

// The program's windows as it makes them; the two questions of a Send that live only
// while they are asked are made the same way here, as windows of the main window.
struct ProgramWindows {
    tandrel::test::TempDir dir;
    tandrel::AppWindows app{dir.path()};
    MainWindow& main = app.main();

    std::vector<std::pair<const char*, QWidget*>> all() {
        main.state().newDatabase(); // so the editor has something to show
        return {
            {"main window", &main},
            {"database editor", main.databaseEditor()},
            {"add dialog", main.databaseEditor()->addPersonDialog()},
            {"fields dialog", main.databaseEditor()->fieldsDialog()},
            {"delivery window", app.deliveryWindow()},
            {"preferences", main.preferencesDialog()},
            {"about box", main.aboutBox()},
            {"attachments", main.attachmentsWindow()},
            {"file test", main.attachmentsWindow()->fileTestWindow()},
            {"preparation window", app.preparationWindow()},
            {"check before sending",
             new tandrel::SendCheckDialog({{tandrel::CheckSeverity::Warning, "ann@x is listed twice"}},
                                 &main)},
            {"password prompt", new tandrel::PasswordPrompt("ann", "relay.example", &main)},
            {"column of the addresses",
             new AddressColumnDialog(QStringLiteral("club.csv"),
                                     {{"Name", "Ann Lee"}, {"Contact", "ann@x.test"}}, &main)},
        };
    }
};

// Controls are what Tab reaches, and every button (an image-only one may not take the
// focus, but a screen reader still lists it).
std::vector<QWidget*> UnnamedControls(QWidget* window, int& checked) {
    std::vector<QWidget*> unnamed;
    for (QWidget* c : window->findChildren<QWidget*>()) {
        // A disabled control is still read out.
        if (!c->isVisibleTo(window) || c->window() != window) continue;
        if (c->focusProxy() || qobject_cast<QMenuBar*>(c)) continue;
        const bool control = (c->focusPolicy() & Qt::TabFocus) || qobject_cast<QAbstractButton*>(c);
        if (!control) continue;
        ++checked;
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(c);
        if (!iface || iface->text(QAccessible::Name).trimmed().isEmpty()) unnamed.push_back(c);
    }
    return unnamed;
}

TEST(AllWindows, EveryReachableControlHasAnAccessibleName) {
    ProgramWindows program;
    QWidget* preparation = program.app.preparationWindow();
    for (const auto& [what, window] : program.all()) {
        ASSERT_NE(window, nullptr) << what;
        // Shown without a modal loop; the preparation window's timer must not run a mailing.
        window->setAttribute(Qt::WA_DontShowOnScreen);
        window->show();
        QApplication::processEvents();
        int checked = 0;
        tandrel::test::ForEachPage(window, [&] {
            for (QWidget* c : UnnamedControls(window, checked)) {
                ADD_FAILURE() << what << ": " << c->metaObject()->className() << " '"
                              << c->objectName().toStdString() << "' has no accessible name";
            }
        });
        if (window != preparation) {
            EXPECT_GT(checked, 0) << what;
        }
        SCOPED_TRACE(what);
        tandrel::test::ExpectControlsFit(window);
        window->hide();
    }
}

// Remembers whether the window system would let the user reach a window.
class BlockWatch : public QObject {
public:
    bool blocked = false;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::WindowBlocked) blocked = true;
        if (e->type() == QEvent::WindowUnblocked) blocked = false;
        return false;
    }
};

// F1 anywhere in a dialog, and its Help button, open the dialog's topic of the guide,
// and the help can be used while the dialog waits for an answer.
TEST(AllWindows, EveryDialogOpensItsHelpByF1AndByItsHelpButton) {
    ProgramWindows program;
    MainWindow& main = program.main;
    main.show();
    main.showHelpContents();
    HelpWindow* help = main.helpWindow();
    ASSERT_NE(help, nullptr);
    help->close();
    BlockWatch watch;
    help->installEventFilter(&watch);

    const auto opened = [help](const std::string& how) {
        EXPECT_TRUE(help->isVisible()) << how;
        // A topic of the guide: listed in its contents, and a page that was found.
        EXPECT_NE(help->currentContentsItem(), nullptr) << how;
        EXPECT_FALSE(help->currentTitle().isEmpty()) << how;
        EXPECT_FALSE(help->browser()->toPlainText().isEmpty()) << how;
        return help->currentUrl();
    };
    for (const auto& [what, window] : program.all()) {
        auto* dialog = qobject_cast<QDialog*>(window);
        if (!dialog) continue;
        SCOPED_TRACE(what);
        help->showContents(); // from elsewhere first, so that each dialog's own page shows
        help->close();
        // As exec() shows it: modal for the whole program.
        dialog->setWindowModality(Qt::ApplicationModal);
        dialog->show();
        if (auto* timer = dialog->findChild<QTimer*>()) timer->stop(); // no mailing starts
        QApplication::setActiveWindow(dialog);
        QApplication::processEvents();
        QWidget* focus = dialog->focusWidget() ? dialog->focusWidget() : dialog;

        QTest::keyClick(focus, Qt::Key_F1);
        QApplication::processEvents();
        const QUrl byKey = opened("F1 in " + focus->objectName().toStdString());
        EXPECT_NE(byKey, QUrl(QStringLiteral("qrc:/help/index.html")))
            << "the dialog's own topic, not the contents";
        EXPECT_FALSE(watch.blocked) << "the modal dialog keeps the user out of the help";

        // Every dialog with buttons has the platform's Help button among them.
        QAbstractButton* helpButton = nullptr;
        for (auto* box : dialog->findChildren<QDialogButtonBox*>())
            if (QPushButton* b = box->button(QDialogButtonBox::Help); b && b->isVisibleTo(dialog))
                helpButton = b;
        const bool hasButtons = !dialog->findChildren<QPushButton*>().isEmpty();
        if (hasButtons) {
            ASSERT_NE(helpButton, nullptr) << "no Help button";
            help->showContents();
            help->close();
            helpButton->click();
            QApplication::processEvents();
            EXPECT_EQ(opened("Help button"), byKey);
            EXPECT_FALSE(watch.blocked);
        }
        help->close();
        dialog->hide();
        dialog->setWindowModality(Qt::NonModal);
    }
}

// The mail text shows ten whole lines at the window's first size with every header line
// shown, and the header lines take what a wider window adds.
TEST(AllWindows, TheMailKeepsTenLinesUnderAllHeaderLinesAndItsFieldsGrowWithTheWindow) {
    ProgramWindows program;
    MainWindow& main = program.main;
    main.show();
    auto* copyLines = main.findChild<QAction*>(QStringLiteral("ViewCopyLines"));
    ASSERT_NE(copyLines, nullptr);
    copyLines->setChecked(true);
    auto* body = main.findChild<QPlainTextEdit*>(QStringLiteral("RichEdit1"));
    QStringList lines;
    for (int i = 1; i <= 30; ++i)
        lines << QStringLiteral("line %1").arg(i);
    body->setPlainText(lines.join(QLatin1Char('\n')));
    QApplication::processEvents();

    // The header lines, row by row.
    const std::vector<std::vector<const char*>> rows = {
        {"FrEdit"}, {"ToEdit"}, {"SubEdit"}, {"CcEdit", "BccEdit", "ReplyToEdit"}};
    const auto edit = [&main](const char* name) {
        return main.findChild<QLineEdit*>(QString::fromLatin1(name));
    };
    std::map<std::string, int> before;
    for (const auto& row : rows)
        for (const char* name : row) {
            EXPECT_TRUE(edit(name)->isVisible()) << name;
            before[name] = edit(name)->width();
        }
    QTextCursor tenth(body->document()->findBlockByNumber(9));
    tenth.movePosition(QTextCursor::EndOfBlock);
    body->setTextCursor(QTextCursor(body->document()));
    EXPECT_LE(body->cursorRect(tenth).bottom(), body->viewport()->height())
        << "the tenth line is not in view";
    {
        SCOPED_TRACE("first size");
        tandrel::test::ExpectShownControlsFit(&main);
    }

    const QSize first = main.size();
    main.resize(first.width() + 450, first.height());
    QApplication::processEvents();
    const int added = main.width() - first.width();
    ASSERT_GT(added, 0);
    for (const auto& row : rows) {
        int grown = 0;
        for (const char* name : row) {
            EXPECT_GT(edit(name)->width(), before[name]) << name << " stays as narrow";
            grown += edit(name)->width() - before[name];
        }
        EXPECT_GE(2 * grown, added) << row[0] << ": its row takes less than half the width added";
    }
    SCOPED_TRACE("wider");
    tandrel::test::ExpectShownControlsFit(&main);
}

} // namespace
