// SPDX-License-Identifier: GPL-3.0-or-later
// The bundled user guide: contents, keyword index and the topics of the main window.
#include "ui/HelpWindow.h"

#include <QFile>
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
#include <vector>

#include "ui/Resources.h"

namespace tandrel {

namespace {

// The rows of a help table in the resources (help/contents.tsv, help/index.tsv): its
// lines split at tabs, comments and empty lines left out. The files are UTF-8.
std::vector<QStringList> HelpTable(const QString& resource) {
    QFile file(resource);
    std::vector<QStringList> rows;
    if (!file.open(QIODevice::ReadOnly)) return rows;
    const QString text = QString::fromUtf8(file.readAll());
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        rows.push_back(line.split(QLatin1Char('\t')));
    }
    return rows;
}

// The column of a row, empty when the row has fewer.
QString Column(const QStringList& row, qsizetype column) {
    return column < row.size() ? row[column] : QString();
}

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
    RegisterResources();

    tabs_ = new QTabWidget;
    tabs_->setObjectName(QStringLiteral("HelpTabs"));
    tabs_->setAccessibleName(QStringLiteral("Help navigation"));

    contents_ = new QTreeWidget;
    contents_->setObjectName(QStringLiteral("HelpContents"));
    contents_->setAccessibleName(QStringLiteral("Contents"));
    contents_->setHeaderHidden(true);
    // Level, title, page, further anchors.
    QTreeWidgetItem* chapter = nullptr;
    for (const QStringList& topic : HelpTable(QStringLiteral(":/help/contents.tsv"))) {
        QTreeWidgetItem* item;
        if (Column(topic, 0) == QLatin1String("0") || !chapter) {
            item = new QTreeWidgetItem(contents_);
            chapter = item;
        } else {
            item = new QTreeWidgetItem(chapter);
        }
        item->setText(0, Column(topic, 1));
        item->setData(0, kUrlRole, Column(topic, 2));
        item->setData(0, kAlsoRole, Column(topic, 3).split(QLatin1Char(' '), Qt::SkipEmptyParts));
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
    // Keyword, page.
    for (const QStringList& keyword : HelpTable(QStringLiteral(":/help/index.tsv"))) {
        auto* item = new QListWidgetItem(Column(keyword, 0), index_);
        item->setData(kUrlRole, Column(keyword, 1));
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

} // namespace tandrel
