// SPDX-License-Identifier: GPL-3.0-or-later
// The mail part of the main window: the header panel (From, To, Subject, attachments,
// Send and the preview button) and the mail text below it. The editors show the mail's
// bytes through its encoding and give back exactly those bytes.
#pragma once

#include <QObject>
#include <utility>
#include <vector>

#include "model/MailDocument.h"

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QStackedWidget;
class QTextBrowser;
class QPlainTextEdit;
class QPushButton;
class QToolButton;
class QWidget;

namespace tandrel {

class MailPanel : public QObject {
    Q_OBJECT
public:
    // The controls are made inside `area`, which the window lays out with layout().
    MailPanel(MailDocument& mail, QWidget* area);

    // The texts of the four editors as bytes in the mail's encoding.
    MailEditors texts() const;
    // Puts the texts into the editors, read through the mail's encoding (or `enc`).
    void setTexts(const MailEditors& eds);
    void showTexts(const MailEditors& eds, TextEncoding enc);
    // Shows the mail merged for `entry`, read-only on a tinted background, and keeps the
    // template (from which the mail text of `st` is built) until restoreTemplate.
    void showPreview(AppState& st, const Person& entry);
    // Puts back exactly what the editors held when the preview began.
    void restoreTemplate();
    bool previewShown() const { return previewShown_; }
    // The mail as the user wrote it: the editors, or the template a preview keeps.
    MailEditors templateTexts() const { return previewShown_ ? template_ : texts(); }

    // Places the header panel below `top` and the mail text under it, `width` wide.
    void layout(int top, int width, int height);
    // The header panel is taller while the copy lines are shown.
    int headerHeight() const;

    // `copyLines` (checkable) shows the Cc, Bcc and Reply-To editors; `formatted`
    // (checkable) makes the body Markdown. Both follow the mail that is set.
    void useActions(QAction* copyLines, QAction* formatted);

    QWidget* headerPanel = nullptr;
    QLineEdit* fromEdit = nullptr;
    QLineEdit* toEdit = nullptr;
    QLineEdit* subjectEdit = nullptr;
    QToolButton* attachButton = nullptr;
    QGroupBox* sendGroup = nullptr;
    QPushButton* sendButton = nullptr;
    QToolButton* previewButton = nullptr;
    QPlainTextEdit* bodyEdit = nullptr;
    QLineEdit* ccEdit = nullptr;
    QLineEdit* bccEdit = nullptr;
    QLineEdit* replyToEdit = nullptr;
    // The rendered preview of a Markdown mail, in the body editor's place.
    QTextBrowser* htmlPreview = nullptr;

signals:
    // The user changed a text or the format (never when the texts are set from code).
    void edited();
    // The header panel changed its height.
    void heightChanged();
    // The user switched the format (a shown preview is then out of date).
    void formatSwitched();

private:
    void typed(const QString& added);
    void setPreviewLook(bool preview);
    void showCopyLines(bool on);
    void layoutCopyLines(int width);
    // The copy editors with the header names they stand for.
    std::vector<std::pair<QLineEdit*, const char*>> copyEditors() const;

    MailDocument& mail_;
    bool settingTexts_ = false;
    bool previewShown_ = false;
    MailEditors template_; // the editors as they were when the preview began
    // The header lines besides From, To and Subject as set; the copy editors write
    // theirs into it, the others pass through untouched and in order.
    std::vector<HeaderLine> headerLines_;
    MailFormat format_ = MailFormat::Plain;
    std::vector<QLabel*> rowLabels_; // From, To and Subject
    std::vector<QLabel*> copyLabels_;
    QAction* copyLinesAction_ = nullptr;
    QAction* formattedAction_ = nullptr;
};

} // namespace tandrel
