// SPDX-License-Identifier: GPL-3.0-or-later
// The six file dialogs of the main window, made once and kept, each opening where the
// user's files of its kind are.
#pragma once

#include <QString>
#include <functional>

#include "model/Model.h"

class QFileDialog;
class QWidget;

namespace tandrel {

class FileDialogs {
public:
    enum class Kind { OpenMail, OpenFields, OpenData, SaveMail, SaveField, SaveData };
    // The dialogs are windows of `owner`; `lastFiles` are the files in use.
    FileDialogs(QWidget* owner, const RecentFiles& lastFiles)
        : owner_(owner), lastFiles_(lastFiles) {}

    // The configured dialog of that kind.
    QFileDialog& dialog(Kind which);

    // The chosen path, or an empty text for Cancel.
    QString choose(Kind which);

    // A test answers the dialogs through this: it gets the configured dialog and returns
    // the chosen path.
    using Chooser = std::function<QString(QFileDialog&)>;
    void setChooser(Chooser chooser) { chooser_ = std::move(chooser); }

private:
    void prepare(Kind which, QFileDialog& d) const;

    QWidget* owner_;
    const RecentFiles& lastFiles_;
    Chooser chooser_;
    QFileDialog* dialogs_[6] = {};
};

} // namespace tandrel
