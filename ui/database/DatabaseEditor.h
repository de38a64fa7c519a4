// SPDX-License-Identifier: GPL-3.0-or-later
// "Database Editor": the people and their values.
#pragma once

#include <QDialog>

#include <cstddef>

#include "model/DatabaseDocument.h"

class QLineEdit;
class QListView;
class QListWidget;
class QPushButton;

namespace tandrel {

class AddPersonDialog;
class FieldsDialog;

class EntryListModel;

class DatabaseEditor : public QDialog {
    Q_OBJECT
public:
    // The add and fields dialogs are made here, windows of `parent` like the editor (or
    // released with the editor when it has no parent).
    explicit DatabaseEditor(DatabaseDocument& database, QWidget* parent = nullptr);
    ~DatabaseEditor() override;

    AddPersonDialog* addPersonDialog() const { return addDialog_; }
    FieldsDialog* fieldsDialog() const { return fieldsDialog_; }

    // Releases any database, creates one with "name" and "email", shows the editor modally.
    void startNewDatabase();
    // One line per entry, in database order; each line keeps its own entry.
    void fillEntryList();
    // Shows the current line's entry: its name, e-mail and one line per field.
    void showCurrentEntry();

    // Adds a line for an entry that was just appended to the database.
    void appendEntryLine(Person* entry);
    // The entry of the current line, or null.
    Person* currentEntry() const;
    // The entry that line `row` of the entry list stands for, or null.
    Person* entryAt(int row) const;
    int entryLineCount() const;

    // Handlers of the controls, callable directly.
    void onEntryClicked();
    void onFieldLineClicked();
    void onValueEditEntered();
    void onEntryPanelLeft();
    void changeValue();
    void addPerson();
    void removeSelectedEntries();
    void editFields();
    void finishEditing();

    // Every way of closing the window ends here.
    void done(int r) override;

signals:
    // The editor was closed: the lists of the database may be shown again.
    void closed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onClosed();
    void takeFocusBack();
    void pickField(bool takeFocus);
    void onFocusChanged(QWidget* old, QWidget* now);
    void clearDisplay();
    int currentLine() const;
    // The selected field line of fieldLines_ when it stands for a field, or -1.
    int selectedFieldLine() const;

    Database* db() const { return database_.database(); }
    // Bytes of the database as the user reads them.
    QString shown(const std::string& bytes) const;

    DatabaseDocument& database_;
    AddPersonDialog* addDialog_ = nullptr;
    FieldsDialog* fieldsDialog_ = nullptr;

    EntryListModel* entries_ = nullptr;
    QListView* entryList_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    QPushButton* fieldsButton_ = nullptr;
    QPushButton* doneButton_ = nullptr;
    QWidget* entryPanel_ = nullptr;
    QLineEdit* nameDisplay_ = nullptr;
    QLineEdit* emailDisplay_ = nullptr;
    QListWidget* fieldLines_ = nullptr;
    QLineEdit* fieldDisplay_ = nullptr;
    QLineEdit* valueEdit_ = nullptr;
    QPushButton* changeButton_ = nullptr;
    // Set while lists are filled from code, so their change signals are not taken as
    // clicks.
    bool updating_ = false;
};

} // namespace tandrel
