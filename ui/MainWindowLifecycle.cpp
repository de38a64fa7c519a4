// The main window's start-up and shut-down, its layout when resized or split, the keys
// and hints it handles for every control, and its help.
#include "MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusTipEvent>
#include <QToolButton>
#include <QTreeView>
#include <algorithm>
#include <exception>

#include "CsvFile.h"
#include "DatabaseFile.h"
#include "Errors.h"
#include "FieldFile.h"
#include "HelpWindow.h"
#include "MailFile.h"
#include "MainWindowParts.h"
#include "PeopleModel.h"
#include "Settings.h"
#include "TextFile.h"

using namespace tandrel::mainwindow;
using tandrel::MailEditors;
using tandrel::ReceipData;
// ---------------------------------------------------------------------------------------
// Start-up and shut-down

void MainWindow::startUp(const std::string& programDir) {
    setWindowTitle(QStringLiteral(" Tandrel 1.1"));
    try {
        st_.LocalComputerName = tandrel::ComputeLocalComputerName();
        st_.ProgramDir = programDir.empty() ? tandrel::ComputeProgramDir() : programDir;
        st_.mailText = tandrel::MailText{};
        ini_ = std::make_unique<tandrel::Profile>(st_.iniPath());
        // The run log and the sent log are only ever appended to; they may have grown
        // large over the years, so they are not read here: memory holds this session's.
        st_.SentLog.clear();

        tandrel::WindowGeometry stored;
        tandrel::ReadSettings(*ini_, st_.prefs, st_.user, stored);
        settingsRead_ = true;
        const tandrel::WindowGeometry geo = FitWindow(stored, screenArea(stored));
        paneHeight_ = geo.paneHeight;
        layoutMailArea();
        move(geo.x, geo.y);
        resize(geo.width, geo.height);

        st_.RunLog.clear();
        st_.attachments.clear();

        MailEditors eds = editorTexts();
        bool loaded = false;
        if (!st_.user.lastmail.empty() && tandrel::FileExists(st_.user.lastmail)) {
            WaitCursor wait;
            loaded = tandrel::LoadMail(st_, st_.user.lastmail, eds);
        }
        if (!loaded) tandrel::NewMail(st_, eds);
        setEditorTexts(eds);
        mailUntitled_ = !loaded;
        markMailSaved();

        const std::string& lastdb = st_.user.lastdb;
        if (!lastdb.empty() && tandrel::IsCsvPath(lastdb) && tandrel::FileExists(lastdb)) {
            // A CSV database names its fields in its header row.
            {
                WaitCursor wait;
                tandrel::LoadCsvDatabase(st_, lastdb);
            }
            databaseUntitled_ = false;
            refreshLists();
        } else if (!st_.user.lastfields.empty() && tandrel::FileExists(st_.user.lastfields)) {
            {
                WaitCursor wait;
                tandrel::LoadFields(st_, st_.user.lastfields);
            }
            refreshLists();
            if (!lastdb.empty() && tandrel::FileExists(lastdb) && st_.db &&
                !st_.db->fields.empty()) {
                {
                    WaitCursor wait;
                    tandrel::LoadDatabase(st_, lastdb);
                }
                databaseUntitled_ = false;
                refreshLists();
            }
        }
    } catch (const std::exception& e) {
        // The rest of the start-up is skipped; the program goes on with what it has.
        showError(QString::fromLocal8Bit(e.what()));
    }
    // Whatever the start-up brought in is what the files hold.
    markMailSaved();
    markDatabaseSaved();
}

// The available area of the screen the stored window's corner lies on, else the primary.
QRect MainWindow::screenArea(const tandrel::WindowGeometry& g) const {
    QScreen* screen = QGuiApplication::screenAt(QPoint(g.x, g.y));
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

void MainWindow::shutDown() {
    // A start-up that failed before the settings were read (an unreadable sent log) has
    // only empty values in memory: writing those would wipe the user's settings file.
    if (ini_ && settingsRead_) {
        const bool normal =
            !(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen));
        tandrel::WindowGeometry geo{x(), y(), width(), height(), paneHeight_};
        try {
            tandrel::WriteSettings(*ini_, st_.prefs, st_.user, normal ? &geo : nullptr);
        } catch (const std::exception& e) {
            // Reported, but the program still ends: a settings file that cannot be
            // written must never keep the user from closing the window.
            showError(QString::fromLocal8Bit(e.what()));
        }
    }
    ini_.reset();
    availModel_->clear();
    recipModel_->clear();
    st_.FreeDatabase();
    st_.mailText = tandrel::MailText{};
    st_.RunLog.clear();
    st_.FreeAttachments();
    st_.SentLog.clear();
}

void MainWindow::closeEvent(QCloseEvent* e) {
    if (!keepChangedDatabase() || !keepChangedMail()) {
        e->ignore();
        return;
    }
    // The other windows of the program go with the main window, first, while the data
    // they may still look at on closing is there.
    for (QWidget* w : findChildren<QWidget*>()) {
        if (w->isWindow() && w->isVisible()) w->close();
    }
    shutDown();
    e->accept();
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
    const int side = (width() - kFieldListWidth - kMoveButtonsWidth) / 2;
    availablePane->setFixedWidth(std::max(0, side));
    paneHeight_ = (height() - 50) / 2;
    fromEdit->resize(250, fromEdit->height());
    toEdit->resize(250, toEdit->height());
    subjectEdit->resize(250, subjectEdit->height());
    layoutMailArea();
    update();
}

// mailArea stacks, top to bottom: the upper pane at its own height, the splitter, the
// header panel, and the body editor in what is left.
void MainWindow::layoutMailArea() {
    if (!mailArea) return;
    const int w = mailArea->width();
    const int h = mailArea->height();
    const int pane = paneHeight_;
    peoplePane->setGeometry(0, 0, w, pane);
    paneSplitter->setGeometry(0, pane, w, kSplitterHeight);
    headerPanel->setGeometry(0, pane + kSplitterHeight, w, kHeaderPanelHeight);
    sendGroup->setGeometry(w - kGroupBoxWidth, 0, kGroupBoxWidth, kHeaderPanelHeight);
    const int bodyTop = pane + kSplitterHeight + kHeaderPanelHeight;
    bodyEdit->setGeometry(0, bodyTop, w, std::max(0, h - bodyTop));
}

void MainWindow::dragSplitter(int startHeight, int dy) {
    // The body editor keeps at least 60; the upper pane keeps its move buttons in view.
    const int maxPane =
        mailArea->height() - kSplitterHeight - kHeaderPanelHeight - kSplitterMinSize;
    int pane = startHeight + dy;
    pane = std::min(pane, maxPane);
    pane = std::max(pane, kUpperPaneMinHeight);
    paneHeight_ = pane;
    layoutMailArea();
}

// ---------------------------------------------------------------------------------------
// Events

bool MainWindow::event(QEvent* e) {
    if (e->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(e)->tip();
        if (qobject_cast<QMenu*>(QApplication::activePopupWidget()))
            showMenuHint();
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
        if (watched == bodyEdit && key->key() == Qt::Key_Tab &&
            key->modifiers() == Qt::ControlModifier) {
            if (!bodyEdit->isReadOnly()) bodyEdit->insertPlainText(QStringLiteral("\t"));
            return true;
        }
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && w->window() == this)
            if (handleWindowKey(static_cast<QKeyEvent*>(e)->key(), QApplication::focusWidget()))
                return true;
        break;
    }
    case QEvent::Resize:
        if (watched == mailArea) layoutMailArea();
        break;
    case QEvent::FocusIn:
        if (watched == bodyEdit) onBodyEntered();
        break;
    case QEvent::FocusOut: {
        // A menu opening (by mouse or by keyboard through the menu bar) or another
        // program taking over is not leaving the control: the Edit menu opened with
        // Alt+E must still offer Cut, Copy and Paste for the body.
        const auto reason = static_cast<QFocusEvent*>(e)->reason();
        if (reason == Qt::PopupFocusReason || reason == Qt::MenuBarFocusReason ||
            reason == Qt::ActiveWindowFocusReason)
            break;
        if (watched == bodyEdit) onBodyLeft();
        if (watched == fieldList) onFieldListClicked();
        break;
    }
    case QEvent::MouseButtonPress:
        if (bodyEdit && watched == bodyEdit->viewport())
            onBodyMouseDown(static_cast<QMouseEvent*>(e)->button());
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, e);
}

bool MainWindow::handleWindowKey(int key, QWidget* focus) {
    if (key == Qt::Key_Escape) {
        showHelpContents();
        return true;
    }
    if (key == Qt::Key_F1) {
        showHelpContext(focus);
        return true;
    }
    return false;
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
    panels_[0]->setText(statusPart(hint));
}

QString MainWindow::statusPanelText(int panel) const {
    if (panel < 0 || panel > 3) return {};
    return panels_[panel]->text();
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
