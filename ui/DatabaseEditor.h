// "Database Editor": the people and their values.
#pragma once

#include <QDialog>

#include <cstddef>

#include "EntryListHooks.h"
#include "Forms.h"
#include "MainHooks.h"

class QLineEdit;
class QListView;
class QListWidget;
class QPushButton;

namespace tandrel {
class EntryListModel;
}

class DatabaseEditor : public QDialog, public tandrel::EntryListHooks {
    Q_OBJECT
public:
    DatabaseEditor(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
                   QWidget* parent = nullptr);
    ~DatabaseEditor() override;

    // Releases any database, creates one with "name" and "email", shows the editor modally.
    void startNewDatabase();
    // One line per entry, in database order; each line keeps its own entry.
    void fillEntryList();
    // Shows the current line's entry: its name, e-mail and one line per field.
    void showCurrentEntry() override;

    // Adds a line for an entry that was just appended to the database.
    void appendEntryLine(tandrel::ReceipData* entry) override;
    // The entry of the current line, or null.
    tandrel::ReceipData* currentEntry() const;
    // The entry that line `row` of the entry list stands for, or null.
    tandrel::ReceipData* entryAt(int row) const;
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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onClosed();
    void takeFocusBack();
    void pickField(bool takeFocus);
    void onFocusChanged(QWidget* old, QWidget* now);
    void clearDisplay();
    int currentLine() const;
    // The selected field line of fieldLines when it stands for a field, or -1.
    int selectedFieldLine() const;

    tandrel::AppState& st_;
    tandrel::MainHooks& main_;
    tandrel::Forms& forms_;

    tandrel::EntryListModel* entries_ = nullptr;
    QListView* entryList = nullptr;
    QPushButton* addButton = nullptr;
    QPushButton* removeButton = nullptr;
    QPushButton* fieldsButton = nullptr;
    QPushButton* doneButton = nullptr;
    QWidget* entryPanel = nullptr;
    QLineEdit* nameDisplay = nullptr;
    QLineEdit* emailDisplay = nullptr;
    QListWidget* fieldLines = nullptr;
    QLineEdit* fieldDisplay = nullptr;
    QLineEdit* valueEdit = nullptr;
    QPushButton* changeButton = nullptr;
    // Set while lists are filled from code, so their change signals are not taken as
    // clicks.
    bool updating_ = false;
};
