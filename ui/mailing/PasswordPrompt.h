// SPDX-License-Identifier: GPL-3.0-or-later
// The small dialog that asks for the login password when Send needs one, and the
// window's credential source built on it.
#pragma once

#include <QDialog>
#include <optional>
#include <string>

#include "model/AppState.h"
#include "mailing/Credentials.h"

class QCheckBox;
class QLineEdit;

class PasswordPrompt : public QDialog {
    Q_OBJECT
public:
    PasswordPrompt(const std::string& user, const std::string& host, QWidget* parent = nullptr);

    QLineEdit* passwordEdit = nullptr;
    QCheckBox* rememberCheck = nullptr;
};

namespace tandrel {

// The password Send logs in with: this session's password for the same login; the
// keyring's; or the one the user types in PasswordPrompt (kept for the session, and in
// the keyring when "Remember password" is ticked). Nothing when the user cancelled the
// question.
class WindowCredentials : public CredentialSource {
public:
    WindowCredentials(AppState& st, QWidget* parent) : st_(st), parent_(parent) {}
    std::optional<Credentials> credentialsFor(const CredentialRequest& request) override;

private:
    AppState& st_;
    QWidget* parent_;
};

} // namespace tandrel
