// SPDX-License-Identifier: GPL-3.0-or-later
// "Password for USER at HOST": asked once per session unless the keyring has it.
#include "ui/mailing/PasswordPrompt.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/DialogHelp.h"
#include "keyring/Keyring.h"
#include "ui/WidgetHelpers.h"

namespace {

QString FromBytes(const std::string& bytes) {
    return QString::fromLocal8Bit(QByteArray::fromStdString(bytes));
}

} // namespace

PasswordPrompt::PasswordPrompt(const std::string& user, const std::string& host, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("PasswordForm"));
    setWindowTitle(QStringLiteral("Tandrel"));
    setModal(true);

    const QString question =
        QStringLiteral("Password for %1 at %2").arg(FromBytes(user), FromBytes(host));
    auto* label = new QLabel(question, this);
    label->setObjectName(QStringLiteral("PasswordLabel"));
    passwordEdit = tandrel::MakeEdit("passwordEdit", question);
    passwordEdit->setEchoMode(QLineEdit::Password);
    label->setBuddy(passwordEdit);
    rememberCheck = new QCheckBox(QStringLiteral("Remember password"), this);
    rememberCheck->setObjectName(QStringLiteral("rememberCheck"));
    rememberCheck->setAccessibleName(rememberCheck->text());

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("OkBut"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("CancBut"));
    tandrel::GiveDialogHelp(*this, tandrel::GuidePage("sending.html#password"), *buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(passwordEdit);
    layout->addWidget(rememberCheck);
    layout->addWidget(buttons);
    passwordEdit->setFocus();
}

namespace tandrel {

std::optional<Credentials> WindowCredentials::credentialsFor(const CredentialRequest& request) {
    if (st_.passwordAccount == request.account && !st_.password.empty())
        return Credentials{request.user, st_.password};

    PasswordKeeper& keyring = KeyringOf(st_);
    std::optional<std::string> password = keyring.load(request.account);
    if (!password) {
        PasswordPrompt prompt(request.user, request.host, parent_);
        if (prompt.exec() != QDialog::Accepted) return std::nullopt;
        // UTF-8: the bytes the server compares do not depend on the local encoding.
        password = prompt.passwordEdit->text().toUtf8().toStdString();
        if (prompt.rememberCheck->isChecked()) keyring.store(request.account, *password);
    }
    st_.password = *password;
    st_.passwordAccount = request.account;
    return Credentials{request.user, *password};
}

} // namespace tandrel
