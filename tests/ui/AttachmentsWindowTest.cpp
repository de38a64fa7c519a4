// SPDX-License-Identifier: GPL-3.0-or-later
// The attachments window: adding, removing, browsing, testing and closing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "ui/attachments/AttachmentsWindow.h"
#include "tests/ui/AttachmentsWindowTestHooks.h"
#include "ui/attachments/FileTestWindow.h"
#include "ui/ListColumns.h"
#include "ui/PathElision.h"
#include "tests/support/TestSupport.h"

using tandrel::AttachmentsWindow;
using tandrel::FileTestWindow;

using tandrel::test::TempDir;
using tandrel::test::WriteFileBytes;

namespace {

class AttachmentsWindowTest : public ::testing::Test {
protected:
    AttachmentsWindowTest() {
        QObject::connect(&attach, &AttachmentsWindow::closed, [this] { ++main.statusUpdates; });
    }

    QTreeWidget* list() { return attach.findChild<QTreeWidget*>("ListView1"); }
    QLineEdit* edit() { return attach.findChild<QLineEdit*>("Edit1"); }
    QPushButton* button(const char* name) { return attach.findChild<QPushButton*>(name); }

    void add(const std::string& path) {
        edit()->setText(QString::fromLocal8Bit(path.c_str()));
        button("AddButt")->click();
    }
    std::vector<std::string> attachmentPaths() const {
        std::vector<std::string> paths;
        for (const auto& a : main.st.attachments)
            paths.push_back(a.path);
        return paths;
    }
    std::vector<std::string> rowPaths() {
        std::vector<std::string> paths;
        for (int i = 0; i < list()->topLevelItemCount(); ++i)
            paths.push_back(AttachmentsWindow::rowPath(list()->topLevelItem(i)));
        return paths;
    }
    void selectRows(std::initializer_list<int> rows) {
        list()->clearSelection();
        for (int r : rows)
            list()->topLevelItem(r)->setSelected(true);
    }

    TempDir dir;
    tandrel::test::AttachTestHooks main;
    AttachmentsWindow attach{main.st};
    FileTestWindow& fileTest = *attach.fileTestWindow();
};

TEST_F(AttachmentsWindowTest, AddFillsTypeAndSizeOnlyForReadableFiles) {
    WriteFileBytes(dir.file("photo.JPG"), std::string(1024, 'x'));
    WriteFileBytes(dir.file("empty.txt"), "");
    struct Case {
        std::string path;
        std::string fileName;
        const char* type;
        const char* size;
    };
    const Case cases[] = {
        {dir.file("photo.JPG"), "photo.JPG", "image/jpeg", "1.00Kb"},
        {dir.file("empty.txt"), "empty.txt", "text/plain", "0"},
        {dir.file("missing.txt"), "missing.txt", "", ""},
        {dir.file("[name].txt"), "[name].txt", "", ""},
        {dir.path(), tandrel::FileNameOfPath(dir.path()), "", ""}, // a directory is no file
        {"  C:\\docs\\a b.doc ", "a b.doc ", "", ""},              // taken untrimmed
    };
    int row = 0;
    for (const Case& c : cases) {
        add(c.path);
        ASSERT_EQ(main.st.attachments.size(), static_cast<std::size_t>(row + 1)) << c.path;
        EXPECT_EQ(main.st.attachments.back().path, c.path);
        EXPECT_EQ(main.st.attachments.back().fileName, c.fileName);
        QTreeWidgetItem* item = list()->topLevelItem(row);
        EXPECT_EQ(item->text(0), QString::fromLocal8Bit(c.path.c_str()));
        EXPECT_EQ(item->text(1), QString::fromLatin1(c.type)) << c.path;
        EXPECT_EQ(item->text(2), QString::fromLatin1(c.size)) << c.path;
        // The edit keeps its text for the next add.
        EXPECT_EQ(edit()->text(), QString::fromLocal8Bit(c.path.c_str()));
        ++row;
    }

    // An empty edit adds nothing.
    edit()->clear();
    button("AddButt")->click();
    EXPECT_EQ(list()->topLevelItemCount(), row);
    EXPECT_EQ(main.st.attachments.size(), static_cast<std::size_t>(row));
}

TEST_F(AttachmentsWindowTest, RemoveKeepsListAndRowsInStep) {
    const std::string a = dir.file("a.txt"), b = dir.file("b.txt"), c = dir.file("c.txt");
    struct Case {
        std::vector<std::string> added;
        std::initializer_list<int> selected;
        std::vector<std::string> left;
    };
    const Case cases[] = {
        {{a, a}, {1}, {a}},         {{a, b, a}, {2}, {a, b}}, // the later "a" goes, the order stays
        {{a, b, a}, {0}, {b, a}},   {{a, b, c, a}, {0, 2}, {b, a}},
        {{a, b}, {}, {a, b}}, // nothing selected: nothing happens
        {{a, b, c}, {0, 1, 2}, {}},
    };
    for (const Case& cs : cases) {
        list()->clear();
        main.st.attachments.clear();
        for (const auto& p : cs.added)
            add(p);
        selectRows(cs.selected);
        button("Button1")->click();
        EXPECT_EQ(attachmentPaths(), cs.left);
        EXPECT_EQ(rowPaths(), cs.left);
    }
}

TEST_F(AttachmentsWindowTest, EnterInThePathEditAdds) {
    attach.show();
    edit()->setFocus();
    edit()->setText(QString::fromLocal8Bit(dir.file("x.txt").c_str()));
    QTest::keyClick(edit(), Qt::Key_Return);
    EXPECT_EQ(attachmentPaths(), std::vector<std::string>{dir.file("x.txt")});
    EXPECT_TRUE(attach.isVisible());
    attach.hide();
}

TEST_F(AttachmentsWindowTest, BrowsePutsTheChosenPathIntoTheEditOnly) {
    const std::string file = dir.file("chosen.txt");
    WriteFileBytes(file, "x");
    for (bool choose : {true, false}) {
        edit()->setText("before");
        QString title;
        QTimer::singleShot(0, [&] {
            auto* dialog = attach.findChild<QFileDialog*>("OpenDialog1");
            ASSERT_NE(dialog, nullptr);
            title = dialog->windowTitle();
            if (choose) {
                dialog->selectFile(QString::fromLocal8Bit(file.c_str()));
                static_cast<QDialog*>(dialog)->accept();
            } else {
                dialog->reject();
            }
        });
        button("BrowseBut")->click();
        EXPECT_EQ(title, "Add attachment");
        EXPECT_EQ(edit()->text(), choose ? QString::fromLocal8Bit(file.c_str()) : "before");
        EXPECT_TRUE(main.st.attachments.empty());
    }
}

TEST_F(AttachmentsWindowTest, TestFilesOpensTheResultOnlyWithAttachments) {
    int opened = 0;
    QStringList lines;
    auto watch = [&] {
        QTimer::singleShot(0, [&] {
            if (QApplication::activeModalWidget() == &fileTest) {
                ++opened;
                auto* box = fileTest.findChild<QListWidget*>("ListBox1");
                for (int i = 0; i < box->count(); ++i)
                    lines << box->item(i)->text();
                fileTest.findChild<QPushButton*>("OKBut")->click();
            }
        });
    };
    watch();
    button("TestBut")->click();
    QApplication::processEvents();
    EXPECT_EQ(opened, 0);

    add(dir.file("nothere.txt"));
    watch();
    button("TestBut")->click();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(lines, QStringList{QString::fromLocal8Bit(dir.file("nothere.txt").c_str()) +
                                 " does not exist"});
}

TEST_F(AttachmentsWindowTest, ClosingByAnyMeansUpdatesTheStatusBar) {
    QTimer::singleShot(0, [&] { button("DoneBut")->click(); });
    EXPECT_EQ(attach.exec(), QDialog::Accepted);
    EXPECT_EQ(main.statusUpdates, 1);

    QTimer::singleShot(0, [&] { QTest::keyClick(list(), Qt::Key_Escape); });
    EXPECT_EQ(attach.exec(), QDialog::Rejected);
    EXPECT_EQ(main.statusUpdates, 2);

    QTimer::singleShot(0, [&] { attach.close(); });
    attach.exec();
    EXPECT_EQ(main.statusUpdates, 3);
}

TEST_F(AttachmentsWindowTest, RowsSurviveReopening) {
    add(dir.file("keep.txt"));
    QTimer::singleShot(0, [&] { button("DoneBut")->click(); });
    attach.exec();
    QTimer::singleShot(0, [&] { button("DoneBut")->click(); });
    attach.exec();
    EXPECT_EQ(rowPaths(), std::vector<std::string>{dir.file("keep.txt")});
}

TEST_F(AttachmentsWindowTest, ColumnsFitTheirContentsAndThePathEditHasTheFocusOnOpening) {
    WriteFileBytes(dir.file("a.bin"), "x");
    const std::string longPath =
        dir.file(std::string(60, 'd') + "/" + std::string(60, 'e') + "/letter.pdf");
    add(dir.file("a.bin"));
    add(longPath);
    edit()->clear();
    list()->setFocus();
    int fileWidth = 0;
    int typeWidth = 0;
    int bound = 0;
    int length = 0;
    int room = 0;
    bool focused = false;
    QTimer::singleShot(0, [&] {
        focused = attach.focusWidget() == edit();
        QApplication::processEvents();
        fileWidth = list()->columnWidth(0);
        typeWidth = list()->columnWidth(1);
        bound = tandrel::MaxFittedColumnWidth(*list());
        length = list()->header()->length();
        room = list()->viewport()->width();
        button("DoneBut")->click();
    });
    attach.exec();
    EXPECT_TRUE(focused);
    // A long path gives way so that every column is in view; it loses its middle and
    // shows whole in its tooltip. The type is shown in full. Every column can be dragged
    // and the last takes the rest.
    const QFontMetrics fm(list()->font());
    EXPECT_LE(fileWidth, bound);
    EXPECT_GT(fileWidth, fm.horizontalAdvance(QStringLiteral("letter.pdf")));
    EXPECT_EQ(length, room) << "no horizontal scroll bar";
    EXPECT_EQ(list()->textElideMode(), Qt::ElideMiddle);
    EXPECT_EQ(list()->topLevelItem(1)->toolTip(0).toStdString(), longPath);
    EXPECT_GE(typeWidth, fm.horizontalAdvance(QStringLiteral("application/octet-stream")));
    QHeaderView* h = list()->header();
    for (int c = 0; c < h->count(); ++c)
        EXPECT_EQ(h->sectionResizeMode(c), QHeaderView::Interactive) << c;
    EXPECT_TRUE(h->stretchLastSection());
}

// A shortened path only loses a stretch of its middle, and keeps its file name whenever
// the name fits; a path that fits stays whole.
TEST(PathElision, APathLosesTheMiddleOfItsFoldersAndKeepsItsFileName) {
    const QFontMetrics fm(QApplication::font());
    const QString ellipsis(QChar(0x2026));
    const QString paths[] = {
        "/home/ann/Documents/Mailings/2024/spring/attachments/[name]-invitation.pdf",
        "C:\\Users\\Ann\\Documents\\Mailings\\[name].doc",
        "/short/a.txt",
        "/x/" + QString(80, 'n') + ".pdf", // a name wider than most widths
        "no-folder-at-all-but-a-rather-long-name.txt",
        "/trailing/separator/",
        "/[name]",
    };
    for (const QString& path : paths) {
        const int full = fm.horizontalAdvance(path);
        const qsizetype cut = std::max(path.lastIndexOf('/'), path.lastIndexOf('\\'));
        const QString name = cut > 0 ? path.mid(cut) : QString();
        for (int width = 0; width <= full + 10; width += 3) {
            const QString shown = tandrel::ElidePath(fm, path, width);
            SCOPED_TRACE(path.toStdString() + " in " + std::to_string(width) +
                         " px: " + shown.toStdString());
            if (full <= width) {
                EXPECT_EQ(shown, path);
                continue;
            }
            EXPECT_LE(fm.horizontalAdvance(shown), width);
            if (shown.isEmpty()) continue; // not even the ellipsis fits
            // One stretch left out, marked by one ellipsis.
            const qsizetype mark = shown.indexOf(ellipsis);
            ASSERT_GE(mark, 0);
            EXPECT_EQ(shown.count(ellipsis), 1);
            EXPECT_TRUE(path.startsWith(shown.left(mark)));
            EXPECT_TRUE(path.endsWith(shown.mid(mark + 1)));
            if (!name.isEmpty() && fm.horizontalAdvance(ellipsis + name) <= width) {
                EXPECT_TRUE(shown.endsWith(name));
            }
        }
    }
}

// A path added while the window is open shows its file name, and the whole path in its
// tooltip; the file test window shows every line whole, scrolling sideways to its end.
TEST_F(AttachmentsWindowTest, LongPathsKeepTheirFileNamesInViewAndTheTestLinesShowWhole) {
    const std::string placeholderPath = dir.file(std::string(40, 'd') + "/letters for each/" +
                                                 std::string(30, 'e') + "/[name]-letter.pdf");
    attach.show();
    QApplication::processEvents();
    add(placeholderPath);
    QApplication::processEvents();

    QTreeWidgetItem* row = list()->topLevelItem(0);
    EXPECT_EQ(row->toolTip(0).toStdString(), placeholderPath);
    auto* paths = dynamic_cast<tandrel::PathItemDelegate*>(list()->itemDelegateForColumn(0));
    ASSERT_NE(paths, nullptr) << "the File column shortens its paths";
    QStyleOptionViewItem cell;
    cell.initFrom(list()->viewport());
    cell.widget = list();
    cell.rect = list()->visualItemRect(row);
    cell.rect.setWidth(list()->columnWidth(0));
    const QString shown = paths->shownText(cell, list()->indexFromItem(row));
    const QFontMetrics fm(list()->font());
    EXPECT_TRUE(shown.endsWith(QStringLiteral("/[name]-letter.pdf"))) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith(QString::fromLocal8Bit(dir.path().c_str()).left(4)))
        << shown.toStdString();
    EXPECT_LE(fm.horizontalAdvance(shown), list()->columnWidth(0));

    // People whose lines differ in length, the longest neither first nor last.
    main.st.newDatabase();
    for (const char* name : {"Al", "Bartholomew Fitzwilliam-Montgomery", "Cy"}) {
        tandrel::Person& e = main.st.db->appendEntry();
        e.setName(name);
        e.values = {name, ""};
    }
    fileTest.setAttribute(Qt::WA_DontShowOnScreen);
    fileTest.show();
    QApplication::processEvents();
    auto* box = fileTest.findChild<QListWidget*>("ListBox1");
    ASSERT_EQ(box->count(), 3);
    int widest = 0;
    for (int i = 0; i < box->count(); ++i) {
        QListWidgetItem* line = box->item(i);
        SCOPED_TRACE(line->text().toStdString());
        EXPECT_TRUE(line->text().contains(QStringLiteral("-letter.pdf does not exist")));
        EXPECT_EQ(line->toolTip(), line->text());
        const int needed =
            box->iconSize().width() + QFontMetrics(box->font()).horizontalAdvance(line->text());
        const int given = box->visualItemRect(line).width();
        EXPECT_GE(given, needed) << "cut off";
        widest = std::max(widest, given);
    }
    EXPECT_GE(box->horizontalScrollBar()->maximum() + box->viewport()->width(), widest)
        << "the end of the widest line cannot be scrolled to";
    fileTest.close();
}

} // namespace
