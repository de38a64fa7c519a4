// "Database Editor": the people and their values.
#pragma once

#include <QDialog>

#include <cstddef>

#include "Forms.h"
#include "MainHooks.h"

class QLineEdit;
class QListView;
class QListWidget;
class QPushButton;

namespace tandrel {
class EntryListModel;
}

class TdBaseEntry : public QDialog {
    Q_OBJECT
public:
    TdBaseEntry(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
                QWidget* parent = nullptr);
    ~TdBaseEntry() override;

    // Releases any database, creates one with "name" and "email", shows the editor modally.
    void StartNewDatabase();
    // One line per entry, in database order; each line keeps its own entry.
    void FillEntryList();
    // Shows the current line's entry: its name, e-mail and one line per field.
    void ShowCurrentEntry();

    // Adds a line for an entry that was just appended to the database.
    void AppendEntryLine(tandrel::ReceipData* entry);
    // The entry of the current line, or null.
    tandrel::ReceipData* currentEntry() const;
    // The entry that line `row` of the entry list stands for, or null.
    tandrel::ReceipData* entryAt(int row) const;
    int entryLineCount() const;

    // Handlers of the controls, callable directly.
    void ListBox2Click();
    void ListBox1Click();
    void Edit2Enter();
    void Panel1Exit();
    void Button1Click();
    void Button3Click();
    void Button4Click();
    void varEditClick();
    void DoneClick();

    // Every way of closing the window ends here.
    void done(int r) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormClose();
    void pickField(bool takeFocus);
    void onFocusChanged(QWidget* old, QWidget* now);
    void clearDisplay();
    int currentLine() const;
    // The selected field line of ListBox1 when it stands for a field, or -1.
    int selectedFieldLine() const;

    tandrel::AppState& st_;
    tandrel::MainHooks& main_;
    tandrel::Forms& forms_;

    tandrel::EntryListModel* entries_ = nullptr;
    QListView* ListBox2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;
    QPushButton* varEdit = nullptr;
    QPushButton* Done = nullptr;
    QWidget* Panel1 = nullptr;
    QLineEdit* Panel10 = nullptr;
    QLineEdit* Panel11 = nullptr;
    QListWidget* ListBox1 = nullptr;
    QLineEdit* Panel9 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QPushButton* Button1 = nullptr;
    // Set while lists are filled from code, so their change signals are not taken as
    // clicks.
    bool updating_ = false;
};
