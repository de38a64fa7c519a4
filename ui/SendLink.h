// Connects the main window's Send and Send Test to the send commands, which still take
// the main window through MainHooks and their windows through Forms. The one file of the
// windows that knows those two; it goes when the send commands take explicit inputs.
#pragma once

#include "Forms.h"
#include "MainHooks.h"
#include "MainWindow.h"

class SendLink : public MailingLauncher, public tandrel::MainHooks {
public:
    // Makes the preparation and delivery windows, children of `main`, and becomes its
    // mailing launcher.
    explicit SendLink(MainWindow& main);
    ~SendLink() override;
    SendLink(const SendLink&) = delete;
    SendLink& operator=(const SendLink&) = delete;

    DeliveryWindow* deliveryWindow() const { return forms_.deliveryWindow; }
    PreparationWindow* preparationWindow() const { return forms_.preparationWindow; }

    // MailingLauncher
    void sendMailing() override;
    void sendTestMail(const tandrel::ReceipData& person) override;

    // MainHooks
    tandrel::AppState& state() override { return main_.state(); }
    tandrel::MailEditors editorTexts() const override { return main_.editorTexts(); }
    bool previewShown() const override { return main_.previewShown(); }
    std::vector<tandrel::ReceipData*> recipientRows() const override {
        return main_.recipientRows();
    }
    void setControlsEnabled(bool on) override { main_.setControlsEnabled(on); }
    void refreshLists() override { main_.refreshLists(); }
    void updateStatusBar() override { main_.updateStatusBar(); }
    QWidget* mainWidget() override { return &main_; }
    void explain(const std::string& reason) override;

private:
    MainWindow& main_;
    tandrel::Forms forms_;
};
