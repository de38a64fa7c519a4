// Every window of the program, created once at start-up in this order and reused.
#pragma once

class MainWindow;
class DatabaseEditor;
class AddPersonDialog;
class FieldsDialog;
class DeliveryWindow;
class PreferencesDialog;
class AboutBox;
class AttachmentsWindow;
class FileTestWindow;
class PreparationWindow;

namespace tandrel {

struct Forms {
    MainWindow* main = nullptr;
    DatabaseEditor* databaseEditor = nullptr;
    AddPersonDialog* addPersonDialog = nullptr;
    FieldsDialog* fieldsDialog = nullptr;
    DeliveryWindow* deliveryWindow = nullptr;
    PreferencesDialog* preferencesDialog = nullptr;
    AboutBox* aboutBox = nullptr;
    AttachmentsWindow* attachmentsWindow = nullptr;
    FileTestWindow* fileTestWindow = nullptr;
    PreparationWindow* preparationWindow = nullptr;
};

} // namespace tandrel
