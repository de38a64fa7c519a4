// SPDX-License-Identifier: GPL-3.0-or-later
// Starting the whole program in a directory of its own, with helpers to reach the main
// window's controls and to answer its dialogs and message boxes.
#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/main/AppWindows.h"
#include "ui/main/MainWindow.h"
#include "tests/support/TestSupport.h"

namespace tandrel::test {

// Closes every message box that comes up while it lives and keeps their texts.
class BoxCatcher {
public:
    BoxCatcher() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts.push_back(box->text().toStdString());
                box->done(QMessageBox::Ok);
            }
        });
        timer_.start(5);
    }
    std::vector<std::string> texts;

private:
    QTimer timer_;
};

class MainWindowTest : public ::testing::Test {
protected:
    TempDir dir;
    std::unique_ptr<AppWindows> app;
    MainWindow* w = nullptr;
    std::string nextPath; // what the next file dialog answers ("" for Cancel)
    std::vector<std::string> dialogTitles;
    // The unsaved-work questions asked, and what the next ones answer.
    std::vector<std::string> questions;
    int answer = QMessageBox::Discard;

    void TearDown() override {
        if (w && w->isVisible()) w->close();
        app.reset();
    }

    void start() {
        app = std::make_unique<AppWindows>(dir.path());
        w = &app->main();
        w->setFileChooser([this](QFileDialog& d) {
            dialogTitles.push_back(d.windowTitle().toStdString());
            return QString::fromStdString(nextPath);
        });
        w->setQuestionAnswerer([this](const QString& q) {
            questions.push_back(q.toStdString());
            return answer;
        });
    }

    void writeIni(const std::map<std::string, std::map<std::string, std::string>>& sections) {
        std::string text;
        for (const auto& [section, keys] : sections) {
            text += "[" + section + "]\r\n";
            for (const auto& [k, v] : keys)
                text += k + "=" + v + "\r\n";
        }
        WriteFileBytes(dir.file("Tandrel.ini"), text);
    }

    // A field file and a database file in the test directory.
    void writeData(const std::string& fields, const std::string& people) {
        WriteFileBytes(dir.file("fields.txt"), fields);
        WriteFileBytes(dir.file("people.txt"), people);
    }

    // Mail, field and database files in the test directory, named as the last files.
    void startWithAll(const std::string& mail, const std::string& fields,
                      const std::string& people) {
        WriteFileBytes(dir.file("mail.txt"), mail);
        writeData(fields, people);
        writeIni({{"User",
                   {{"lastmail", dir.file("mail.txt")},
                    {"lastfields", dir.file("fields.txt")},
                    {"lastdb", dir.file("people.txt")}}}});
        start();
    }

    void startWith(const std::string& fields, const std::string& people) {
        writeData(fields, people);
        writeIni({{"User",
                   {{"lastfields", dir.file("fields.txt")}, {"lastdb", dir.file("people.txt")}}}});
        start();
    }

    template <class T> T* find(const char* name) const {
        T* c = w->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    QTreeView* available() const { return find<QTreeView>("ListView2"); }
    QTreeView* receipients() const { return find<QTreeView>("ListView1"); }
    QPlainTextEdit* body() const { return find<QPlainTextEdit>("RichEdit1"); }
    QLineEdit* edit(const char* name) const { return find<QLineEdit>(name); }
    QAction* action(const char* name) const { return find<QAction>(name); }

    static QString cell(QTreeView* v, int row, int col) {
        return v->model()->index(row, col).data().toString();
    }
    static std::vector<std::string> column(QTreeView* v, int col) {
        std::vector<std::string> out;
        for (int r = 0; r < v->model()->rowCount(); ++r)
            out.push_back(cell(v, r, col).toStdString());
        return out;
    }
    static void selectRows(QTreeView* v, std::initializer_list<int> rows) {
        v->clearSelection();
        for (int r : rows)
            v->selectionModel()->select(v->model()->index(r, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    std::string status(int panel) const { return w->statusPanelText(panel).toStdString(); }
};

} // namespace tandrel::test
