// SPDX-License-Identifier: GPL-3.0-or-later
// "Preferences": relay, sender, encryption and login, relay limits and delimiter.
#pragma once

#include <QDialog>
#include <optional>

#include "model/AppState.h"
#include "model/SettingsForm.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace tandrel {

class PreferencesDialog : public QDialog {
    Q_OBJECT
public:
    // Edits the settings in `st.prefs` and the session's login password.
    explicit PreferencesDialog(AppState& st, QWidget* parent = nullptr);

    // The delimiter choices of delimiterList_, in item order.
    static constexpr char kDelimiters[] = {'\t', ' ', ',', '.', ';', ':'};

public slots:
    // Refills every control from the preferences.
    void loadPreferences();
    void useListedDelimiter();
    void useTypedDelimiter();
    // Sets a non-numeric port typed by the user back to the stored port.
    void onPortEdited();
    // Offers the usual port of the chosen encryption while the port is still the usual
    // one of the encryption chosen before.
    void onSecurityChosen(int index);
    // Enables the fields of the login chosen in loginList_.
    void onLoginChosen();
    // Stores the controls' values in the preferences and closes with OK.
    void acceptPreferences();
    // A user name with Security "None": says a login needs encryption and offers
    // STARTTLS. False: back to the dialog.
    bool confirmLoginEncryption();

signals:
    // Why an OK did not take a value, for the status bar.
    void explained(const QString& reason);

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The delimiter's code as the form takes it (SettingsForm::fieldDelimiter).
    std::string typedDelimiterCode() const;

    AppState& st_;
    // The values as loadPreferences showed them: an edit left as it was gives back
    // exactly these bytes.
    SettingsForm shown_;

    QTabWidget* pages_ = nullptr;
    QLineEdit* smtpEdit_ = nullptr;
    QLineEdit* portEdit_ = nullptr;
    QLineEdit* nameEdit_ = nullptr;
    QLineEdit* emailEdit_ = nullptr;
    QSpinBox* timeoutEdit_ = nullptr;
    QSpinBox* perConnectionEdit_ = nullptr;
    QSpinBox* rateEdit_ = nullptr;
    QSpinBox* connectionsEdit_ = nullptr;
    QCheckBox* ehloCheck_ = nullptr;
    QComboBox* securityList_ = nullptr;
    QLineEdit* userEdit_ = nullptr;
    QLineEdit* passwordEdit_ = nullptr;
    QCheckBox* rememberCheck_ = nullptr;
    QComboBox* loginList_ = nullptr;
    QComboBox* providerList_ = nullptr;
    QLineEdit* clientIdEdit_ = nullptr;
    QLineEdit* tenantEdit_ = nullptr;
    QRadioButton* listedDelimiterButton_ = nullptr;
    QComboBox* delimiterList_ = nullptr;
    QRadioButton* typedDelimiterButton_ = nullptr;
    QLineEdit* delimiterEdit_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;

    // The delimiter byte that loadPreferences put into delimiterEdit_, while the user has not
    // changed it. A byte that the local encoding cannot show on its own must survive an
    // unchanged OK exactly.
    std::optional<char> shownDelimiter_;
    int shownSecurity_ = 0;
    // The keyring is touched only when the user changed the password or the check box.
    bool passwordTouched_ = false;
};

} // namespace tandrel
