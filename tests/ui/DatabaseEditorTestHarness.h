// SPDX-License-Identifier: GPL-3.0-or-later
// The database editor with its two dialogs, with a record of what it asks of the main
// window, for the widget tests of the editor and its dialogs.
#pragma once

#include <QApplication>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/database/AddPersonDialog.h"
#include "model/AppState.h"
#include "model/DatabaseDocument.h"
#include "ui/database/DatabaseEditor.h"
#include "ui/database/FieldsDialog.h"

namespace tandrel::test {

// The main window's side: the database, and what it was asked to do (the controls
// disabled on opening, enabled and the lists refreshed on closing).
struct RecordingMain {
    AppState st;
    DatabaseDocument database{st};
    std::vector<bool> enableCalls;
    int refreshCalls = 0;

    void setControlsEnabled(bool on) { enableCalls.push_back(on); }
};

template <class W> W* Child(QWidget* parent, const char* name) {
    W* w = parent->findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << "no control " << name;
    return w;
}

inline std::vector<std::string> Lines(QListWidget* list) {
    std::vector<std::string> out;
    for (int i = 0; i < list->count(); ++i)
        out.push_back(list->item(i)->text().toLocal8Bit().toStdString());
    return out;
}

inline std::vector<std::string> Lines(QListView* view) {
    std::vector<std::string> out;
    for (int i = 0; i < view->model()->rowCount(); ++i)
        out.push_back(view->model()->index(i, 0).data().toString().toLocal8Bit().toStdString());
    return out;
}

inline std::string Text(QLineEdit* e) {
    return e->text().toLocal8Bit().toStdString();
}

// Runs `body` once the dialog's modal loop has started; the dialog is rejected afterwards
// if `body` left it open, so a failing check cannot hang the test.
inline void WhileModal(QDialog* dlg, const std::function<void()>& open,
                       const std::function<void()>& body) {
    QTimer::singleShot(0, dlg, [dlg, body] {
        body();
        if (dlg->isVisible()) dlg->reject();
    });
    open();
}

struct EditorHarness {
    RecordingMain main;
    std::unique_ptr<DatabaseEditor> editor;
    AddPersonDialog* add = nullptr;
    FieldsDialog* fields = nullptr;

    EditorHarness() {
        editor = std::make_unique<DatabaseEditor>(main.database);
        add = editor->addPersonDialog();
        fields = editor->fieldsDialog();
        QObject::connect(editor.get(), &DatabaseEditor::closed, [this] {
            main.setControlsEnabled(true);
            ++main.refreshCalls;
        });
    }

    Database& db() { return *main.st.db; }

    // What "Edit Database..." does on an existing database: the editor opens modeless.
    void openModeless() {
        main.setControlsEnabled(false);
        editor->show();
        editor->fillEntryList();
        editor->showCurrentEntry();
    }

    // Adds a person through the add dialog's edits and "OK".
    void addPerson(const std::string& name, const std::string& mail) {
        Child<QLineEdit>(add, "Edit1")->setText(QString::fromLocal8Bit(name));
        Child<QLineEdit>(add, "Edit2")->setText(QString::fromLocal8Bit(mail));
        add->acceptPerson();
    }

    QListView* entryList() { return Child<QListView>(editor.get(), "ListBox2"); }
    QListWidget* fieldList() { return Child<QListWidget>(editor.get(), "ListBox1"); }
    QLineEdit* value() { return Child<QLineEdit>(editor.get(), "Edit2"); }
    QPushButton* change() { return Child<QPushButton>(editor.get(), "Button1"); }
    std::string panel(const char* name) { return Text(Child<QLineEdit>(editor.get(), name)); }

    // The user makes line `row` the current and only selected line of the entry list.
    void pickEntry(int row) {
        QListView* v = entryList();
        v->selectionModel()->setCurrentIndex(v->model()->index(row, 0),
                                             QItemSelectionModel::ClearAndSelect);
    }

    // The user clicks field line k and types a new value.
    void pickField(int k) {
        fieldList()->setCurrentRow(k);
        editor->onFieldLineClicked();
    }
};

} // namespace tandrel::test
