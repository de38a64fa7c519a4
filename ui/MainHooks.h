// What the other windows need from the main window.
#pragma once

#include <string>
#include <vector>

#include "AppState.h"

class QWidget;

namespace tandrel {

class MainHooks {
public:
    virtual ~MainHooks() = default;
    virtual AppState& state() = 0;
    // The current texts of the From, To, Subject and body editors.
    virtual MailEditors editorTexts() const = 0;
    // True while the merged preview is shown in the editors.
    virtual bool previewShown() const = 0;
    // The entries of the "Receipients" rows, in row order (each row its own entry).
    virtual std::vector<ReceipData*> recipientRows() const = 0;
    virtual void setControlsEnabled(bool on) = 0;
    virtual void refreshLists() = 0;
    virtual void updateStatusBar() = 0;
    virtual QWidget* mainWidget() = 0;
    // Says for a few seconds in the status bar why a command did nothing.
    virtual void explain(const std::string& reason) { (void)reason; }
};

} // namespace tandrel
