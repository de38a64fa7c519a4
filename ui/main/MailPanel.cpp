// SPDX-License-Identifier: GPL-3.0-or-later
// The mail editors of the main window: their controls, their texts as bytes, and the
// look of a preview.
#include "ui/main/MailPanel.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolButton>
#include <algorithm>
#include <tuple>

#include "merge/MailPreview.h"
#include "model/MailFile.h"
#include "ui/main/MainLook.h"

namespace tandrel {

using namespace mainwindow;

namespace {
// From, To and Subject are rows of a label and an editor that reaches to the attachments
// button beside the Send group; the copy lines share one row under all of them.
constexpr int kFirstRowTop = 8;
constexpr int kHeaderRowHeight = 24;
constexpr int kEditHeight = 21;
constexpr int kLabelLeft = 4;
constexpr int kLabelWidth = 54;
constexpr int kEditLeft = 62;
constexpr int kAttachSize = 41;
// Between the editors, the attachments button and the Send group.
constexpr int kGap = 14;
// Between an editor of the copy row and the label of the next one.
constexpr int kCopyGap = 8;
constexpr int kCopyLineCount = 3;
} // namespace

MailPanel::MailPanel(MailDocument& mail, QWidget* area) : QObject(area), mail_(mail) {
    headerPanel = new QWidget(area);
    headerPanel->setObjectName(QStringLiteral("Panel2"));
    // Placed by layout().
    auto headerLine = [this](const char* labelName, const QString& caption, const char* editName,
                             int context) {
        auto* l = new QLabel(caption, headerPanel);
        l->setObjectName(QString::fromLatin1(labelName));
        l->setFont(scaledFont(headerPanel->font(), 8, true));
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        auto* e = new QLineEdit(headerPanel);
        e->setObjectName(QString::fromLatin1(editName));
        e->setProperty(kHelpContext, context);
        e->setAccessibleName(caption);
        l->setBuddy(e);
        return std::pair{l, e};
    };
    QLabel* rowLabel = nullptr;
    std::tie(rowLabel, fromEdit) = headerLine("Label1", QStringLiteral("From:"), "FrEdit", 2);
    rowLabels_.push_back(rowLabel);
    std::tie(rowLabel, toEdit) = headerLine("Label2", QStringLiteral("To:"), "ToEdit", 3);
    rowLabels_.push_back(rowLabel);
    std::tie(rowLabel, subjectEdit) =
        headerLine("Label3", QStringLiteral("Subject:"), "SubEdit", 4);
    rowLabels_.push_back(rowLabel);
    QLineEdit** copyEdits[] = {&ccEdit, &bccEdit, &replyToEdit};
    const struct {
        const char* label;
        const char* caption;
        const char* edit;
    } copyLines[] = {{"CcLabel", "Cc:", "CcEdit"},
                     {"BccLabel", "Bcc:", "BccEdit"},
                     {"ReplyToLabel", "Reply-To:", "ReplyToEdit"}};
    for (int i = 0; i < kCopyLineCount; ++i) {
        auto [label, edit] = headerLine(
            copyLines[i].label, QString::fromLatin1(copyLines[i].caption), copyLines[i].edit, 4);
        label->hide();
        edit->hide();
        copyLabels_.push_back(label);
        *copyEdits[i] = edit;
    }

    attachButton = new QToolButton(headerPanel);
    attachButton->setObjectName(QStringLiteral("AttachBut"));
    attachButton->resize(kAttachSize, kAttachSize);
    attachButton->setIcon(svgIcon(QStringLiteral(":/icons/attachments.svg"), QSize(32, 32)));
    attachButton->setIconSize(QSize(32, 32));
    attachButton->setToolTip(QStringLiteral("Attachments"));
    attachButton->setFocusPolicy(Qt::StrongFocus);
    attachButton->setAccessibleName(QStringLiteral("Attachments"));

    sendGroup = new QGroupBox(headerPanel);
    sendGroup->setObjectName(QStringLiteral("GroupBox1"));
    sendGroup->setAccessibleName(QStringLiteral("Send"));
    sendButton = new QPushButton(QStringLiteral("Send"), sendGroup);
    sendButton->setObjectName(QStringLiteral("SendBut"));
    sendButton->setGeometry(12, 24, 75, 41);
    sendButton->setFont(scaledFont(headerPanel->font(), 14, true));
    sendButton->setAutoDefault(false);
    sendButton->setAccessibleName(QStringLiteral("Send"));
    previewButton = new QToolButton(sendGroup);
    previewButton->setObjectName(QStringLiteral("SpeedButton1"));
    previewButton->setGeometry(100, 32, 25, 25);
    previewButton->setCheckable(true);
    previewButton->setToolTip(QStringLiteral("Preview mail"));
    previewButton->setStatusTip(QStringLiteral("Preview mail"));
    previewButton->setFocusPolicy(Qt::StrongFocus);
    previewButton->setAccessibleName(QStringLiteral("Preview mail"));
    {
        QIcon icon;
        const QSize sz(20, 20);
        for (qreal dpr : {1.0, 2.0}) {
            icon.addPixmap(renderSvg(QStringLiteral(":/icons/preview-off.svg"), sz, dpr),
                           QIcon::Normal, QIcon::Off);
            icon.addPixmap(renderSvg(QStringLiteral(":/icons/preview-on.svg"), sz, dpr),
                           QIcon::Normal, QIcon::On);
        }
        previewButton->setIcon(icon);
        previewButton->setIconSize(sz);
    }

    bodyEdit = new QPlainTextEdit(area);
    bodyEdit->setObjectName(QStringLiteral("RichEdit1"));
    bodyEdit->setLineWrapMode(QPlainTextEdit::NoWrap);
    bodyEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    bodyEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    bodyEdit->setContextMenuPolicy(Qt::CustomContextMenu);
    bodyEdit->setTabChangesFocus(true); // Ctrl+Tab inserts a tab (the window's key filter)
    bodyEdit->setProperty(kHelpContext, 1);
    bodyEdit->setAccessibleName(QStringLiteral("Mail text"));
    htmlPreview = new QTextBrowser(area);
    htmlPreview->setObjectName(QStringLiteral("HtmlPreview"));
    htmlPreview->setAccessibleName(QStringLiteral("Formatted preview"));
    htmlPreview->setOpenLinks(false); // a preview never leaves the window
    htmlPreview->setProperty(kHelpContext, 1);
    htmlPreview->hide();
    connect(bodyEdit->document(), &QTextDocument::contentsChange, this,
            [this](int pos, int, int added) {
                if (settingTexts_) return;
                if (added > 0) {
                    QTextCursor c(bodyEdit->document());
                    const int end =
                        std::min(pos + added, bodyEdit->document()->characterCount() - 1);
                    c.setPosition(std::min(pos, end));
                    c.setPosition(end, QTextCursor::KeepAnchor);
                    QString text = c.selectedText();
                    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
                    typed(text);
                }
                emit edited();
            });
    for (QLineEdit* e : {fromEdit, toEdit, subjectEdit, ccEdit, bccEdit, replyToEdit})
        connect(e, &QLineEdit::textEdited, this, [this](const QString& text) {
            typed(text);
            emit edited();
        });
}

// Only the new text is looked at: a character the mail's encoding lacks makes it UTF-8.
void MailPanel::typed(const QString& added) {
    mail_.acceptTyped(Utf8Bytes(added));
}

MailEditors MailPanel::texts() const {
    MailEditors eds;
    const TextEncoding enc = mail_.encoding();
    eds.from = EncodedBytes(fromEdit->text(), enc);
    eds.to = EncodedBytes(toEdit->text(), enc);
    eds.subject = EncodedBytes(subjectEdit->text(), enc);
    eds.headerLines = headerLines_;
    eds.format = format_;
    for (const auto& [edit, name] : copyEditors()) {
        std::string value = EncodedBytes(edit->text(), enc);
        const std::string* had = FindHeaderValue(eds, name);
        // A line left as it was stays exactly as it was (blank values and all).
        if (had && *had == value) continue;
        if (value.empty())
            RemoveHeaderLines(eds, name);
        else
            SetHeaderValue(eds, name, std::move(value));
    }
    // The raw text, not toPlainText(): that turns non-breaking spaces into plain blanks,
    // and the mail must keep every character as typed or loaded.
    QString body = bodyEdit->document()->toRawText();
    for (QChar& c : body) {
        const char16_t u = c.unicode();
        if (u == QChar::ParagraphSeparator || u == QChar::LineSeparator || u == 0xfdd0 ||
            u == 0xfdd1)
            c = QLatin1Char('\n');
    }
    if (!body.isEmpty()) {
        const QStringList lines = body.split(QLatin1Char('\n'));
        eds.body.reserve(static_cast<std::size_t>(lines.size()));
        for (const QString& l : lines)
            eds.body.push_back(EncodedBytes(l, enc));
    }
    return eds;
}

void MailPanel::setTexts(const MailEditors& eds) {
    showTexts(eds, mail_.encoding());
}

void MailPanel::showTexts(const MailEditors& eds, TextEncoding enc) {
    settingTexts_ = true;
    fromEdit->setText(EncodedText(eds.from, enc));
    toEdit->setText(EncodedText(eds.to, enc));
    subjectEdit->setText(EncodedText(eds.subject, enc));
    headerLines_ = eds.headerLines;
    format_ = eds.format;
    bool hasCopyLine = false;
    for (const auto& [edit, name] : copyEditors()) {
        const std::string* value = FindHeaderValue(eds, name);
        edit->setText(value ? EncodedText(*value, enc) : QString());
        hasCopyLine = hasCopyLine || value;
    }
    if (hasCopyLine) showCopyLines(true);
    if (formattedAction_) {
        const QSignalBlocker block(formattedAction_);
        formattedAction_->setChecked(format_ == MailFormat::Markdown);
    }
    QString body;
    for (std::size_t i = 0; i < eds.body.size(); ++i) {
        if (i) body += QLatin1Char('\n');
        body += EncodedText(eds.body[i], enc);
    }
    bodyEdit->setPlainText(body); // the caret goes to the start
    settingTexts_ = false;
}

void MailPanel::showPreview(AppState& st, const Person& entry) {
    WaitCursor wait;
    MailEditors templ = texts();
    BuildMailText(st, templ);
    // Made before the editors turn into a preview: a merge that fails (values that
    // refer to each other without end) leaves them as they were.
    const MailPreview preview =
        PreviewMail(st.db->fields, st.mailText, templ.format, entry, st.user.lastMail);
    setPreviewLook(true);
    template_ = std::move(templ);
    showTexts(preview.shown, preview.encoding);
    if (template_.format == MailFormat::Markdown) {
        // Relative image sources are read from the mail's folder, as a message takes them.
        htmlPreview->setSearchPaths({PathText(preview.imageFolder)});
        htmlPreview->setHtml(WordsText(preview.html));
        htmlPreview->show();
        bodyEdit->hide();
    }
    previewShown_ = true;
}

void MailPanel::restoreTemplate() {
    WaitCursor wait;
    setPreviewLook(false);
    // Exactly what the editors held when the preview began; the mail text was built from it.
    previewShown_ = false;
    htmlPreview->hide();
    htmlPreview->clear();
    bodyEdit->show();
    setTexts(template_);
    template_ = MailEditors{};
}

void MailPanel::setPreviewLook(bool preview) {
    // Nothing typed into a preview could be kept: it ends with the template put back.
    for (QLineEdit* e : {fromEdit, toEdit, subjectEdit, ccEdit, bccEdit, replyToEdit})
        e->setReadOnly(preview);
    bodyEdit->setReadOnly(preview);
    if (!preview) {
        bodyEdit->setPalette(QPalette());
        return;
    }
    QPalette pal = bodyEdit->palette();
    QWidget* window = bodyEdit->window();
    QColor tint = window->palette().color(QPalette::Inactive, QPalette::Window).darker(112);
    pal.setColor(QPalette::Active, QPalette::Base, tint);
    pal.setColor(QPalette::Inactive, QPalette::Base, tint);
    bodyEdit->setPalette(pal);
    htmlPreview->setPalette(pal);
}

void MailPanel::layout(int top, int width, int height) {
    const int header = headerHeight();
    headerPanel->setGeometry(0, top, width, header);
    const int groupLeft = width - kGroupBoxWidth;
    sendGroup->setGeometry(groupLeft, 0, kGroupBoxWidth, kHeaderPanelHeight);
    const int attachLeft = groupLeft - kGap - kAttachSize;
    attachButton->move(attachLeft, (kHeaderPanelHeight - kAttachSize) / 2);
    // From, To and Subject grow with the window.
    const int editWidth = std::max(kLabelWidth, attachLeft - kGap - kEditLeft);
    int row = kFirstRowTop;
    for (QLabel* label : rowLabels_) {
        label->setGeometry(kLabelLeft, row, kLabelWidth, kEditHeight);
        label->buddy()->setGeometry(kEditLeft, row, editWidth, kEditHeight);
        row += kHeaderRowHeight;
    }
    layoutCopyLines(width);
    const int bodyTop = top + header;
    bodyEdit->setGeometry(0, bodyTop, width, std::max(0, height - bodyTop));
    htmlPreview->setGeometry(bodyEdit->geometry());
}

// Cc, Bcc and Reply-To in one row under the Send group, so that showing them costs the
// mail text a single line: the first label in the column of the labels above, the others
// as wide as their captions, the three editors sharing the rest of the width.
void MailPanel::layoutCopyLines(int width) {
    const int right = width - kLabelLeft;
    int labels = 0;
    for (std::size_t i = 1; i < copyLabels_.size(); ++i)
        labels += kCopyGap + copyLabels_[i]->sizeHint().width() + kLabelLeft;
    const int count = static_cast<int>(copyLabels_.size());
    const int editWidth = std::max(kLabelWidth, (right - kEditLeft - labels) / count);
    const std::vector<std::pair<QLineEdit*, const char*>> edits = copyEditors();
    int x = kEditLeft;
    for (int i = 0; i < count; ++i) {
        QLabel* label = copyLabels_[static_cast<std::size_t>(i)];
        if (i == 0) {
            label->setGeometry(kLabelLeft, kHeaderPanelHeight, kLabelWidth, kEditHeight);
        } else {
            x += kCopyGap;
            label->setGeometry(x, kHeaderPanelHeight, label->sizeHint().width(), kEditHeight);
            x += label->width() + kLabelLeft;
        }
        edits[static_cast<std::size_t>(i)].first->setGeometry(x, kHeaderPanelHeight, editWidth,
                                                              kEditHeight);
        x += editWidth;
    }
}

int MailPanel::headerHeight() const {
    const bool copies = copyLinesAction_ ? copyLinesAction_->isChecked() : !ccEdit->isHidden();
    return kHeaderPanelHeight + (copies ? kHeaderRowHeight : 0);
}

std::vector<std::pair<QLineEdit*, const char*>> MailPanel::copyEditors() const {
    return {{ccEdit, "Cc"}, {bccEdit, "Bcc"}, {replyToEdit, "Reply-To"}};
}

void MailPanel::useActions(QAction* copyLines, QAction* formatted) {
    copyLinesAction_ = copyLines;
    formattedAction_ = formatted;
    copyLines->setChecked(!ccEdit->isHidden());
    formatted->setChecked(format_ == MailFormat::Markdown);
    connect(copyLines, &QAction::toggled, this, &MailPanel::showCopyLines);
    connect(formatted, &QAction::toggled, this, [this](bool on) {
        format_ = on ? MailFormat::Markdown : MailFormat::Plain;
        // The mail as written is what a switch changes, also while a preview is shown.
        if (previewShown_) template_.format = format_;
        emit edited();
        emit formatSwitched();
    });
}

// Hidden editors keep their texts: hiding them changes nothing in the mail.
void MailPanel::showCopyLines(bool on) {
    if (copyLinesAction_ && copyLinesAction_->isChecked() != on) {
        copyLinesAction_->setChecked(on); // comes back here through toggled
        return;
    }
    if (ccEdit->isHidden() == !on) return;
    for (QLabel* l : copyLabels_)
        l->setVisible(on);
    for (const auto& [edit, name] : copyEditors())
        edit->setVisible(on);
    emit heightChanged();
}

} // namespace tandrel
