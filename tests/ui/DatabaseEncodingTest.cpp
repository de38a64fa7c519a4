// SPDX-License-Identifier: GPL-3.0-or-later
// A database in the Windows code page, as old files are: every window shows its letters,
// and it stays in one encoding through editing and saving. Python's codecs are the judge
// of the bytes.
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

#include "tests/ui/DatabaseEditorTestHarness.h"
#include "tests/ui/MainWindowFixture.h"

using tandrel::AddPersonDialog;
using tandrel::DatabaseEditor;

void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace tandrel::test {
namespace {

using QStrings = std::vector<QString>;

// The bytes of `input` recoded by Python from one codec into another; empty when Python
// finds them not to be in `from`.
std::string Recode(const std::string& input, const char* from, const char* to) {
    QProcess python;
    python.start(
        QStringLiteral("/usr/bin/python3"),
        {QStringLiteral("-c"), QStringLiteral("import sys; sys.stdout.buffer.write("
                                              "sys.stdin.buffer.read().decode('%1').encode('%2'))")
                                   .arg(QLatin1String(from), QLatin1String(to))});
    python.write(input.data(), static_cast<qint64>(input.size()));
    python.closeWriteChannel();
    python.waitForFinished();
    return python.exitCode() == 0 ? python.readAllStandardOutput().toStdString() : std::string();
}

class DatabaseEncodingTest : public MainWindowTest {
protected:
    DatabaseEditor* editor() { return w->databaseEditor(); }
    QStrings shown(QAbstractItemView* view) {
        QStrings out;
        for (int r = 0; r < view->model()->rowCount(); ++r)
            out.push_back(view->model()->index(r, 0).data().toString());
        return out;
    }
    void inEditor(const std::function<void()>& body) {
        w->editDatabase();
        body();
        editor()->finishEditing();
    }
    void changeValue(int row, int field, const QString& text) {
        auto* entries = Child<QListView>(editor(), "ListBox2");
        entries->selectionModel()->setCurrentIndex(entries->model()->index(row, 0),
                                                   QItemSelectionModel::ClearAndSelect);
        Child<QListWidget>(editor(), "ListBox1")->setCurrentRow(field);
        editor()->onFieldLineClicked();
        Child<QLineEdit>(editor(), "Edit2")->setText(text);
        QTest::keyClick(Child<QLineEdit>(editor(), "Edit2"), Qt::Key_Return);
    }
};

TEST_F(DatabaseEncodingTest, AWindowsDatabaseShowsItsLettersEverywhereAndKeepsOneEncoding) {
    const std::string people = "Émile Zola;emile@x\r\nJosé Ñúñez;jose@x\r\n";
    startWith("name\r\nemail\r\n", Recode(people, "utf-8", "cp1252"));
    w->show();
    EXPECT_EQ(shown(available()), (QStrings{"Émile Zola", "José Ñúñez"}));
    edit("SearchAvailable")->setText("ÑÚÑ");
    EXPECT_EQ(shown(available()), QStrings{"José Ñúñez"});
    edit("SearchAvailable")->clear();

    w->moveAllToRecipients();
    selectRows(receipients(), {0});
    find<QToolButton>("SpeedButton1")->setChecked(true);
    ASSERT_TRUE(w->previewShown());
    EXPECT_EQ(edit("ToEdit")->text(), "\"Émile Zola\" <emile@x>");
    find<QToolButton>("SpeedButton1")->setChecked(false);

    // Letters the code page has stay in it.
    inEditor([&] {
        EXPECT_EQ(shown(Child<QListView>(editor(), "ListBox2")),
                  (QStrings{"Émile Zola", "José Ñúñez"}));
        AddPersonDialog* add = editor()->addPersonDialog();
        WhileModal(
            add, [&] { editor()->addPerson(); },
            [&] {
                Child<QLineEdit>(add, "Edit1")->setText("Jürgen Groß");
                Child<QLineEdit>(add, "Edit2")->setText("juergen@x");
                Child<QPushButton>(add, "Button1")->click();
            });
        EXPECT_EQ(Child<QListWidget>(editor(), "ListBox1")->item(0)->text(), "name Émile Zola");
    });
    w->saveAll();
    const std::string added = people + "Jürgen Groß;juergen@x\r\n";
    EXPECT_EQ(Recode(ReadFileBytes(dir.file("people.txt")), "cp1252", "utf-8"), added);
    EXPECT_EQ(Recode(ReadFileBytes(dir.file("people.txt")), "utf-8", "utf-8"), "");

    // A letter it lacks turns the whole file into UTF-8, and the status bar says so.
    inEditor([&] {
        changeValue(0, 0, "Łukasz Żółw");
        EXPECT_NE(status(0).find("UTF-8"), std::string::npos) << status(0);
        EXPECT_EQ(shown(Child<QListView>(editor(), "ListBox2")),
                  (QStrings{"Łukasz Żółw", "José Ñúñez", "Jürgen Groß"}));
    });
    EXPECT_EQ(shown(available()), (QStrings{"Łukasz Żółw", "José Ñúñez", "Jürgen Groß"}));
    w->saveAll();
    EXPECT_EQ(Recode(ReadFileBytes(dir.file("people.txt")), "utf-8", "utf-8"),
              "Łukasz Żółw;emile@x\r\nJosé Ñúñez;jose@x\r\nJürgen Groß;juergen@x\r\n");
}

TEST_F(DatabaseEncodingTest, SpreadsheetFilesInTheCodePageOpenAndUtf16IsNamed) {
    const std::string csv = "name;email;town\r\nRenée Dupré;renee@x;Besançon\r\n";
    WriteFileBytes(dir.file("cp1252.csv"), Recode(csv, "utf-8", "cp1252"));
    WriteFileBytes(dir.file("utf16.csv"), Recode(csv, "utf-8", "utf-16"));
    start();
    w->show();
    nextPath = dir.file("cp1252.csv");
    w->openDatabase();
    EXPECT_EQ(shown(available()), QStrings{"Renée Dupré"});
    EXPECT_EQ(find<QListWidget>("ListBox3")->item(2)->text(), "town");

    BoxCatcher boxes;
    nextPath = dir.file("utf16.csv");
    w->openDatabase();
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_NE(boxes.texts[0].find("save it as UTF-8"), std::string::npos) << boxes.texts[0];
    EXPECT_EQ(shown(available()), QStrings{"Renée Dupré"});
}

} // namespace
} // namespace tandrel::test
