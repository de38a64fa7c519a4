// SPDX-License-Identifier: GPL-3.0-or-later
// F1 and the Help button of the dialogs.
#include "ui/DialogHelp.h"

#include <QBoxLayout>
#include <QDialog>
#include <QDialogButtonBox>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <utility>

namespace tandrel {

namespace {

void ConnectHelpButton(QDialog& dialog, QPushButton* button, HelpPage page) {
    button->setObjectName(QStringLiteral("HelpBut"));
    button->setAccessibleName(QString(button->text()).remove(QLatin1Char('&')));
    // Enter in the dialog keeps going to its own default button.
    button->setAutoDefault(false);
    QObject::connect(button, &QPushButton::clicked, &dialog,
                     [&dialog, page = std::move(page)] { AskForHelp(dialog, page()); });
}

QDialogButtonBox* HelpBox(QDialog& dialog, HelpPage page, QWidget* parent) {
    auto* box = new QDialogButtonBox(QDialogButtonBox::Help, parent);
    box->setObjectName(QStringLiteral("HelpButtonBox"));
    ConnectHelpButton(dialog, box->button(QDialogButtonBox::Help), std::move(page));
    return box;
}

} // namespace

HelpPage GuidePage(const char* pageAndAnchor) {
    const QUrl url(QStringLiteral("qrc:/help/") + QString::fromLatin1(pageAndAnchor));
    return [url] { return url; };
}

bool AskForHelp(QWidget& asking, const QUrl& page) {
    for (QWidget* w = asking.parentWidget(); w; w = w->parentWidget()) {
        if (auto* desk = dynamic_cast<HelpDesk*>(w)) {
            desk->showHelpPage(page, asking.window());
            return true;
        }
    }
    return false;
}

void AnswerF1(QDialog& dialog, HelpPage page) {
    // A shortcut of the window: it comes before the focused control, and no control of a
    // dialog takes F1 for itself.
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), &dialog);
    f1->setObjectName(QStringLiteral("HelpKey"));
    f1->setContext(Qt::WindowShortcut);
    QObject::connect(f1, &QShortcut::activated, &dialog,
                     [&dialog, page = std::move(page)] { AskForHelp(dialog, page()); });
}

QDialogButtonBox* MakeHelpButton(QDialog& dialog, HelpPage page) {
    return HelpBox(dialog, std::move(page), &dialog);
}

Qt::Alignment HelpButtonSide(const QWidget& dialog) {
    const int layout = dialog.style()->styleHint(QStyle::SH_DialogButtonLayout, nullptr, &dialog);
    return layout == QDialogButtonBox::WinLayout ? Qt::AlignRight : Qt::AlignLeft;
}

QPushButton* GiveDialogHelp(QDialog& dialog, HelpPage page, QBoxLayout& buttonRow) {
    AnswerF1(dialog, page);
    // Without a parent of its own the button joins the dialog with its row, after the
    // controls made before it, where the keyboard reaches it last.
    QDialogButtonBox* box = HelpBox(dialog, std::move(page), nullptr);
    if (HelpButtonSide(dialog) == Qt::AlignRight)
        buttonRow.addWidget(box);
    else
        buttonRow.insertWidget(0, box);
    return box->button(QDialogButtonBox::Help);
}

QPushButton* GiveDialogHelp(QDialog& dialog, HelpPage page, QDialogButtonBox& buttons) {
    AnswerF1(dialog, page);
    QPushButton* button = buttons.addButton(QDialogButtonBox::Help);
    ConnectHelpButton(dialog, button, std::move(page));
    return button;
}

} // namespace tandrel
