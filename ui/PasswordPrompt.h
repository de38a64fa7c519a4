// The small dialog that asks for the login password when Send needs one.
#pragma once

#include <QDialog>
#include <optional>
#include <string>

#include "AppState.h"

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

// The password Send logs in with: "" without a login name; this session's password for
// the same login; the keyring's; or the one the user types in PasswordPrompt (kept for
// the session, and in the keyring when "Remember password" is ticked). Nothing when the
// user cancelled the question.
std::optional<std::string> PasswordForSend(AppState& st, QWidget* parent);

} // namespace tandrel
