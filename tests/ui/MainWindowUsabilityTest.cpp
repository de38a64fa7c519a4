// SPDX-License-Identifier: GPL-3.0-or-later
// What the user meets around the main window's commands: where the file dialogs open,
// that a dialog leaves nothing behind, texts that are not cut off, and the status line
// while a menu is open.
#include <QAbstractItemView>
#include <QCompleter>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QTest>

#include "ui/ListColumns.h"
#include "tests/ui/MainWindowFixture.h"

namespace tandrel::test {
namespace {

const char* kFields = "name\r\nemail\r\n";
const char* kLongAddress = "somebody.with.a.rather.long.address@mail.example.org";

class MainUsabilityTest : public MainWindowTest {
protected:
    void SetUp() override {
        startWith(kFields, std::string("Ann;") + kLongAddress + "\r\nBob;bob@x\r\n");
        w->show();
        QApplication::processEvents();
    }
    static QLineEdit* nameEdit(QFileDialog& d) {
        return d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    }
};

TEST_F(MainUsabilityTest, FileDialogsOpenWhereTheFilesInUseAreAndSavingProposesTheirNames) {
    struct Seen {
        std::string dir;
        std::string name;
    };
    Seen seen;
    w->setFileChooser([&](QFileDialog& d) {
        seen = {d.directory().absolutePath().toStdString(), nameEdit(d)->text().toStdString()};
        return QString::fromStdString(nextPath);
    });
    QDir(QString::fromStdString(dir.path())).mkdir(QStringLiteral("letters"));
    const std::string letters = dir.file("letters");
    WriteFileBytes(dir.file("letters/spring.txt"),
                   "From: a\r\nTo: b\r\nSubject: c\r\n\r\nbody\r\n");

    struct Case {
        const char* what;
        void (*command)(MainWindow&);
        std::string dir;
        std::string name; // proposed by the save dialogs only
    };
    // No mail in use yet: the mail dialogs take the folder of the database.
    const Case before[] = {
        {"open fields", [](MainWindow& m) { m.openFields(); }, dir.path(), ""},
        {"save fields", [](MainWindow& m) { m.saveFieldsAs(); }, dir.path(), "fields.txt"},
        {"open database", [](MainWindow& m) { m.openDatabase(); }, dir.path(), ""},
        {"save database", [](MainWindow& m) { m.saveDatabaseAs(); }, dir.path(), "people.txt"},
        {"open mail", [](MainWindow& m) { m.openMail(); }, dir.path(), ""},
        {"save mail", [](MainWindow& m) { m.saveMailAs(); }, dir.path(), ""},
    };
    nextPath.clear(); // every dialog is cancelled
    for (const Case& c : before) {
        SCOPED_TRACE(c.what);
        c.command(*w);
        EXPECT_EQ(seen.dir, c.dir);
        EXPECT_EQ(seen.name, c.name);
    }

    nextPath = dir.file("letters/spring.txt");
    w->openMail();
    ASSERT_EQ(edit("SubEdit")->text().toStdString(), "c");
    nextPath.clear();
    const Case after[] = {
        {"open mail", [](MainWindow& m) { m.openMail(); }, letters, ""},
        {"save mail", [](MainWindow& m) { m.saveMailAs(); }, letters, "spring.txt"},
        {"open fields", [](MainWindow& m) { m.openFields(); }, dir.path(), ""},
    };
    for (const Case& c : after) {
        SCOPED_TRACE(c.what);
        c.command(*w);
        EXPECT_EQ(seen.dir, c.dir);
        EXPECT_EQ(seen.name, c.name);
    }

    // The database dialogs offer CSV files too, first when the database in use is one,
    // and a name typed without an extension gets the offered kind's.
    QStringList filters;
    QString offered;
    QString suffix;
    w->setFileChooser([&](QFileDialog& d) {
        filters = d.nameFilters();
        offered = d.selectedNameFilter();
        suffix = d.defaultSuffix();
        return QString::fromStdString(nextPath);
    });
    const QString csvFilter = QStringLiteral("CSV files (*.csv)");
    for (const bool csv : {false, true}) {
        SCOPED_TRACE(csv);
        nextPath.clear();
        for (void (*command)(MainWindow&) : {+[](MainWindow& m) { m.openDatabase(); },
                                             +[](MainWindow& m) { m.saveDatabaseAs(); }}) {
            command(*w);
            EXPECT_TRUE(filters.contains(csvFilter)) << filters.join('|').toStdString();
            EXPECT_EQ(offered == csvFilter, csv);
            EXPECT_EQ(suffix, csv ? "csv" : "txt");
        }
        nextPath = dir.file("people.csv");
        w->saveDatabaseAs();
        ASSERT_EQ(w->state().user.lastDatabase, nextPath);
    }
    nextPath.clear();
    w->openMail();
    EXPECT_FALSE(filters.contains(csvFilter)) << "a mail is no database";
}

TEST_F(MainUsabilityTest, AFileDialogLeavesNoCompleterBehindOverTheMainWindow) {
    w->setFileChooser(nullptr); // the real dialog
    WriteFileBytes(dir.file("letter-one.txt"), "From: a\r\nTo: b\r\nSubject: one\r\n\r\nx\r\n");
    WriteFileBytes(dir.file("letter-two.txt"), "From: a\r\nTo: b\r\nSubject: two\r\n\r\nx\r\n");
    QCompleter* completer = nullptr;
    bool popupWasUp = false;
    bool played = false;
    BoxCatcher boxes;
    // Plays the user once the dialog is up; gives up rather than hang.
    QTimer user;
    user.setInterval(20);
    QObject::connect(&user, &QTimer::timeout, [&] {
        auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!d || !d->isVisible()) return;
        if (played) {
            d->reject();
            return;
        }
        played = true;
        QLineEdit* name = nameEdit(*d);
        completer = name ? name->completer() : nullptr;
        if (completer) {
            // The user has typed the file's name and the completer offers it.
            name->setText(QString::fromStdString(dir.file("letter-two.txt")));
            completer->setCompletionPrefix(name->text());
            completer->complete();
            popupWasUp = QTest::qWaitFor([&] { return completer->popup()->isVisible(); }, 3000);
        }
        static_cast<QDialog*>(d)->accept();
    });
    user.start();
    w->openMail();
    EXPECT_TRUE(popupWasUp);
    EXPECT_TRUE(boxes.texts.empty());
    EXPECT_EQ(edit("SubEdit")->text().toStdString(), "two");
    // Whatever the folder's reading still reports later must not bring it back.
    QTest::qWait(300);
    ASSERT_NE(completer, nullptr);
    EXPECT_FALSE(completer->popup()->isVisible());
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST_F(MainUsabilityTest, StatusPanelsAndEmailColumnsShowTheirWholeTexts) {
    auto whole = [](QLabel* l) {
        return l->contentsRect().width() >= l->fontMetrics().horizontalAdvance(l->text());
    };
    auto* counter = find<QLabel>("StatusPanel1");
    auto* attachments = find<QLabel>("StatusPanel2");
    // The designed text before the first count, then large counts.
    counter->setText(QStringLiteral("xxx of xxx receipients selected"));
    QApplication::processEvents();
    EXPECT_TRUE(whole(counter));
    counter->setText(QStringLiteral("12000 of 100000 receipients selected"));
    attachments->setText(QStringLiteral("1000 attachments"));
    // Given room in the window, the counters take what their texts need.
    w->resize(1000, 600);
    QTest::qWait(20);
    EXPECT_TRUE(whole(counter));
    EXPECT_TRUE(whole(attachments));

    find<QPushButton>("Button3")->click();
    const int dragged = 77;
    for (QSize size : {QSize(1000, 600), QSize(675, 450)}) {
        SCOPED_TRACE(size.width());
        w->resize(size);
        QApplication::processEvents();
        for (QTreeView* list : {available(), receipients()}) {
            SCOPED_TRACE(list->objectName().toStdString());
            QHeaderView* h = list->header();
            // Every column can be dragged; the last takes what is left, so no strip of
            // empty header stays beside the columns.
            for (int c = 0; c < h->count(); ++c)
                EXPECT_EQ(h->sectionResizeMode(c), QHeaderView::Interactive) << c;
            EXPECT_TRUE(h->stretchLastSection());
            EXPECT_GE(h->length(), list->viewport()->width());
            EXPECT_EQ(list->textElideMode(), Qt::ElideMiddle);
            // A width the user chose stays when the window changes size.
            if (size.width() == 1000) h->resizeSection(0, dragged);
            EXPECT_EQ(h->sectionSize(0), dragged);
        }
    }
    // A newly loaded list fits its contents and the list: the short names whole, the long
    // address giving way so that every column is in view, never wider than the bound.
    w->refreshLists();
    QApplication::processEvents();
    QTreeView* list = available();
    QHeaderView* h = list->header();
    const int address = list->sizeHintForIndex(list->model()->index(0, 1)).width();
    EXPECT_GE(h->sectionSize(0), list->sizeHintForIndex(list->model()->index(0, 0)).width());
    EXPECT_LT(h->sectionSize(1), address);
    EXPECT_LE(h->sectionSize(1), tandrel::MaxFittedColumnWidth(*list));
    EXPECT_EQ(h->length(), list->viewport()->width());
    w->resize(1250, 600);
    QApplication::processEvents();
    EXPECT_GE(receipients()->header()->sectionSize(1),
              receipients()->fontMetrics().horizontalAdvance(QLatin1String(kLongAddress)));
}

TEST_F(MainUsabilityTest, AnOpenMenuShowsTheStatusTextOfWhatIsHighlighted) {
    QApplication::setActiveWindow(w);
    QMenuBar* bar = w->menuBar();
    QMenu* file = w->findChild<QMenu*>(QStringLiteral("File1Menu"));
    ASSERT_NE(file, nullptr);
    bar->setActiveAction(file->menuAction());
    ASSERT_TRUE(QTest::qWaitFor([&] { return file->isVisible(); }, 2000));
    QApplication::processEvents();
    // Nothing inside the menu is highlighted: its own entry in the menu bar is.
    EXPECT_EQ(status(0), "Manage files");

    QMenu* open = w->findChild<QMenu*>(QStringLiteral("File2"));
    file->setActiveAction(open->menuAction());
    QApplication::processEvents();
    EXPECT_EQ(status(0), "Open files");
    open->popup(file->actionGeometry(open->menuAction()).topRight() + file->pos());
    ASSERT_TRUE(QTest::qWaitFor([&] { return open->isVisible(); }, 2000));
    open->setActiveAction(action("File24"));
    QApplication::processEvents();
    EXPECT_EQ(status(0), "Open a saved database");
    // Back from the submenu to its parent: the parent's highlight counts again.
    open->hide();
    QTest::qWait(20);
    ASSERT_TRUE(file->isVisible());
    EXPECT_EQ(status(0), "Open files");
    file->hide();
    QTest::qWait(20);
    EXPECT_EQ(status(0), "Press F1 for help");
}

} // namespace
} // namespace tandrel::test
