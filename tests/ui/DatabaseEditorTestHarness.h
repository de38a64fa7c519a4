// The database editor with its two dialogs, wired to a recording stand-in for the main
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

#include "AddPersonDialog.h"
#include "AppState.h"
#include "DatabaseEditor.h"
#include "FieldsDialog.h"
#include "Forms.h"
#include "MainHooks.h"

namespace tandrel::test {

// Records what the editor asks of the main window.
class RecordingMain : public MainHooks {
public:
    AppState st;
    std::vector<bool> enableCalls;
    int refreshCalls = 0;

    AppState& state() override { return st; }
    MailEditors editorTexts() const override { return {}; }
    bool previewShown() const override { return false; }
    std::vector<ReceipData*> recipientRows() const override { return {}; }
    void setControlsEnabled(bool on) override { enableCalls.push_back(on); }
    void refreshLists() override { ++refreshCalls; }
    void updateStatusBar() override {}
    QWidget* mainWidget() override { return nullptr; }
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
    Forms forms;
    std::unique_ptr<DatabaseEditor> editor;
    std::unique_ptr<AddPersonDialog> add;
    std::unique_ptr<FieldsDialog> fields;

    EditorHarness() {
        editor = std::make_unique<DatabaseEditor>(main.st, main, forms);
        add = std::make_unique<AddPersonDialog>(main.st, main, forms);
        fields = std::make_unique<FieldsDialog>(main.st, main, forms);
        forms.databaseEditor = editor.get();
        forms.addPersonDialog = add.get();
        forms.fieldsDialog = fields.get();
    }
    ~EditorHarness() {
        fields.reset();
        add.reset();
        editor.reset();
    }

    DatabaseRoot& db() { return *main.st.db; }

    // What "Edit Database..." does on an existing database: the editor opens modeless.
    void openModeless() {
        main.setControlsEnabled(false);
        editor->show();
        editor->fillEntryList();
        editor->showCurrentEntry();
    }

    // Adds a person through the add dialog's edits and "OK".
    void addPerson(const std::string& name, const std::string& mail) {
        Child<QLineEdit>(add.get(), "Edit1")->setText(QString::fromLocal8Bit(name));
        Child<QLineEdit>(add.get(), "Edit2")->setText(QString::fromLocal8Bit(mail));
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
