// The main window's Send and Send Test, run by the send commands.
#include "SendLauncher.h"

#include "DeliveryWindow.h"
#include "PreparationWindow.h"

SendLauncher::SendLauncher(MainWindow& main) : main_(main) {
    windows_.parent = &main;
    windows_.preparation = new PreparationWindow(&main);
    windows_.delivery = new DeliveryWindow(&main);
    main.setMailingLauncher(this);
}

SendLauncher::~SendLauncher() {
    main_.setMailingLauncher(nullptr);
}

void SendLauncher::sendMailing() {
    tandrel::RunMailing(windows_, main_.state(), main_.recipientRows(), main_.editorTexts(),
                        main_.previewShown());
}

void SendLauncher::sendTestMail(const tandrel::ReceipData& person) {
    tandrel::RunTestMail(windows_, main_.state(), main_.editorTexts(), main_.previewShown(),
                         person);
}
