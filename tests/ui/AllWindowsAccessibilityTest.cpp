// Every window of the program, as the program creates them, on every page: no control
// that a keyboard or screen-reader user can reach is left without a name, and every
// control shows whole at the desktop's font.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QMenuBar>

#include "AboutBox.h"
#include "AddPersonDialog.h"
#include "AddressColumnDialog.h"
#include "AppWindows.h"
#include "AttachmentsWindow.h"
#include "ControlsFit.h"
#include "DatabaseEditor.h"
#include "DeliveryWindow.h"
#include "FieldsDialog.h"
#include "FileTestWindow.h"
#include "MainWindow.h"
#include "PreferencesDialog.h"
#include "PreparationWindow.h"
#include "TestSupport.h"

namespace {

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
    tandrel::test::TempDir dir;
    tandrel::AppWindows app(dir.path());
    MainWindow& main = app.main();
    main.state().NewDatabase(); // so the editor has something to show
    AddressColumnDialog columnQuestion(QStringLiteral("club.csv"),
                                       {{"Name", "Ann Lee"}, {"Contact", "ann@x.test"}}, &main);

    const std::pair<const char*, QWidget*> windows[] = {
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
        {"column of the addresses", &columnQuestion},
    };
    for (const auto& [what, window] : windows) {
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
        if (window != app.preparationWindow()) {
            EXPECT_GT(checked, 0) << what;
        }
        SCOPED_TRACE(what);
        tandrel::test::ExpectControlsFit(window);
        window->hide();
    }
}

} // namespace
