// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's file dialogs: their titles, filters and starting folders.
#include "ui/main/FileDialogs.h"

#include <QCompleter>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QSplitter>
#include <QTreeView>

#include "model/CsvFile.h"
#include "ui/main/MainLook.h"

namespace tandrel {

using namespace mainwindow;

QFileDialog& FileDialogs::dialog(Kind which) {
    const int i = static_cast<int>(which);
    if (dialogs_[i]) return *dialogs_[i];
    struct Setup {
        const char* name;
        const char* title;
        bool save;
    };
    const Setup setups[6] = {
        {"OpenMailDia", "Open Mail File", false},
        {"OpenFieldsDia", "Open Field Definitions File", false},
        {"OpenDataDia", "Open Data File", false},
        {"SaveMailDia", "Save Mail", true},
        {"SaveFieldDia", "Save Field Definitions", true},
        {"SaveDataDia", "Save Database", true},
    };
    const Setup& s = setups[i];
    auto* d = new QFileDialog(owner_, QString::fromLatin1(s.title));
    d->setObjectName(QString::fromLatin1(s.name));
    d->setOption(QFileDialog::DontUseNativeDialog, true);
    d->setDefaultSuffix(QStringLiteral("txt"));
    const bool database = which == Kind::OpenData || which == Kind::SaveData;
    QStringList filters =
        s.save ? QStringList{QStringLiteral("Text (*.txt)"), QStringLiteral("All Files (*)")}
               : QStringList{QStringLiteral("Text files (*.txt)"), QStringLiteral("All files (*)")};
    // A database may also be a spreadsheet's CSV file.
    if (database) filters.insert(1, QStringLiteral("CSV files (*.csv)"));
    if (s.save) {
        d->setAcceptMode(QFileDialog::AcceptSave);
        d->setFileMode(QFileDialog::AnyFile);
    } else {
        d->setAcceptMode(QFileDialog::AcceptOpen);
        d->setFileMode(QFileDialog::ExistingFile);
    }
    d->setNameFilters(filters);
    // A name typed without an extension gets the one of the chosen kind of file.
    QObject::connect(d, &QFileDialog::filterSelected, d, [d](const QString& filter) {
        d->setDefaultSuffix(filter.contains(QLatin1String("*.csv")) ? QStringLiteral("csv")
                                                                    : QStringLiteral("txt"));
    });
    // Wide enough for the size, type and date columns to show their texts in full; the
    // name column takes the rest.
    d->resize(760, 460);
    if (auto* files = d->findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* h = files->header();
        h->setStretchLastSection(false);
        const int widths[] = {0, 90, 150, 150};
        for (int col = 1; col < 4 && col < h->count(); ++col)
            h->resizeSection(col, widths[col]);
        h->setSectionResizeMode(0, QHeaderView::Stretch);
    }
    if (auto* places = d->findChild<QSplitter*>(QStringLiteral("splitter")))
        places->setSizes({130, 610});
    dialogs_[i] = d;
    return *d;
}

// A dialog opens in the folder of the file of its kind that is in use (the last mail,
// field list or database), or else of any of them: that is where the user's files are,
// not wherever the program happened to be started from. Saving proposes the file's name.
void FileDialogs::prepare(Kind which, QFileDialog& d) const {
    const std::string* own = nullptr;
    switch (which) {
    case Kind::OpenMail:
    case Kind::SaveMail:
        own = &lastFiles_.lastMail;
        break;
    case Kind::OpenFields:
    case Kind::SaveField:
        own = &lastFiles_.lastFields;
        break;
    case Kind::OpenData:
    case Kind::SaveData:
        own = &lastFiles_.lastDatabase;
        break;
    }
    for (const std::string* path :
         {own, &lastFiles_.lastMail, &lastFiles_.lastDatabase, &lastFiles_.lastFields}) {
        if (path->empty()) continue;
        const QFileInfo info(PathText(*path));
        if (!info.absoluteDir().exists()) continue;
        d.setDirectory(info.absolutePath());
        if (d.acceptMode() == QFileDialog::AcceptSave)
            d.selectFile(path == own ? info.fileName() : QString());
        // The database in use decides which kind of file the dialog offers first.
        if (path == own && (which == Kind::OpenData || which == Kind::SaveData)) {
            const QStringList filters = d.nameFilters();
            const bool csv = IsCsvPath(*own);
            for (const QString& f : filters)
                if (f.contains(QLatin1String("*.csv")) == csv &&
                    !f.contains(QLatin1String("(*)"))) {
                    d.selectNameFilter(f);
                    d.setDefaultSuffix(csv ? QStringLiteral("csv") : QStringLiteral("txt"));
                    break;
                }
        }
        return;
    }
}

QString FileDialogs::choose(Kind which) {
    QFileDialog& d = dialog(which);
    prepare(which, d);
    if (chooser_) return chooser_(d);
    const int result = d.exec();
    const QStringList files = d.selectedFiles();
    // The dialog is kept for next time. Its name completer may still be open, or open
    // itself once the folder has been read, on top of the main window, where it would
    // swallow the next click: empty the name and close the completer.
    if (auto* name = d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
        name->clear();
        if (QCompleter* c = name->completer()) c->popup()->hide();
    }
    if (result != QDialog::Accepted) return {};
    return files.isEmpty() ? QString() : files.front();
}

} // namespace tandrel
