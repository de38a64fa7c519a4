// The main window as the attachments, file test, preferences and about windows see it:
// the program state and a count of status bar refreshes.
#pragma once

#include "MainHooks.h"

namespace tandrel::test {

class AttachTestHooks : public MainHooks {
public:
    AppState st;
    int statusUpdates = 0;
    AppState& state() override { return st; }
    MailEditors editorTexts() const override { return {}; }
    bool previewShown() const override { return false; }
    std::vector<ReceipData*> recipientRows() const override { return {}; }
    void setControlsEnabled(bool) override {}
    void refreshLists() override {}
    void updateStatusBar() override { ++statusUpdates; }
    QWidget* mainWidget() override { return nullptr; }
    void explain(const std::string& reason) override { explained.push_back(reason); }
    std::vector<std::string> explained;
};

} // namespace tandrel::test
