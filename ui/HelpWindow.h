// SPDX-License-Identifier: GPL-3.0-or-later
// Tandrel's own help: a user guide bundled with the program, with contents, a keyword
// index and a topic for each part of the main window.
#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>

class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QTabWidget;
class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;

namespace tandrel {

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);

    // The three requests of the main window: the contents, the keyword index, and the
    // topic of a control's help context (1 body, 2 From, 3 To, 4 Subject, 5 fields,
    // 6 "Available", 7 "Receipients"). showContext returns false for an unknown number.
    void showContents();
    void showIndex();
    bool showContext(int context);

    // Opens the topic of an index keyword (exact text, letter case ignored).
    bool showKeyword(const QString& keyword);
    // Opens a page of the guide for a dialog; the help stays usable beside `asking`
    // while that dialog is modal.
    void showPage(const QUrl& page, QWidget* asking);

    static QUrl contextUrl(int context);
    QUrl currentUrl() const;
    QString currentTitle() const;
    QTextBrowser* browser() const { return browser_; }
    QTabWidget* tabs() const { return tabs_; }
    QStringList keywords() const;
    // The entry of the contents that stands for the topic on show.
    QTreeWidgetItem* currentContentsItem() const;

protected:
    // Escape closes the help.
    void keyPressEvent(QKeyEvent* e) override;

private:
    // Shows the help above `asking` (a dialog) or, without one, the window it belongs to.
    void bringUp(QWidget* asking = nullptr);
    void belongTo(QWidget* owner);
    void open(const QUrl& url);
    void indexSearchChanged(const QString& text);
    void openIndexItem(QListWidgetItem* item);
    void openContentsItem(QTreeWidgetItem* item);
    void markContentsItem(const QUrl& url);

    QTabWidget* tabs_ = nullptr;
    QTreeWidget* contents_ = nullptr;
    QLineEdit* indexSearch_ = nullptr;
    QListWidget* index_ = nullptr;
    QTextBrowser* browser_ = nullptr;
    bool placed_ = false;
};

} // namespace tandrel
