// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's construction, its layout when resized or split, the keys and hints
// it handles for every control, and its help.
#include "ui/main/MainWindow.h"

#include <QApplication>
#include <QFocusEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusTipEvent>
#include <QTextBrowser>
#include <QToolButton>
#include <algorithm>

#include "model/Settings.h"
#include "ui/HelpWindow.h"
#include "ui/Resources.h"
#include "ui/attachments/AttachmentsWindow.h"
#include "ui/database/DatabaseEditor.h"
#include "ui/main/AboutBox.h"
#include "ui/main/MailPanel.h"
#include "ui/main/MainLook.h"
#include "ui/main/MainMenus.h"
#include "ui/main/MainStatusBar.h"
#include "ui/main/PaneSplitter.h"
#include "ui/main/PeopleModel.h"
#include "ui/main/PeoplePanes.h"
#include "ui/settings/PreferencesDialog.h"

namespace tandrel {

using namespace mainwindow;

MainWindow::MainWindow(QWidget* parent, const std::string& programDir) : QMainWindow(parent) {
    RegisterResources();
    setObjectName(QStringLiteral("TForm1"));
    // "MS Sans Serif" 8 points as designed: the platform's sans-serif face at that size.
    QFont base = font();
    base.setFamily(QStringLiteral("Sans Serif"));
    base.setStyleHint(QFont::SansSerif);
    base.setPointSize(8);
    setFont(base);
    setHint(this, QString::fromLatin1(kWindowHint));
    setMinimumSize(kMinWidth, kMinHeight);
    resize(700, 600);

    menus_ =
        new MainMenus(*this, *this, [this](const QString& text) { statusLine_->setText(0, text); });
    statusLine_ = new MainStatusBar(this);
    setStatusBar(statusLine_);
    buildClientArea();

    // Every key reaches the window before the focused control.
    qApp->installEventFilter(this);

    database_.onSwitchedToUtf8 = [this] {
        displayHint(QStringLiteral("The database now holds a character Windows-1252 lacks: "
                                   "it will be saved as UTF-8"));
    };
    startUp(programDir);
    // The other windows come once all loading is done, in the program's order.
    buildDialogs();
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
    // The other windows go first, while the state they were given still exists.
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child->isWindow()) delete child;
    help_ = nullptr;
    // The lists must not outlive the entries they point to.
    people_->clear();
}

void MainWindow::buildDialogs() {
    // The dialogs are children of the main window and go with it.
    databaseEditor_ = new DatabaseEditor(database_, this);
    connect(databaseEditor_, &DatabaseEditor::closed, this, [this] {
        setControlsEnabled(true);
        refreshLists();
    });
    preferences_ = new PreferencesDialog(st_, this);
    connect(preferences_, &PreferencesDialog::explained, this, &MainWindow::displayHint);
    about_ = new AboutBox(st_.programDir, this);
    attachments_ = new AttachmentsWindow(st_, this);
    connect(attachments_, &AttachmentsWindow::closed, this, &MainWindow::updateStatusBar);
}

void MainWindow::buildClientArea() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("ClientArea"));
    auto* hbox = new QHBoxLayout(central);
    hbox->setContentsMargins(0, 0, 0, 0);
    hbox->setSpacing(0);
    setCentralWidget(central);

    fieldList_ = new QListWidget;
    fieldList_->setObjectName(QStringLiteral("ListBox3"));
    fieldList_->setFixedWidth(kFieldListWidth);
    fieldList_->setSelectionMode(QAbstractItemView::SingleSelection);
    fieldList_->setAccessibleName(QStringLiteral("Fields"));
    setHint(fieldList_,
            QStringLiteral("|List of available fields - double click a field to insert it"));
    fieldList_->setProperty(kHelpContext, 5);
    connect(fieldList_, &QListWidget::itemSelectionChanged, this, &MainWindow::onFieldListClicked);
    connect(fieldList_, &QListWidget::itemClicked, this, [this] { onFieldListClicked(); });
    connect(fieldList_, &QListWidget::itemDoubleClicked, this, [this] { insertField(); });
    hbox->addWidget(fieldList_);

    mailArea_ = new QWidget;
    mailArea_->setObjectName(QStringLiteral("Panel1"));
    hbox->addWidget(mailArea_, 1);

    // Upper pane: "Available", the move buttons, "Receipients".
    people_ = new PeoplePanes(database_, mailArea_);
    connect(people_, &PeoplePanes::countsChanged, this, &MainWindow::updateStatusBar);
    connect(people_, &PeoplePanes::recipientSelectionChanged, this,
            &MainWindow::onRecipientSelectionChanged);

    auto* splitter = new PaneSplitter(mailArea_);
    splitter->setObjectName(QStringLiteral("Splitter1"));
    splitter->setAccessibleName(QStringLiteral("Splitter"));
    splitter->startHeight = [this] { return shownPaneHeight(); };
    splitter->dragged = [this](int start, int dy) { dragSplitter(start, dy); };
    paneSplitter_ = splitter;

    // Header panel: From, To, Subject, attachments, Send and the preview button; the mail.
    editors_ = new MailPanel(mail_, mailArea_);
    connect(editors_, &MailPanel::edited, this, &MainWindow::updateTitle);
    editors_->useActions(menus_->copyLinesAction, menus_->formattedAction);
    connect(editors_, &MailPanel::heightChanged, this, &MainWindow::layoutMailArea);
    connect(editors_, &MailPanel::formatSwitched, this, &MainWindow::onRecipientSelectionChanged);
    connect(editors_->attachButton, &QToolButton::clicked, this, &MainWindow::editAttachments);
    connect(editors_->sendButton, &QPushButton::clicked, this, &MainWindow::sendMailing);
    // The checked state, not the click: assistive technology flips it without clicking.
    connect(editors_->previewButton, &QToolButton::toggled, this, [this](bool on) {
        if (on && people_->selectedRecipientCount() != 1)
            displayHint(QStringLiteral("Select exactly one receipient to preview the mail"));
        onPreviewToggled();
    });
    QPlainTextEdit* body = editors_->bodyEdit;
    connect(body, &QPlainTextEdit::selectionChanged, this, &MainWindow::onBodySelectionChanged);
    connect(body, &QWidget::customContextMenuRequested, this, [this, body](const QPoint& pos) {
        menus_->bodyMenu->popup(body->viewport()->mapToGlobal(pos));
    });

    // Reading order for the keyboard: fields, the people lists with their buttons, the
    // header lines, attachments, Send, preview, then the mail text.
    std::vector<QWidget*> order{fieldList_};
    for (QWidget* w : people_->tabOrder())
        order.push_back(w);
    for (QWidget* w : std::initializer_list<QWidget*>{
             editors_->fromEdit, editors_->toEdit, editors_->subjectEdit, editors_->ccEdit,
             editors_->bccEdit, editors_->replyToEdit, editors_->attachButton, editors_->sendButton,
             editors_->previewButton, body, editors_->htmlPreview})
        order.push_back(w);
    for (std::size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    layoutMailArea();
}

// ---------------------------------------------------------------------------------------
// Layout

void MainWindow::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    adjustToSize();
}

void MainWindow::adjustToSize() {
    if (width() < kMinWidth || height() < kMinHeight)
        resize(std::max(width(), kMinWidth), std::max(height(), kMinHeight));
    people_->setAvailableWidth((width() - kFieldListWidth - kMoveButtonsWidth) / 2);
    paneHeight_ = (height() - 50) / 2;
    layoutMailArea();
    update();
}

// The header lines beyond From, To and Subject take their room from the upper pane, not
// from the mail text, as far as the pane keeps its move buttons in view.
int MainWindow::shownPaneHeight() const {
    const int extra = editors_->headerHeight() - kHeaderPanelHeight;
    return std::max(std::min(paneHeight_, kUpperPaneMinHeight), paneHeight_ - extra);
}

// mailArea_ stacks, top to bottom: the upper pane at its own height, the splitter, the
// header panel, and the body editor in what is left.
void MainWindow::layoutMailArea() {
    if (!mailArea_ || !people_ || !editors_) return;
    const int w = mailArea_->width();
    const int h = mailArea_->height();
    const int pane = shownPaneHeight();
    people_->setGeometry(0, 0, w, pane);
    paneSplitter_->setGeometry(0, pane, w, kSplitterHeight);
    editors_->layout(pane + kSplitterHeight, w, h);
}

void MainWindow::dragSplitter(int startHeight, int dy) {
    // The body editor keeps at least 60; the upper pane keeps its move buttons in view.
    const int maxPane =
        mailArea_->height() - kSplitterHeight - editors_->headerHeight() - kSplitterMinSize;
    int pane = startHeight + dy;
    pane = std::min(pane, maxPane);
    pane = std::max(pane, kUpperPaneMinHeight);
    paneHeight_ = pane + editors_->headerHeight() - kHeaderPanelHeight;
    layoutMailArea();
}

// ---------------------------------------------------------------------------------------
// Events

bool MainWindow::event(QEvent* e) {
    if (e->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(e)->tip();
        if (qobject_cast<QMenu*>(QApplication::activePopupWidget()))
            menus_->showOpenMenuHint();
        else
            displayHint(tip.isEmpty() ? QString::fromLatin1(kWindowHint) : tip);
        return true;
    }
    return QMainWindow::event(e);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* e) {
    switch (e->type()) {
    case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(e);
        QPlainTextEdit* body = editors_ ? editors_->bodyEdit : nullptr;
        if (body && watched == body && key->key() == Qt::Key_Tab &&
            key->modifiers() == Qt::ControlModifier) {
            if (!body->isReadOnly()) body->insertPlainText(QStringLiteral("\t"));
            return true;
        }
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && w->window() == this && key->key() == Qt::Key_Escape) {
            showHelpContents();
            return true;
        }
        if (w && w->window() == this && key->key() == Qt::Key_F1) {
            showHelpContext(QApplication::focusWidget());
            return true;
        }
        break;
    }
    case QEvent::Resize:
        if (watched == mailArea_) layoutMailArea();
        break;
    case QEvent::FocusIn:
        if (editors_ && watched == editors_->bodyEdit) onBodyEntered();
        break;
    case QEvent::FocusOut: {
        // A menu opening (by mouse or by keyboard through the menu bar) or another
        // program taking over is not leaving the control: the Edit menu opened with
        // Alt+E must still offer Cut, Copy and Paste for the body.
        const auto reason = static_cast<QFocusEvent*>(e)->reason();
        if (reason == Qt::PopupFocusReason || reason == Qt::MenuBarFocusReason ||
            reason == Qt::ActiveWindowFocusReason)
            break;
        if (editors_ && watched == editors_->bodyEdit) onBodyLeft();
        if (watched == fieldList_) onFieldListClicked();
        break;
    }
    case QEvent::MouseButtonPress:
        if (editors_ && watched == editors_->bodyEdit->viewport())
            onBodyMouseDown(static_cast<QMouseEvent*>(e)->button());
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, e);
}

void MainWindow::showHelpContext(QWidget* focus) {
    for (QWidget* w = focus; w; w = w->parentWidget()) {
        bool ok = false;
        const int context = w->property(kHelpContext).toInt(&ok);
        if (ok && context > 0) {
            help().showContext(context);
            return;
        }
        if (w == this) break;
    }
}

void MainWindow::displayHint(const QString& hint) {
    statusLine_->setText(0, statusPart(hint));
}

QString MainWindow::statusPanelText(int panel) const {
    return statusLine_->text(panel);
}

HelpWindow& MainWindow::help() {
    if (!help_) {
        help_ = new HelpWindow(this);
        help_->setFont(font());
    }
    return *help_;
}

void MainWindow::showHelpContents() {
    help().showContents();
}

void MainWindow::showHelpIndex() {
    help().showIndex();
}

void MainWindow::showHelpPage(const QUrl& page, QWidget* asking) {
    help().showPage(page, asking);
}

} // namespace tandrel
