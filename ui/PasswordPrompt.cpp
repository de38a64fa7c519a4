// "Password for USER at HOST": asked once per session unless the keyring has it.
#include "PasswordPrompt.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "Keyring.h"
#include "WidgetHelpers.h"

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

std::optional<std::string> PasswordForSend(AppState& st, QWidget* parent) {
    if (st.prefs.user.empty()) return std::string();
    const std::string account = KeyringAccount(st.prefs);
    if (st.passwordAccount == account && !st.password.empty()) return st.password;

    PasswordKeeper& keyring = KeyringOf(st);
    std::optional<std::string> password = keyring.load(account);
    if (!password) {
        PasswordPrompt prompt(st.prefs.user, st.prefs.smtp, parent);
        if (prompt.exec() != QDialog::Accepted) return std::nullopt;
        // UTF-8: the bytes the server compares do not depend on the local encoding.
        password = prompt.passwordEdit->text().toUtf8().toStdString();
        if (prompt.rememberCheck->isChecked()) keyring.store(account, *password);
    }
    st.password = *password;
    st.passwordAccount = account;
    return password;
}

} // namespace tandrel
