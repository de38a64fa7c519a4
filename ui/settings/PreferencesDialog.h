// SPDX-License-Identifier: GPL-3.0-or-later
// "Preferences": relay, sender, encryption and login, relay limits and delimiter.
#pragma once

#include <QDialog>
#include <optional>

#include "model/AppState.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;
class QPushButton;
class QRadioButton;
class QTabWidget;

class PreferencesDialog : public QDialog {
    Q_OBJECT
public:
    // Edits the settings in `st.prefs` and the session's login password.
    explicit PreferencesDialog(tandrel::AppState& st, QWidget* parent = nullptr);

    // The delimiter choices of delimiterList, in item order.
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
    // Enables the fields of the login chosen in loginList.
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
    tandrel::AppState& st_;

    QTabWidget* pages = nullptr;
    QLineEdit* smtpEdit = nullptr;
    QLineEdit* portEdit = nullptr;
    QLineEdit* nameEdit = nullptr;
    QLineEdit* emailEdit = nullptr;
    QSpinBox* timeoutEdit = nullptr;
    QSpinBox* perConnectionEdit = nullptr;
    QSpinBox* rateEdit = nullptr;
    QSpinBox* connectionsEdit = nullptr;
    QCheckBox* ehloCheck = nullptr;
    QComboBox* securityList = nullptr;
    QLineEdit* userEdit = nullptr;
    QLineEdit* passwordEdit = nullptr;
    QCheckBox* rememberCheck = nullptr;
    QComboBox* loginList = nullptr;
    QComboBox* providerList = nullptr;
    QLineEdit* clientIdEdit = nullptr;
    QLineEdit* tenantEdit = nullptr;
    QRadioButton* listedDelimiterButton = nullptr;
    QComboBox* delimiterList = nullptr;
    QRadioButton* typedDelimiterButton = nullptr;
    QLineEdit* delimiterEdit = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;

    // The delimiter byte that loadPreferences put into delimiterEdit, while the user has not
    // changed it. A byte that the local encoding cannot show on its own must survive an
    // unchanged OK exactly.
    std::optional<char> shownDelimiter_;
    int shownSecurity_ = 0;
    // The keyring is touched only when the user changed the password or the check box.
    bool passwordTouched_ = false;
};
