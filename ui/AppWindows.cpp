#include "AppWindows.h"

#include "AboutForm.h"
#include "AddDialog.h"
#include "AttachWin.h"
#include "DatabaseEditor.h"
#include "FieldsDialog.h"
#include "FileTestForm.h"
#include "MailWrap.h"
#include "MainWindow.h"
#include "PrefForm.h"
#include "SendWindow.h"

namespace tandrel {

AppWindows::AppWindows(const std::string& programDir) {
    // The main window's creation does all loading before any other window exists.
    main_ = std::make_unique<TForm1>(nullptr, programDir);
    forms_.main = main_.get();
    AppState& st = main_->state();
    MainHooks& hooks = *main_;
    QWidget* top = main_.get();
    // The dialogs are children of the main window and go with it.
    forms_.dBaseEntry = new TdBaseEntry(st, hooks, forms_, top);
    forms_.addForm = new TaddForm(st, hooks, forms_, top);
    forms_.fieldsForm = new TForm4(st, hooks, forms_, top);
    forms_.sendWin = new TsendWin(st, hooks, forms_, top);
    forms_.prefForm = new TPrefForm(st, hooks, forms_, top);
    forms_.aboutForm = new TaboutForm(st, hooks, forms_, top);
    forms_.attachForm = new TAttachForm(st, hooks, forms_, top);
    forms_.fileTForm = new TfileTForm(st, hooks, forms_, top);
    forms_.mailWrapForm = new TMailWrapForm(st, hooks, forms_, top);
    main_->setForms(&forms_);
}

AppWindows::~AppWindows() = default;

} // namespace tandrel
