// SPDX-License-Identifier: GPL-3.0-or-later
// The small dialog that asks for the login password when Send needs one, and the
// window's credential source built on it.
#pragma once

#include <QDialog>
#include <optional>
#include <string>

#include "mailing/Credentials.h"
#include "model/AppState.h"

class QCheckBox;
class QLineEdit;

namespace tandrel {

class PasswordPrompt : public QDialog {
    Q_OBJECT
public:
    PasswordPrompt(const std::string& user, const std::string& host, QWidget* parent = nullptr);

    QLineEdit* passwordEdit = nullptr;
    QCheckBox* rememberCheck = nullptr;
};

// The password Send logs in with: this session's password for the same login; the
// keyring's; or the one the user types in PasswordPrompt (kept for the session, and in
// the keyring when "Remember password" is ticked). Nothing when the user cancelled the
// question; a password the run could not use (PasswordFault) is refused with why, and
// neither kept nor remembered.
class WindowCredentials : public CredentialSource {
public:
    WindowCredentials(AppState& st, QWidget* parent) : st_(st), parent_(parent) {}
    void requestCredentials(const CredentialRequest& request, CredentialsCallback answer) override;

private:
    void take(const CredentialRequest& request, const std::string& password,
              const CredentialsCallback& answer);

    AppState& st_;
    QWidget* parent_;
};

} // namespace tandrel
