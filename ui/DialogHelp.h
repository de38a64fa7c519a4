// SPDX-License-Identifier: GPL-3.0-or-later
// Help in every dialog: F1 anywhere in it and its Help button open the dialog's page of
// the user guide, in the help window of the window the dialog belongs to.
#pragma once

#include <QUrl>
#include <Qt>
#include <functional>

class QBoxLayout;
class QDialog;
class QDialogButtonBox;
class QPushButton;
class QWidget;

namespace tandrel {

// The window that keeps the user guide (the main window) shows it for the dialogs among
// its children; a dialog finds it by going up its parents.
class HelpDesk {
public:
    virtual ~HelpDesk() = default;
    // Shows `page`, usable beside `asking` also while that window is modal.
    virtual void showHelpPage(const QUrl& page, QWidget* asking) = 0;
};

// The page a dialog's help opens, asked for when help is wanted: a dialog with tabs
// gives the section of the tab on show.
using HelpPage = std::function<QUrl()>;

// A page of the bundled guide by its file name and anchor ("attachments.html#test").
HelpPage GuidePage(const char* pageAndAnchor);

// Opens `page` in the help of the nearest HelpDesk among the parents of `asking`;
// false when none is there (a dialog made on its own).
bool AskForHelp(QWidget& asking, const QUrl& page);

// F1 anywhere in `dialog` opens its page.
void AnswerF1(QDialog& dialog, HelpPage page);

// The dialog's Help button, the platform's own, in a button box of its own that the
// dialog places; a click opens the page.
QDialogButtonBox* MakeHelpButton(QDialog& dialog, HelpPage page);

// The end of a row of buttons where the platform's dialogs have Help: after the other
// buttons on Windows, first on the other desktops (the style's button layout).
Qt::Alignment HelpButtonSide(const QWidget& dialog);

// F1 and a Help button, put into the dialog's row of buttons at the end where the
// platform's dialogs have it (the style's button layout).
QPushButton* GiveDialogHelp(QDialog& dialog, HelpPage page, QBoxLayout& buttonRow);

// F1 and a Help button in the dialog's own button box, which places it.
QPushButton* GiveDialogHelp(QDialog& dialog, HelpPage page, QDialogButtonBox& buttons);

} // namespace tandrel
