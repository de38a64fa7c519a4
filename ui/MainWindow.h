// The main window: owns the program-wide state.
#pragma once

#include <QMainWindow>

#include "AppState.h"
#include "Forms.h"
#include "MainHooks.h"

class TForm1 : public QMainWindow, public tandrel::MainHooks {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;
    void setForms(tandrel::Forms* forms) { forms_ = forms; }

    tandrel::AppState& state() override { return st_; }
    tandrel::MailEditors editorTexts() const override { return {}; }
    bool previewShown() const override { return false; }
    std::vector<tandrel::ReceipData*> recipientRows() const override { return {}; }
    void SetControlsEnabled(bool) override {}
    void RefreshLists() override {}
    void UpdateStatusBar() override {}
    QWidget* mainWidget() override { return this; }

private:
    tandrel::AppState st_;
    tandrel::Forms* forms_ = nullptr;
};
