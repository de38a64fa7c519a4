// SPDX-License-Identifier: GPL-3.0-or-later
// The file test window builds its lines afresh every time it is shown.
#include <gtest/gtest.h>

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "tests/ui/AttachmentsWindowTestHooks.h"
#include "ui/attachments/FileTestWindow.h"
#include "tests/support/TestSupport.h"

using tandrel::FileTestWindow;

using tandrel::test::TempDir;
using tandrel::test::WriteFileBytes;

namespace {

QStringList Lines(FileTestWindow& form) {
    form.show();
    auto* box = form.findChild<QListWidget*>("ListBox1");
    QStringList lines;
    for (int i = 0; i < box->count(); ++i)
        lines << box->item(i)->text();
    form.findChild<QPushButton*>("OKBut")->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Accepted);
    return lines;
}

QString Q(const std::string& s) {
    return QString::fromLocal8Bit(s.c_str());
}

TEST(FileTestWindow, LinesFollowTheAttachmentsAndTheDatabaseAtEveryShowing) {
    TempDir dir;
    tandrel::test::AttachTestHooks main;
    FileTestWindow form(main.st);
    EXPECT_EQ(form.windowTitle(), "File test result");

    const std::string templ = dir.file("[name].txt");
    main.st.attachments.push_back(tandrel::MakeAttachment(templ));
    // No database yet: the unmerged path.
    EXPECT_EQ(Lines(form), QStringList{Q(templ) + " does not exist"});

    main.st.newDatabase();
    EXPECT_EQ(Lines(form), QStringList{Q(templ) + " does not exist"});

    for (const char* name : {"Ann", "Bob", "Cy"}) {
        tandrel::Person& e = main.st.db->appendEntry();
        e.setName(name);
        e.values = {name, ""};
    }
    WriteFileBytes(dir.file("Bob.txt"), std::string(2048, 'b'));
    // Each merged line names its person; the files that cannot be sent stand out.
    EXPECT_EQ(Lines(form), (QStringList{"Ann: " + Q(dir.file("Ann.txt")) + " does not exist",
                                        "Bob: " + Q(dir.file("Bob.txt")) + " found - size: 2" +
                                            QLocale().decimalPoint() + "00Kb - type: text/plain",
                                        "Cy: " + Q(dir.file("Cy.txt")) + " does not exist"}));
    form.show();
    auto* box = form.findChild<QListWidget*>("ListBox1");
    for (int i = 0; i < box->count(); ++i) {
        const bool missing = i != 1;
        EXPECT_FALSE(box->item(i)->icon().isNull()) << i;
        EXPECT_EQ(box->item(i)->icon().cacheKey() == box->item(0)->icon().cacheKey(), i != 1) << i;
        EXPECT_EQ(box->item(i)->foreground().color() == QColor(Qt::red), missing) << i;
    }
    EXPECT_EQ(form.findChild<QLabel*>("SummaryLabel")->text(),
              "2 of 3 files are missing or cannot be read.");
    form.close();

    // Emptied list: the old lines do not linger.
    main.st.attachments.clear();
    EXPECT_TRUE(Lines(form).isEmpty());
}

} // namespace
