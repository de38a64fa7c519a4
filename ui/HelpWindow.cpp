// SPDX-License-Identifier: GPL-3.0-or-later
// The bundled user guide: contents, keyword index and the topics of the main window.
#include "ui/HelpWindow.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <iterator>

namespace {

struct Topic {
    const char* title;
    const char* url;
    int level;             // 0: chapter, 1: section under the chapter before it
    const char* also = ""; // further anchors of the same page that the entry covers
};

// The table of contents, in reading order: a chapter for each window and feature.
const Topic kTopics[] = {
    {"Welcome to Tandrel", "qrc:/help/index.html", 0},
    {"Getting started", "qrc:/help/getting-started.html", 0},
    {"The main window", "qrc:/help/main-window.html", 0},
    {"The mail text", "qrc:/help/main-window.html#mail-text", 1},
    {"From, To and Subject", "qrc:/help/main-window.html#from", 1, "to subject"},
    {"The field list", "qrc:/help/main-window.html#fields", 1},
    {"Available and Receipients", "qrc:/help/main-window.html#available", 1, "receipients"},
    {"Search", "qrc:/help/main-window.html#search", 1},
    {"Databases and field lists", "qrc:/help/databases.html", 0},
    {"CSV files", "qrc:/help/databases.html#csv-file", 1},
    {"Text database files", "qrc:/help/databases.html#database-file", 1},
    {"Field lists", "qrc:/help/databases.html#fields-file", 1},
    {"The Database Editor", "qrc:/help/database-editor.html", 0},
    {"Opening and saving", "qrc:/help/saving.html", 0},
    {"Mail files", "qrc:/help/saving.html#mail-file", 1},
    {"Placeholders", "qrc:/help/placeholders.html", 0},
    {"Attachments", "qrc:/help/attachments.html", 0},
    {"Previewing a mail", "qrc:/help/preview.html", 0},
    {"Sending a test to yourself", "qrc:/help/test-mail.html", 0},
    {"Sending", "qrc:/help/sending.html", 0},
    {"The check before sending", "qrc:/help/sending.html#check", 1},
    {"Recipients Not Reached", "qrc:/help/not-reached.html", 0},
    {"Preferences", "qrc:/help/preferences.html", 0},
    {"Time-out and limits", "qrc:/help/preferences.html#limits", 1},
    {"Security and login", "qrc:/help/preferences.html#security", 1},
    {"OAuth 2.0 Login", "qrc:/help/oauth.html", 1, "tokens microsoft google other command"},
    {"Settings and log files", "qrc:/help/logs.html", 0},
    {"The command line", "qrc:/help/command-line.html", 0},
};

struct Keyword {
    const char* word;
    const char* url;
};

// The keyword index, sorted by keyword.
const Keyword kKeywords[] = {
    {"Add (person)", "qrc:/help/database-editor.html#people"},
    {"Attachments", "qrc:/help/attachments.html"},
    {"Available", "qrc:/help/main-window.html#available"},
    {"Check before sending", "qrc:/help/sending.html#check"},
    {"Client ID", "qrc:/help/oauth.html#microsoft"},
    {"Command line", "qrc:/help/command-line.html"},
    {"CSV file", "qrc:/help/databases.html#csv-file"},
    {"Database Editor", "qrc:/help/database-editor.html"},
    {"Database file", "qrc:/help/databases.html#database-file"},
    {"Delimiter", "qrc:/help/preferences.html#delimiter"},
    {"Dry run", "qrc:/help/command-line.html"},
    {"E-mail address", "qrc:/help/databases.html"},
    {"Encryption", "qrc:/help/preferences.html#security"},
    {"Exit", "qrc:/help/saving.html#unsaved"},
    {"Field list", "qrc:/help/main-window.html#fields"},
    {"Field list file", "qrc:/help/databases.html#fields-file"},
    {"Fields (adding, renaming)", "qrc:/help/database-editor.html#fields"},
    {"From line", "qrc:/help/main-window.html#from"},
    {"Insert field", "qrc:/help/main-window.html#fields"},
    {"Keyboard", "qrc:/help/main-window.html#keys"},
    {"Keyring", "qrc:/help/preferences.html#security"},
    {"Log files", "qrc:/help/logs.html"},
    {"Login", "qrc:/help/preferences.html#security"},
    {"Mail file", "qrc:/help/saving.html#mail-file"},
    {"Mail text", "qrc:/help/main-window.html#mail-text"},
    {"Messages per connection", "qrc:/help/preferences.html#limits"},
    {"Messages per minute", "qrc:/help/preferences.html#limits"},
    {"Moving people", "qrc:/help/main-window.html#available"},
    {"New Database", "qrc:/help/getting-started.html#database"},
    {"New Mail", "qrc:/help/getting-started.html#mail"},
    {"OAuth 2.0", "qrc:/help/oauth.html"},
    {"Password", "qrc:/help/sending.html#password"},
    {"Placeholders", "qrc:/help/placeholders.html"},
    {"Port", "qrc:/help/preferences.html#internet"},
    {"Preferences", "qrc:/help/preferences.html"},
    {"Preview", "qrc:/help/preview.html"},
    {"Receipients", "qrc:/help/main-window.html#receipients"},
    {"Recipients Not Reached", "qrc:/help/not-reached.html"},
    {"Remove (person)", "qrc:/help/database-editor.html#people"},
    {"Run log (Tandrel.log)", "qrc:/help/logs.html#run-log"},
    {"Run results (Tandrel.run)", "qrc:/help/logs.html#run-results"},
    {"Save", "qrc:/help/saving.html"},
    {"Search (people lists)", "qrc:/help/main-window.html#search"},
    {"Security", "qrc:/help/preferences.html#security"},
    {"Send Test to Me", "qrc:/help/test-mail.html"},
    {"Sending", "qrc:/help/sending.html"},
    {"Sent log (Tandrel.snt)", "qrc:/help/logs.html#sent-log"},
    {"Settings file (Tandrel.ini)", "qrc:/help/logs.html#settings-file"},
    {"Settings folder", "qrc:/help/logs.html"},
    {"SMTP server", "qrc:/help/preferences.html#internet"},
    {"STARTTLS", "qrc:/help/preferences.html#security"},
    {"Status bar", "qrc:/help/main-window.html#status"},
    {"Subject line", "qrc:/help/main-window.html#subject"},
    {"tandrel send", "qrc:/help/command-line.html"},
    {"Test Files", "qrc:/help/attachments.html#test"},
    {"Time-out", "qrc:/help/preferences.html#limits"},
    {"Token command", "qrc:/help/oauth.html#command"},
    {"To line", "qrc:/help/main-window.html#to"},
    {"Toolbar", "qrc:/help/main-window.html#toolbar"},
    {"Unsaved changes", "qrc:/help/saving.html#unsaved"},
};

const char* const kContextAnchors[] = {
    "mail-text", "from", "to", "subject", "fields", "available", "receipients",
};

constexpr int kUrlRole = Qt::UserRole + 1;
constexpr int kAlsoRole = Qt::UserRole + 2;

} // namespace

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Tandrel Help"));
    resize(760, 520);

    tabs_ = new QTabWidget;
    tabs_->setObjectName(QStringLiteral("HelpTabs"));
    tabs_->setAccessibleName(QStringLiteral("Help navigation"));

    contents_ = new QTreeWidget;
    contents_->setObjectName(QStringLiteral("HelpContents"));
    contents_->setAccessibleName(QStringLiteral("Contents"));
    contents_->setHeaderHidden(true);
    QTreeWidgetItem* chapter = nullptr;
    for (const Topic& t : kTopics) {
        QTreeWidgetItem* item;
        if (t.level == 0 || !chapter) {
            item = new QTreeWidgetItem(contents_);
            chapter = item;
        } else {
            item = new QTreeWidgetItem(chapter);
        }
        item->setText(0, QString::fromUtf8(t.title));
        item->setData(0, kUrlRole, QString::fromUtf8(t.url));
        item->setData(0, kAlsoRole,
                      QString::fromUtf8(t.also).split(QLatin1Char(' '), Qt::SkipEmptyParts));
    }
    contents_->expandAll();
    connect(contents_, &QTreeWidget::itemActivated, this, &HelpWindow::openContentsItem);
    connect(contents_, &QTreeWidget::itemClicked, this, &HelpWindow::openContentsItem);
    tabs_->addTab(contents_, QStringLiteral("&Contents"));

    auto* indexPage = new QWidget;
    auto* indexLayout = new QVBoxLayout(indexPage);
    auto* searchLabel = new QLabel(QStringLiteral("&Type the first letters of a keyword:"));
    indexSearch_ = new QLineEdit;
    indexSearch_->setObjectName(QStringLiteral("HelpIndexSearch"));
    indexSearch_->setAccessibleName(QStringLiteral("Keyword"));
    searchLabel->setBuddy(indexSearch_);
    index_ = new QListWidget;
    index_->setObjectName(QStringLiteral("HelpIndex"));
    index_->setAccessibleName(QStringLiteral("Index"));
    for (const Keyword& k : kKeywords) {
        auto* item = new QListWidgetItem(QString::fromUtf8(k.word), index_);
        item->setData(kUrlRole, QString::fromUtf8(k.url));
    }
    indexLayout->addWidget(searchLabel);
    indexLayout->addWidget(indexSearch_);
    indexLayout->addWidget(index_);
    auto* showBut = new QPushButton(QStringLiteral("&Display"));
    showBut->setObjectName(QStringLiteral("HelpDisplay"));
    showBut->setAccessibleName(QStringLiteral("Display"));
    indexLayout->addWidget(showBut);
    connect(indexSearch_, &QLineEdit::textChanged, this, &HelpWindow::indexSearchChanged);
    connect(indexSearch_, &QLineEdit::returnPressed, this,
            [this] { openIndexItem(index_->currentItem()); });
    connect(index_, &QListWidget::itemActivated, this, &HelpWindow::openIndexItem);
    connect(showBut, &QPushButton::clicked, this, [this] { openIndexItem(index_->currentItem()); });
    tabs_->addTab(indexPage, QStringLiteral("&Index"));

    auto* right = new QWidget;
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    auto* nav = new QHBoxLayout;
    auto* back = new QPushButton(QStringLiteral("&Back"));
    back->setObjectName(QStringLiteral("HelpBack"));
    back->setAccessibleName(QStringLiteral("Back"));
    auto* forward = new QPushButton(QStringLiteral("&Forward"));
    forward->setObjectName(QStringLiteral("HelpForward"));
    forward->setAccessibleName(QStringLiteral("Forward"));
    auto* closeBut = new QPushButton(QStringLiteral("C&lose"));
    closeBut->setObjectName(QStringLiteral("HelpClose"));
    closeBut->setAccessibleName(QStringLiteral("Close"));
    nav->addWidget(back);
    nav->addWidget(forward);
    nav->addStretch(1);
    nav->addWidget(closeBut);
    browser_ = new QTextBrowser;
    browser_->setObjectName(QStringLiteral("HelpBrowser"));
    browser_->setAccessibleName(QStringLiteral("Help topic"));
    browser_->setOpenExternalLinks(false);
    rightLayout->addLayout(nav);
    rightLayout->addWidget(browser_);
    back->setEnabled(false);
    forward->setEnabled(false);
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward, &QPushButton::setEnabled);
    connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
    connect(forward, &QPushButton::clicked, browser_, &QTextBrowser::forward);
    connect(closeBut, &QPushButton::clicked, this, &QWidget::close);

    auto* split = new QSplitter(Qt::Horizontal);
    split->addWidget(tabs_);
    split->addWidget(right);
    split->setStretchFactor(1, 1);
    split->setSizes({230, 530});
    auto* top = new QVBoxLayout(this);
    top->addWidget(split);

    setTabOrder(tabs_, contents_);
    setTabOrder(contents_, indexSearch_);
    setTabOrder(indexSearch_, index_);
    setTabOrder(index_, showBut);
    setTabOrder(showBut, back);
    setTabOrder(back, forward);
    setTabOrder(forward, closeBut);
    setTabOrder(closeBut, browser_);

    // The contents follow the topic on show, however it was reached (link, index, F1).
    connect(browser_, &QTextBrowser::sourceChanged, this, &HelpWindow::markContentsItem);
    browser_->setSource(QUrl(QStringLiteral("qrc:/help/index.html")));
}

void HelpWindow::markContentsItem(const QUrl& url) {
    // The entry of exactly this place, or else the chapter of its page.
    QTreeWidgetItem* best = nullptr;
    for (QTreeWidgetItemIterator it(contents_); *it; ++it) {
        const QUrl entry((*it)->data(0, kUrlRole).toString());
        const bool samePage =
            entry.adjusted(QUrl::RemoveFragment) == url.adjusted(QUrl::RemoveFragment);
        if (entry == url || (samePage && url.hasFragment() &&
                             (*it)->data(0, kAlsoRole).toStringList().contains(url.fragment()))) {
            best = *it;
            break;
        }
        if (!best && samePage && !entry.hasFragment()) best = *it;
    }
    if (best) {
        contents_->setCurrentItem(best);
        contents_->scrollToItem(best);
    } else {
        contents_->clearSelection();
    }
}

QTreeWidgetItem* HelpWindow::currentContentsItem() const {
    return contents_->currentItem();
}

void HelpWindow::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(e);
}

// A modal dialog blocks the input to every window that is not its own: the help becomes a
// window of the dialog that asked for it (its transient child), so it can be read, scrolled
// and followed beside the dialog, and goes back to the main window when asked from there.
void HelpWindow::belongTo(QWidget* owner) {
    if (!owner) return;
    // The native windows exist from here on.
    QWidget* top = owner->window();
    top->winId();
    winId();
    QWindow* ownerWindow = top->windowHandle();
    if (windowHandle()->transientParent() == ownerWindow) return;
    // The window system takes a new owner when the window is shown again.
    const bool shown = isVisible();
    if (shown) hide();
    windowHandle()->setTransientParent(ownerWindow);
    if (shown) show();
}

void HelpWindow::bringUp(QWidget* asking) {
    belongTo(asking ? asking : parentWidget());
    if (!placed_) {
        // The first time, over the middle of the main window, kept on its screen; after
        // that wherever the user left it.
        placed_ = true;
        if (QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr) {
            QRect r(QPoint(0, 0), size());
            r.moveCenter(owner->frameGeometry().center());
            if (QScreen* screen = owner->screen()) {
                const QRect area = screen->availableGeometry();
                r.moveRight(std::min(r.right(), area.right()));
                r.moveBottom(std::min(r.bottom(), area.bottom()));
                r.moveLeft(std::max(r.left(), area.left()));
                r.moveTop(std::max(r.top(), area.top()));
            }
            move(r.topLeft());
        }
    }
    show();
    raise();
    activateWindow();
}

void HelpWindow::open(const QUrl& url) {
    if (url.isEmpty()) return;
    browser_->setSource(url);
}

void HelpWindow::showContents() {
    tabs_->setCurrentWidget(contents_);
    open(QUrl(QStringLiteral("qrc:/help/index.html")));
    bringUp();
    contents_->setFocus();
}

void HelpWindow::showIndex() {
    tabs_->setCurrentIndex(1);
    bringUp();
    indexSearch_->setFocus();
    indexSearch_->selectAll();
}

QUrl HelpWindow::contextUrl(int context) {
    if (context < 1 || context > static_cast<int>(std::size(kContextAnchors))) return {};
    QUrl url(QStringLiteral("qrc:/help/main-window.html"));
    url.setFragment(QString::fromUtf8(kContextAnchors[context - 1]));
    return url;
}

bool HelpWindow::showContext(int context) {
    const QUrl url = contextUrl(context);
    if (url.isEmpty()) return false;
    open(url);
    bringUp();
    return true;
}

bool HelpWindow::showKeyword(const QString& keyword) {
    for (int i = 0; i < index_->count(); ++i) {
        QListWidgetItem* item = index_->item(i);
        if (item->text().compare(keyword, Qt::CaseInsensitive) == 0) {
            index_->setCurrentItem(item);
            openIndexItem(item);
            bringUp();
            return true;
        }
    }
    return false;
}

void HelpWindow::showPage(const QUrl& page, QWidget* asking) {
    open(page);
    bringUp(asking);
}

QUrl HelpWindow::currentUrl() const {
    return browser_->source();
}

QString HelpWindow::currentTitle() const {
    return browser_->documentTitle();
}

QStringList HelpWindow::keywords() const {
    QStringList out;
    for (int i = 0; i < index_->count(); ++i)
        out << index_->item(i)->text();
    return out;
}

void HelpWindow::indexSearchChanged(const QString& text) {
    for (int i = 0; i < index_->count(); ++i) {
        QListWidgetItem* item = index_->item(i);
        if (item->text().startsWith(text, Qt::CaseInsensitive)) {
            index_->setCurrentItem(item);
            index_->scrollToItem(item, QAbstractItemView::PositionAtTop);
            return;
        }
    }
}

void HelpWindow::openIndexItem(QListWidgetItem* item) {
    if (item) open(QUrl(item->data(kUrlRole).toString()));
}

void HelpWindow::openContentsItem(QTreeWidgetItem* item) {
    if (item) open(QUrl(item->data(0, kUrlRole).toString()));
}
