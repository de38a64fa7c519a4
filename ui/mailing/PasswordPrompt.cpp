// SPDX-License-Identifier: GPL-3.0-or-later
// "Password for USER at HOST": asked once per session unless the keyring has it.
#include "ui/mailing/PasswordPrompt.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "keyring/Keyring.h"
#include "ui/DialogHelp.h"
#include "ui/WidgetHelpers.h"
#include "ui/TextBridge.h"

namespace tandrel {

PasswordPrompt::PasswordPrompt(const std::string& user, const std::string& host, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("PasswordForm"));
    setWindowTitle(QStringLiteral("Tandrel"));
    setModal(true);

    const QString question =
        QStringLiteral("Password for %1 at %2").arg(WordsText(user), WordsText(host));
    auto* label = new QLabel(question, this);
    label->setObjectName(QStringLiteral("PasswordLabel"));
    passwordEdit = MakeEdit("passwordEdit", question);
    passwordEdit->setEchoMode(QLineEdit::Password);
    label->setBuddy(passwordEdit);
    rememberCheck = new QCheckBox(QStringLiteral("Remember password"), this);
    rememberCheck->setObjectName(QStringLiteral("rememberCheck"));
    rememberCheck->setAccessibleName(rememberCheck->text());

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("OkBut"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("CancBut"));
    GiveDialogHelp(*this, GuidePage("sending.html#password"), *buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(passwordEdit);
    layout->addWidget(rememberCheck);
    layout->addWidget(buttons);
    passwordEdit->setFocus();
}

void WindowCredentials::requestCredentials(const CredentialRequest& request,
                                           CredentialsCallback answer) {
    if (st_.passwordAccount == request.account && !st_.password.empty())
        return answer({Credentials{request.user, st_.password}, ""});
    PasswordKeeper& keyring = KeyringOf(st_);
    if (std::optional<std::string> kept = keyring.load(request.account))
        return take(request, *kept, answer);
    auto* prompt = new PasswordPrompt(request.user, request.host, parent_);
    prompt->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(prompt, &QDialog::finished, prompt,
                     [this, prompt, request, answer = std::move(answer)](int result) {
                         if (result != QDialog::Accepted) return answer({});
                         // UTF-8: the bytes the server compares do not depend on the
                         // local encoding.
                         const std::string password =
                             Utf8Bytes(prompt->passwordEdit->text());
                         if (PasswordFault(password).empty() && prompt->rememberCheck->isChecked())
                             KeyringOf(st_).store(request.account, password);
                         take(request, password, answer);
                     });
    prompt->show();
}

void WindowCredentials::take(const CredentialRequest& request, const std::string& password,
                             const CredentialsCallback& answer) {
    if (std::string fault = PasswordFault(password); !fault.empty())
        return answer({std::nullopt, std::move(fault)});
    st_.password = password;
    st_.passwordAccount = request.account;
    answer({Credentials{request.user, password}, ""});
}

} // namespace tandrel
