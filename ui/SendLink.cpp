// The main window's Send and Send Test, run by the send commands.
#include "SendLink.h"

#include "DeliveryWindow.h"
#include "PreparationWindow.h"
#include "SendCommand.h"

SendLink::SendLink(MainWindow& main) : main_(main) {
    forms_.main = &main;
    tandrel::AppState& st = main.state();
    forms_.deliveryWindow = new DeliveryWindow(st, *this, forms_, &main);
    forms_.preparationWindow = new PreparationWindow(st, *this, forms_, &main);
    main.setMailingLauncher(this);
}

SendLink::~SendLink() {
    main_.setMailingLauncher(nullptr);
}

void SendLink::sendMailing() {
    tandrel::RunMailing(*this, forms_);
}

void SendLink::sendTestMail(const tandrel::ReceipData& person) {
    tandrel::RunTestMail(*this, forms_, person);
}

void SendLink::explain(const std::string& reason) {
    main_.displayHint(QString::fromUtf8(reason.data(), static_cast<qsizetype>(reason.size())));
}
