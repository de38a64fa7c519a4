// Creates the windows in the program's order and wires them to the main window.
#include "AppWindows.h"

#include "AboutBox.h"
#include "AddPersonDialog.h"
#include "AttachmentsWindow.h"
#include "DatabaseEditor.h"
#include "DeliveryWindow.h"
#include "FieldsDialog.h"
#include "FileTestWindow.h"
#include "MainWindow.h"
#include "PreferencesDialog.h"
#include "PreparationWindow.h"

namespace tandrel {

AppWindows::AppWindows(const std::string& programDir) {
    // The main window's creation does all loading before any other window exists.
    main_ = std::make_unique<MainWindow>(nullptr, programDir);
    forms_.main = main_.get();
    AppState& st = main_->state();
    MainHooks& hooks = *main_;
    QWidget* top = main_.get();
    // The dialogs are children of the main window and go with it.
    forms_.databaseEditor = new DatabaseEditor(st, hooks, forms_, top);
    forms_.addPersonDialog = new AddPersonDialog(st, hooks, forms_, top);
    forms_.fieldsDialog = new FieldsDialog(st, hooks, forms_, top);
    forms_.deliveryWindow = new DeliveryWindow(top);
    forms_.preferencesDialog = new PreferencesDialog(st, hooks, forms_, top);
    forms_.aboutBox = new AboutBox(st, hooks, forms_, top);
    forms_.attachmentsWindow = new AttachmentsWindow(st, hooks, forms_, top);
    forms_.fileTestWindow = new FileTestWindow(st, hooks, forms_, top);
    forms_.preparationWindow = new PreparationWindow(top);
    main_->setForms(&forms_);
}

AppWindows::~AppWindows() = default;

} // namespace tandrel
