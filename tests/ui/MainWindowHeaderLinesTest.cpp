// SPDX-License-Identifier: GPL-3.0-or-later
// A mail with copy lines, other header lines and a Markdown body through the window:
// shown, edited, saved, read back by Python's email parser, reopened and previewed.
#include <QAction>
#include <QProcess>
#include <QTest>
#include <QTextBrowser>

#include "tests/ui/MainWindowFixture.h"

namespace tandrel::test {
namespace {

// "Name: value" for every header line of the file as Python's email package reads it.
std::vector<std::string> PythonHeaderLines(const std::string& path) {
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import email, sys\n"
                                 "m = email.message_from_bytes(open(sys.argv[1], 'rb').read())\n"
                                 "for k, v in m.items(): print(k + ': ' + v)\n"),
                  QString::fromStdString(path)});
    python.waitForFinished();
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    std::vector<std::string> lines;
    for (const QByteArray& l : python.readAllStandardOutput().split('\n'))
        if (!l.isEmpty() && !l.startsWith("Date:")) lines.push_back(l.toStdString());
    return lines;
}

TEST_F(MainWindowTest, CopyLinesOtherHeaderLinesAndMarkdownSurviveEditAndSave) {
    startWithAll("Date: x\r\n"
                 "From: me@x\r\n"
                 "To: [email]\r\n"
                 "Subject: News\r\n"
                 "Cc: [boss]\r\n"
                 "X-Campaign: spring [email]\r\n"
                 "Bcc: audit@x\r\n"
                 "Reply-To: desk@x\r\n"
                 "List-Unsubscribe: <mailto:off@x?subject=[email]>\r\n"
                 "Content-type: text/markdown\r\n"
                 "\r\n"
                 "Dear **[name]**,\r\n",
                 "name\r\nemail\r\nboss\r\n", "Tom & <Jerry>;tom@x;boss@x\r\n");
    w->show();
    QLineEdit* cc = edit("CcEdit");
    EXPECT_TRUE(cc->isVisible());
    EXPECT_TRUE(action("ViewCopyLines")->isChecked());
    EXPECT_TRUE(action("FormatMarkdown")->isChecked());
    EXPECT_EQ(cc->text(), QStringLiteral("[boss]"));
    EXPECT_EQ(edit("BccEdit")->text(), QStringLiteral("audit@x"));
    EXPECT_EQ(edit("ReplyToEdit")->text(), QStringLiteral("desk@x"));
    EXPECT_FALSE(w->windowTitle().contains(QLatin1Char('*')));

    cc->selectAll();
    QTest::keyClicks(cc, "chief@x, [boss]");
    edit("ReplyToEdit")->selectAll();
    QTest::keyClick(edit("ReplyToEdit"), Qt::Key_Delete); // an emptied line goes
    EXPECT_TRUE(w->windowTitle().contains(QStringLiteral("mail.txt*")));
    w->saveAll();

    const std::vector<std::string> expected{
        "From: me@x",
        "To: [email]",
        "Subject: News",
        "Cc: chief@x, [boss]",
        "X-Campaign: spring [email]",
        "Bcc: audit@x",
        "List-Unsubscribe: <mailto:off@x?subject=[email]>",
        "MIME-Version: 1.0",
        "Content-type: text/markdown",
        "X-Mailer: Tandrel 1.1",
    };
    EXPECT_EQ(PythonHeaderLines(dir.file("mail.txt")), expected);

    // Reopened from the file: the same lines, and Markdown still switched on.
    w->close();
    app.reset();
    start();
    w->show();
    EXPECT_EQ(edit("CcEdit")->text(), QStringLiteral("chief@x, [boss]"));
    EXPECT_EQ(edit("ReplyToEdit")->text(), QString());
    EXPECT_TRUE(action("FormatMarkdown")->isChecked());
    EXPECT_FALSE(w->windowTitle().contains(QLatin1Char('*')));

    // The preview merges the copy lines and renders the body; the value stays text.
    QTest::mouseClick(find<QPushButton>("Button3"), Qt::LeftButton);
    selectRows(receipients(), {0});
    QTest::mouseClick(find<QToolButton>("SpeedButton1"), Qt::LeftButton);
    ASSERT_TRUE(w->previewShown());
    EXPECT_EQ(edit("CcEdit")->text(), QStringLiteral("chief@x, boss@x"));
    auto* html = find<QTextBrowser>("HtmlPreview");
    EXPECT_TRUE(html->isVisible());
    EXPECT_FALSE(body()->isVisible());
    EXPECT_TRUE(html->toPlainText().contains(QStringLiteral("Dear Tom & <Jerry>,")))
        << html->toPlainText().toStdString();
    EXPECT_TRUE(html->toHtml().contains(QStringLiteral("Tom &amp; &lt;Jerry&gt;")));

    // Switched to plain text, the preview shows the Markdown as written, merged.
    action("FormatMarkdown")->trigger();
    EXPECT_TRUE(w->previewShown());
    EXPECT_FALSE(html->isVisible());
    EXPECT_EQ(body()->toPlainText(), QStringLiteral("Dear **Tom & <Jerry>**,"));
    EXPECT_TRUE(w->windowTitle().contains(QStringLiteral("mail.txt*")));
}

} // namespace
} // namespace tandrel::test
