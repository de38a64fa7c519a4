// SPDX-License-Identifier: GPL-3.0-or-later
// The about box: its texts, every time it is set up, and its own icon.
#include <QFontInfo>
#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QPushButton>

#include "ui/main/AboutBox.h"
#include "tests/ui/ControlsFit.h"

using tandrel::AboutBox;

namespace {

TEST(AboutBox, ShowsNameVersionAndCreditsEachTime) {
    const std::string programDir = "/home/ann/.config/tandrel";
    AboutBox about(programDir);
    EXPECT_EQ(about.windowTitle(), "About Tandrel");

    const QString credits = AboutBox::creditText();
    EXPECT_TRUE(credits.contains("Tandrel developers"));
    EXPECT_TRUE(credits.contains("repository"));
    EXPECT_GE(credits.count('\n'), 1); // several lines

    auto* label1 = about.findChild<QLabel*>("Label1");
    auto* label2 = about.findChild<QLabel*>("Label2");
    for (int opening = 0; opening < 2; ++opening) {
        about.setTexts("Tandrel 1.1", credits);
        about.show();
        EXPECT_EQ(label1->text(), "Tandrel 1.1");
        EXPECT_EQ(label2->text(), credits);
        // The name stands out above the credits, and every line of both can be read.
        EXPECT_GT(QFontInfo(label1->font()).pixelSize(), QFontInfo(label2->font()).pixelSize());
        tandrel::test::ExpectControlsFit(&about);
        EXPECT_EQ(about.findChild<QLabel*>("FolderLabel")->text(),
                  AboutBox::folderText("/home/ann/.config/tandrel"));
        about.findChild<QPushButton*>("OKButton")->click();
        EXPECT_FALSE(about.isVisible());
        EXPECT_EQ(about.result(), QDialog::Accepted);
        label1->clear(); // as if something had changed it in between
    }
}

TEST(AboutBox, IconIsDrawnAt32By32) {
    const QImage image = AboutBox::programIcon().toImage();
    ASSERT_EQ(image.size(), QSize(32, 32));
    int opaque = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            opaque += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
    EXPECT_GT(opaque, 200);
    EXPECT_LT(opaque, 32 * 32); // a shape, not a filled square
    EXPECT_EQ(AboutBox::programIcon(2.0).toImage().size(), QSize(64, 64));
}

} // namespace
