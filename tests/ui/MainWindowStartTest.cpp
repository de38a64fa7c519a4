// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up and shut-down of the main window: settings, logs, last files, geometry.
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <limits>
#include <sys/stat.h>

#include "ui/main/AddressColumnDialog.h"
#include "ui/main/MainLook.h"
#include "tests/ui/MainWindowFixture.h"
#include "model/Settings.h"
#include "model/TextFile.h"

namespace tandrel::test {
namespace {

std::map<std::string, std::string> ReadIniKeys(const std::string& path) {
    std::map<std::string, std::string> keys;
    for (const auto& line : SplitTextLines(ReadFileBytes(path))) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return keys;
}

} // namespace

TEST_F(MainWindowTest, FirstStartWithoutSettingsFileUsesDefaultsAndWritesAllKeysAtExit) {
    start();
    EXPECT_EQ(w->windowTitle().toStdString(), " Tandrel 1.1");
    EXPECT_EQ(edit("FrEdit")->text().toStdString(), "\"Your Name\" <you@provider.example>");
    EXPECT_EQ(edit("ToEdit")->text().toStdString(), "\"[name]\" <[email]>");
    EXPECT_TRUE(edit("SubEdit")->text().isEmpty());
    EXPECT_TRUE(body()->toPlainText().isEmpty());
    EXPECT_TRUE(w->state().mailText.hasHeader);
    EXPECT_EQ(find<QListWidget>("ListBox3")->count(), 0);
    EXPECT_EQ(available()->model()->rowCount(), 0);
    EXPECT_FALSE(w->state().db);
    EXPECT_EQ(status(1), "xxx of xxx receipients selected");
    EXPECT_EQ(status(2), "xx attachments");
    EXPECT_EQ(w->pos(), QPoint(100, 100));
    EXPECT_EQ(w->size(), QSize(700, 600));
    EXPECT_EQ(w->state().prefs.port, "25");
    EXPECT_EQ(w->state().prefs.delimiterChar, ';');
    EXPECT_EQ(w->state().programDir, dir.path());
    EXPECT_FALSE(std::filesystem::exists(dir.file("Tandrel.ini")));

    w->show();
    QApplication::processEvents();
    EXPECT_EQ(w->upperPaneHeight(), (600 - 50) / 2);
    w->close();

    const auto keys = ReadIniKeys(dir.file("Tandrel.ini"));
    const char* expected[] = {"smtp",        "name",        "port",         "fromaddy",
                              "fielddelim",  "lastmail",    "lastfields",   "lastdb",
                              "MainWinXPos", "MainWinYPos", "MainWinWidth", "MainWinHeight",
                              "TPaneHeight"};
    EXPECT_EQ(keys.size(), std::size(expected));
    for (const char* k : expected)
        EXPECT_TRUE(keys.count(k)) << k;
    EXPECT_EQ(keys.at("MainWinXPos"), "100");
    EXPECT_EQ(keys.at("MainWinWidth"), "700");
    EXPECT_EQ(keys.at("MainWinHeight"), "600");
    EXPECT_EQ(keys.at("TPaneHeight"), "275");
    EXPECT_EQ(keys.at("fielddelim"), "59");
    EXPECT_FALSE(w->state().db); // released at exit
}

TEST_F(MainWindowTest, StartUpReloadsLastFilesOnlyUnderTheirConditions) {
    struct Case {
        const char* what;
        bool mailExists;
        const char* fieldsText; // null: no field file named
        bool fieldsExist;
        bool dbNamed;
        bool expectDb;
        int expectFields;
        const char* status;
    };
    const Case cases[] = {
        {"all three files", true, "name\r\nemail\r\n", true, true, true, 2,
         "0 of 2 receipients selected"},
        {"no mail file: a new mail", false, "name\r\nemail\r\n", true, true, true, 2,
         "0 of 2 receipients selected"},
        {"field file missing: no database", true, "name\r\n", false, true, false, 0,
         "xxx of xxx receipients selected"},
        {"field file empty: no database", true, "", true, true, false, 0,
         "0 of 0 receipients selected"},
        {"no field file named", true, nullptr, false, true, false, 0,
         "xxx of xxx receipients selected"},
        {"fields without a database file", true, "name\r\nemail\r\ntown\r\n", true, false, false, 3,
         "0 of 0 receipients selected"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir d;
        WriteFileBytes(d.file("mail.txt"), "Date: x\r\nFrom: \"A\" <a@b>\r\nTo: [email]\r\n"
                                           "Subject: Hello [name]\r\n\r\nLine one\r\nLine two\r\n");
        if (c.fieldsText && c.fieldsExist) WriteFileBytes(d.file("f.txt"), c.fieldsText);
        WriteFileBytes(d.file("db.txt"), "Ann;ann@x\r\nBob;bob@x\r\n");
        std::string ini = "[User]\r\n";
        ini += "lastmail=" + d.file(c.mailExists ? "mail.txt" : "gone.txt") + "\r\n";
        if (c.fieldsText) ini += "lastfields=" + d.file("f.txt") + "\r\n";
        if (c.dbNamed) ini += "lastdb=" + d.file("db.txt") + "\r\n";
        WriteFileBytes(d.file("Tandrel.ini"), ini);

        AppWindows a(d.path());
        MainWindow& m = a.main();
        auto* from = m.findChild<QLineEdit*>("FrEdit");
        auto* sub = m.findChild<QLineEdit*>("SubEdit");
        auto* text = m.findChild<QPlainTextEdit*>("RichEdit1");
        if (c.mailExists) {
            EXPECT_EQ(from->text().toStdString(), "\"A\" <a@b>");
            EXPECT_EQ(sub->text().toStdString(), "Hello [name]");
            EXPECT_EQ(text->toPlainText().toStdString(), "Line one\nLine two");
            EXPECT_EQ(m.state().user.lastMail, d.file("mail.txt"));
        } else {
            EXPECT_EQ(from->text().toStdString(), "\"Your Name\" <you@provider.example>");
            EXPECT_TRUE(text->toPlainText().isEmpty());
        }
        auto* fields = m.findChild<QListWidget*>("ListBox3");
        EXPECT_EQ(fields->count(), c.expectFields);
        const auto* db = m.state().db.get();
        EXPECT_EQ(db && !db->entries.empty(), c.expectDb);
        auto* avail = m.findChild<QTreeView*>("ListView2");
        EXPECT_EQ(avail->model()->rowCount(), c.expectDb ? 2 : 0);
        EXPECT_EQ(m.statusPanelText(1).toStdString(), c.status);
    }
}

TEST_F(MainWindowTest, StartUpAppliesGeometryLogsAndPreferences) {
    WriteFileBytes(dir.file("Tandrel.snt"), "Mailing started x\r\nMails sent to:\r\n");
    WriteFileBytes(dir.file("Tandrel.log"), "220 hello\r\n");
    writeIni({{"Network", {{"smtp", "relay.example"}, {"name", ""}, {"port", "2525"}}},
              {"Database", {{"fielddelim", "300"}}},
              {"User",
               {{"MainWinXPos", "30"},
                {"MainWinYPos", "40"},
                {"MainWinWidth", "700"},
                {"MainWinHeight", "520"},
                {"TPaneHeight", "120"}}}});
    start();
    // The logs on disk are only appended to, never loaded: memory holds this session's.
    EXPECT_TRUE(w->state().sentLog.empty());
    EXPECT_TRUE(w->state().runLog.empty());
    EXPECT_EQ(w->state().prefs.smtp, "relay.example");
    EXPECT_EQ(w->state().prefs.delimiterChar, ',');
    EXPECT_FALSE(w->state().computerName.empty());
    // With an empty sender name the new mail keeps its From line as it was: empty.
    EXPECT_TRUE(edit("FrEdit")->text().isEmpty());
    EXPECT_EQ(w->pos(), QPoint(30, 40));
    EXPECT_EQ(w->size(), QSize(700, 520));
    w->show();
    QApplication::processEvents();
    // The resize at showing lays the pane out by the window's height.
    EXPECT_EQ(w->upperPaneHeight(), (520 - 50) / 2);
    w->close();
    const auto keys = ReadIniKeys(dir.file("Tandrel.ini"));
    EXPECT_EQ(keys.at("fielddelim"), "300");
    EXPECT_EQ(keys.at("port"), "2525");
    EXPECT_EQ(keys.at("MainWinXPos"), "30");
}

TEST(WindowFit, AnyStoredGeometryGivesAWindowFullyOnTheScreen) {
    using tandrel::mainwindow::FitWindow;
    const QRect screen(0, 0, 1280, 800);
    const int big = std::numeric_limits<int>::max();
    const int small = std::numeric_limits<int>::min();
    struct Case {
        WindowGeometry stored;
        WindowGeometry expected; // x, y, width, height, pane
    };
    const Case cases[] = {
        {{100, 100, 700, 600, 250}, {100, 100, 700, 600, 250}},
        {{100, 100, big, big, big}, {0, 0, 1280, 800, 800 - 5 - 82 - 120}},
        {{big, big, 700, 600, 250}, {580, 200, 700, 600, 250}},
        {{small, small, small, small, small}, {0, 0, 675, 450, 190}},
        {{-50, 700, 30000, 30000, 10}, {0, 0, 1280, 800, 190}},
        {{1000, 10, 800, 500, -1}, {480, 10, 800, 500, 190}},
    };
    for (const Case& c : cases) {
        const WindowGeometry got = FitWindow(c.stored, screen);
        SCOPED_TRACE(c.stored.x);
        EXPECT_EQ((std::vector<int>{got.x, got.y, got.width, got.height, got.paneHeight}),
                  (std::vector<int>{c.expected.x, c.expected.y, c.expected.width, c.expected.height,
                                    c.expected.paneHeight}));
    }
    // A screen smaller than the window's own minimum still gets a window inside it.
    const WindowGeometry tiny = FitWindow({0, 0, 700, 600, 250}, QRect(10, 20, 320, 240));
    EXPECT_EQ((std::vector<int>{tiny.x, tiny.y, tiny.width, tiny.height}),
              (std::vector<int>{10, 20, 320, 240}));
}

TEST_F(MainWindowTest, AbsurdGeometryInTheSettingsStartsAWindowOnTheScreen) {
    writeIni({{"User",
               {{"MainWinXPos", "-2147483648"},
                {"MainWinYPos", "2147483647"},
                {"MainWinWidth", "2147483647"},
                {"MainWinHeight", "2147483647"},
                {"TPaneHeight", "2147483647"}}}});
    start();
    w->show();
    QApplication::processEvents();
    const QRect avail = w->screen()->availableGeometry();
    const QRect g = w->geometry();
    // The frame is the window system's; the client area fits the screen and is on it.
    EXPECT_TRUE(g.width() <= avail.width() && g.height() <= avail.height() &&
                avail.contains(g.topLeft()));
    EXPECT_LE(w->upperPaneHeight(), w->height());
}

TEST_F(MainWindowTest, AnErrorDuringStartUpIsShownAndSkipsTheRest) {
    // A file that exists but cannot be read (even by root): the rest is skipped.
    WriteFileBytes(dir.file("db.txt"), "Ann;ann@x\r\n");
    writeIni({{"User", {{"lastfields", "/proc/self/mem"}, {"lastdb", dir.file("db.txt")}}}});
    BoxCatcher boxes;
    start();
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], "Cannot open file /proc/self/mem");
    EXPECT_FALSE(w->state().db);
    EXPECT_TRUE(w->state().user.lastDatabase == dir.file("db.txt")); // read, just not loaded
    // The steps before the failing one were done.
    EXPECT_EQ(edit("ToEdit")->text().toStdString(), "\"[name]\" <[email]>");
}

TEST_F(MainWindowTest, FilesGivenAtStartOpenLikeTheOpenCommandsAndAskBeforeDroppingWork) {
    // The last files of the settings load first; the given ones then take their place.
    startWith("name\r\nemail\r\n", "Old;old@x\r\n");
    WriteFileBytes(dir.file("club.csv"),
                   "\xEF\xBB\xBFName;EMail;City\r\n\"Lee, Ann\";ann@x;\"K\xC3\xB6ln\"\r\n"
                   "Bo;bo@x;\"two\r\nlines\"\r\n");
    WriteFileBytes(dir.file("note.txt"), "Subject: Hi [name]\r\n\r\nDear [name]\r\n\xE9t\xE9\r\n");
    BoxCatcher boxes;
    w->openFiles({dir.file("club.csv"), dir.file("note.txt"), dir.file("gone.csv")});

    EXPECT_EQ(column(available(), 0), (std::vector<std::string>{"Lee, Ann", "Bo"}));
    EXPECT_EQ(w->state().db->fields.size(), 3u);
    EXPECT_EQ(edit("SubEdit")->text().toStdString(), "Hi [name]");
    // Not UTF-8: shown as Windows-1252, kept as the same bytes.
    EXPECT_EQ(w->editorTexts().body, (std::vector<std::string>{"Dear [name]", "\xE9t\xE9"}));
    EXPECT_EQ(w->state().user.lastDatabase, dir.file("club.csv"));
    EXPECT_EQ(w->state().user.lastMail, dir.file("note.txt"));
    EXPECT_FALSE(w->mailChanged());
    EXPECT_FALSE(w->databaseChanged());
    EXPECT_EQ(boxes.texts, (std::vector<std::string>{"Cannot open file " + dir.file("gone.csv")}));
    EXPECT_TRUE(questions.empty());

    // Changed work is not dropped without asking; Cancel keeps it.
    edit("SubEdit")->setText(QStringLiteral("Edited"));
    WriteFileBytes(dir.file("other.txt"), "Other body\r\n");
    answer = QMessageBox::Cancel;
    w->openFiles({dir.file("other.txt")});
    EXPECT_EQ(questions.size(), 1u);
    EXPECT_EQ(edit("SubEdit")->text().toStdString(), "Edited");
    EXPECT_EQ(w->state().user.lastMail, dir.file("note.txt"));
}

// A CSV file whose column of addresses has no usual name: the window asks which column
// holds them, showing each with its first value, reads the file with the one chosen,
// tells it in the status bar, and takes the same column at the next start.
TEST_F(MainWindowTest, ACsvFileWithoutAKnownAddressColumnAsksWhichColumnHoldsThem) {
    startWith("name\r\nemail\r\n", "Old;old@x.test\r\n");
    WriteFileBytes(dir.file("club.csv"),
                   "Name,Contact,Phone\r\nAnn Lee,ann@x.test,\r\nBob Roe,bob@x.test,555\r\n");
    std::vector<std::string> shown;
    std::string preselected;
    int asked = 0;
    bool cancel = true;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        auto* d = qobject_cast<AddressColumnDialog*>(QApplication::activeModalWidget());
        if (!d) return;
        ++asked;
        shown.clear();
        for (int r = 0; r < d->columnList->topLevelItemCount(); ++r)
            shown.push_back(d->columnList->topLevelItem(r)->text(0).toStdString() + " = " +
                            d->columnList->topLevelItem(r)->text(1).toStdString());
        preselected = d->chosenColumn().value_or("");
        (cancel ? d->cancelButton : d->okButton)->click();
    });
    answerer.start(5);
    const auto addresses = [this] {
        std::vector<std::string> out;
        for (const auto& e : w->state().db->entries)
            out.push_back(e->name() + " <" + e->email() + ">");
        return out;
    };

    w->openFiles({dir.file("club.csv")});
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(shown,
              (std::vector<std::string>{"Name = Ann Lee", "Contact = ann@x.test", "Phone = 555"}));
    EXPECT_EQ(preselected, "Contact");
    EXPECT_EQ(addresses(), (std::vector<std::string>{"Old <old@x.test>"})) << "cancelled";

    cancel = false;
    w->openFiles({dir.file("club.csv")});
    EXPECT_EQ(asked, 2);
    const std::vector<std::string> club = {"Ann Lee <ann@x.test>", "Bob Roe <bob@x.test>"};
    EXPECT_EQ(addresses(), club);
    EXPECT_NE(status(0).find("\"Contact\""), std::string::npos) << status(0);
    EXPECT_FALSE(w->databaseChanged());

    w->close();
    app.reset();
    start();
    EXPECT_EQ(asked, 2) << "the column chosen is remembered";
    EXPECT_EQ(addresses(), club);
}

TEST_F(MainWindowTest, LogsThatCannotBeReadDoNotHinderTheStartUpAndStayUntouched) {
    // Reading /proc/self/mem fails at once; the start-up must not even try.
    WriteFileBytes(dir.file("Tandrel.ini"), "[Network]\r\nsmtp=relay.example\r\nport=2525\r\n");
    std::filesystem::create_symlink("/proc/self/mem", dir.file("Tandrel.snt"));
    std::filesystem::create_symlink("/proc/self/mem", dir.file("Tandrel.log"));
    BoxCatcher boxes;
    start();
    EXPECT_TRUE(boxes.texts.empty());
    EXPECT_EQ(w->state().prefs.smtp, "relay.example");
    w->show();
    QApplication::processEvents();
    EXPECT_TRUE(w->close());
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("Tandrel.snt")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("Tandrel.log")));
    EXPECT_EQ(ReadIniKeys(dir.file("Tandrel.ini")).at("smtp"), "relay.example");
}

TEST_F(MainWindowTest, ExitWriteKeepsGeometryOfAMaximizedWindowAndClosesEvenWhenItFails) {
    writeIni({{"User", {{"MainWinXPos", "11"}, {"MainWinWidth", "801"}, {"TPaneHeight", "99"}}}});
    start();
    w->showMaximized();
    QApplication::processEvents();
    w->close();
    auto keys = ReadIniKeys(dir.file("Tandrel.ini"));
    EXPECT_EQ(keys.at("MainWinXPos"), "11");
    EXPECT_EQ(keys.at("MainWinWidth"), "801");
    EXPECT_EQ(keys.at("TPaneHeight"), "99");
    EXPECT_EQ(keys.count("MainWinHeight"), 0u);
    EXPECT_EQ(keys.at("port"), "25");
    app.reset();
    w = nullptr;

    // A settings file that cannot be written: the error is shown, the window closes.
    TempDir d2;
    std::filesystem::create_directory(d2.file("Tandrel.ini"));
    AppWindows a(d2.path());
    a.main().show();
    BoxCatcher boxes;
    EXPECT_TRUE(a.main().close());
    EXPECT_FALSE(a.main().isVisible());
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], "Unable to write to " + d2.file("Tandrel.ini") + ": Is a directory");
}

TEST_F(MainWindowTest, ResizingSnapsToTheMinimumAndSplitsThePanesEvenly) {
    start();
    w->show();
    QApplication::processEvents();
    auto* panel5 = find<QWidget>("Panel5");
    auto* panel7 = find<QWidget>("Panel7");
    struct Case {
        QSize asked;
        QSize expected;
    };
    const Case cases[] = {{{600, 400}, {675, 450}},
                          {{900, 700}, {900, 700}},
                          {{676, 300}, {676, 450}},
                          {{1001, 801}, {1001, 801}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked.width());
        w->resize(c.asked);
        QApplication::processEvents();
        EXPECT_EQ(w->size(), c.expected);
        EXPECT_EQ(w->upperPaneHeight(), (c.expected.height() - 50) / 2);
        EXPECT_EQ(find<QWidget>("Panel4")->height(), w->upperPaneHeight());
        EXPECT_EQ(panel5->width(), (c.expected.width() - 105 - 64) / 2);
        EXPECT_LE(std::abs(panel7->width() - panel5->width()), 1);
        EXPECT_GT(body()->height(), 0);
    }
}

TEST_F(MainWindowTest, SplitterDragKeepsTheMoveButtonsAndSixtyPixelsOfBody) {
    start();
    w->show();
    w->resize(800, 600);
    QApplication::processEvents();
    auto* splitter = find<QWidget>("Splitter1");
    auto* panel1 = find<QWidget>("Panel1");
    auto drag = [&](int dy) {
        QTest::mousePress(splitter, Qt::LeftButton, {}, QPoint(10, 2));
        QTest::mouseMove(splitter, QPoint(10, 2 + dy));
        QTest::mouseRelease(splitter, Qt::LeftButton, {}, QPoint(10, 2 + dy));
        QApplication::processEvents();
    };
    const int before = w->upperPaneHeight();
    drag(-20);
    EXPECT_EQ(w->upperPaneHeight(), before - 20);
    drag(-2000);
    EXPECT_EQ(w->upperPaneHeight(), 190);
    const auto* lastMove = find<QWidget>("Button1");
    EXPECT_LE(lastMove->mapTo(w, QPoint(0, lastMove->height())).y(),
              find<QWidget>("Splitter1")->mapTo(w, QPoint(0, 0)).y());
    drag(+5000);
    EXPECT_EQ(w->upperPaneHeight(), panel1->height() - 5 - 82 - 60);
    EXPECT_EQ(body()->height(), 60);
}

} // namespace tandrel::test
