// SPDX-License-Identifier: GPL-3.0-or-later
// The "Preferences" dialog: relay, sender, login, limits and field delimiter, stored on OK.
#include "ui/settings/PreferencesDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QValidator>
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <iterator>

#include "ui/DialogHelp.h"
#include "keyring/Keyring.h"
#include "oauth/OAuthSettings.h"

namespace {

constexpr int kPortLength = 5;

// The items of securityList, in order, with the port each mode usually uses.
struct SecurityMode {
    const char* key;
    const char* caption;
    const char* port;
};
constexpr SecurityMode kSecurityModes[] = {
    {"none", "None", "25"}, {"starttls", "STARTTLS", "587"}, {"tls", "SSL/TLS", "465"}};

int SecurityIndex(const std::string& key) {
    for (int i = 0; i < static_cast<int>(std::size(kSecurityModes)); ++i)
        if (key == kSecurityModes[i].key) return i;
    return 0;
}

// The items of loginList and providerList, in order, with their [Network] keys.
struct Choice {
    const char* key;
    const char* caption;
};
constexpr Choice kLogins[] = {{"password", "Password"}, {"oauth2", "OAuth 2.0"}};
constexpr Choice kProviders[] = {
    {"microsoft", "Microsoft"}, {"google", "Google"}, {"custom", "Custom"}};

template <std::size_t N> int ChoiceIndex(const Choice (&choices)[N], const std::string& key) {
    for (std::size_t i = 0; i < N; ++i)
        if (key == choices[i].key) return static_cast<int>(i);
    return -1;
}

// A count where 0 means "no limit" (or the standard time-outs), shown as such.
QSpinBox* CountEdit(const QString& objectName, QLabel* label, const QString& zeroText, int maximum,
                    QWidget* parent) {
    auto* edit = new QSpinBox(parent);
    edit->setObjectName(objectName);
    edit->setAccessibleName(label->text());
    edit->setRange(0, maximum);
    edit->setSpecialValueText(zeroText);
    label->setBuddy(edit);
    return edit;
}

QString FromBytes(const std::string& bytes) {
    return QString::fromLocal8Bit(QByteArray::fromStdString(bytes));
}

std::string ToBytes(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

// A port as the program keeps it: decimal digits with an optional sign, within the
// range of a 32-bit integer. No port range applies.
bool IsInteger(const std::string& text) {
    const bool sign = !text.empty() && (text[0] == '+' || text[0] == '-');
    const std::size_t start = sign ? 1 : 0;
    if (start == text.size()) return false;
    for (std::size_t i = start; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    // from_chars takes a minus sign but not a plus sign.
    const char* first = text.data() + (text[0] == '-' ? 0 : start);
    const char* last = text.data() + text.size();
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(first, last, value);
    return ec == std::errc() && end == last;
}

// The delimiter is one byte of a database file: only characters that the local 8-bit
// encoding writes as a single byte can be typed.
class SingleByteValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        return input.toLocal8Bit().size() <= 1 ? Acceptable : Invalid;
    }
};

QLabel* BoldLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

QLineEdit* LabelledEdit(const QString& objectName, QLabel* label, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(objectName);
    edit->setAccessibleName(label->text());
    label->setBuddy(edit);
    return edit;
}

QComboBox* LabelledList(const QString& objectName, QLabel* label, const QStringList& captions,
                        QWidget* parent) {
    auto* list = new QComboBox(parent);
    list->setObjectName(objectName);
    list->setAccessibleName(label->text());
    list->addItems(captions);
    label->setBuddy(list);
    return list;
}

template <std::size_t N> QStringList Captions(const Choice (&choices)[N]) {
    QStringList captions;
    for (const Choice& c : choices)
        captions << QString::fromLatin1(c.caption);
    return captions;
}

} // namespace

PreferencesDialog::PreferencesDialog(tandrel::AppState& st, QWidget* parent)
    : QDialog(parent), st_(st) {
    setObjectName(QStringLiteral("TPrefForm"));
    setWindowTitle(QStringLiteral("Preferences"));
    // A fixed dialog without border icons: it closes only through its buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(359, 353);

    pages = new QTabWidget(this);
    pages->setObjectName(QStringLiteral("PageControl1"));
    pages->setAccessibleName(QStringLiteral("Preferences"));
    pages->tabBar()->setObjectName(QStringLiteral("PageControl1Tabs"));

    // Page "Internet Settings".
    auto* internet = new QWidget;
    internet->setObjectName(QStringLiteral("TabSheet1"));
    auto* smtpLabel = BoldLabel(QStringLiteral("SMTP Server:"), internet);
    auto* portLabel = BoldLabel(QStringLiteral("SMTP Port:"), internet);
    auto* nameLabel = BoldLabel(QStringLiteral("Name:"), internet);
    auto* emailLabel = BoldLabel(QStringLiteral("EMail:"), internet);
    smtpEdit = LabelledEdit(QStringLiteral("smtpEdit"), smtpLabel, internet);
    portEdit = LabelledEdit(QStringLiteral("portEdit"), portLabel, internet);
    nameEdit = LabelledEdit(QStringLiteral("nameEdit"), nameLabel, internet);
    emailEdit = LabelledEdit(QStringLiteral("emailEdit"), emailLabel, internet);
    // Five characters: every TCP port up to 65535 fits.
    portEdit->setMaxLength(kPortLength);
    portEdit->setFixedWidth(portEdit->fontMetrics().horizontalAdvance(QStringLiteral("000000")) +
                            16);
    auto* timeoutLabel = BoldLabel(QStringLiteral("Time-out (s):"), internet);
    auto* perConnectionLabel = BoldLabel(QStringLiteral("Messages per connection:"), internet);
    auto* rateLabel = BoldLabel(QStringLiteral("Messages per minute:"), internet);
    timeoutEdit = CountEdit(QStringLiteral("timeoutEdit"), timeoutLabel, QStringLiteral("Standard"),
                            86400, internet);
    perConnectionEdit = CountEdit(QStringLiteral("perConnectionEdit"), perConnectionLabel,
                                  QStringLiteral("Unlimited"), 1000000, internet);
    rateEdit = CountEdit(QStringLiteral("rateEdit"), rateLabel, QStringLiteral("Unlimited"), 100000,
                         internet);
    auto* connectionsLabel = BoldLabel(QStringLiteral("Connections:"), internet);
    connectionsEdit = CountEdit(QStringLiteral("connectionsEdit"), connectionsLabel, QString(),
                                tandrel::kMaxConnections, internet);
    connectionsEdit->setMinimum(1);
    ehloCheck = new QCheckBox(QStringLiteral("Use ESMTP extensions (EHLO, pipelining)"), internet);
    ehloCheck->setObjectName(QStringLiteral("ehloCheck"));
    ehloCheck->setAccessibleName(ehloCheck->text());
    auto* grid = new QGridLayout(internet);
    grid->setVerticalSpacing(2);
    int row = 0;
    for (auto [label, edit] : std::initializer_list<std::pair<QLabel*, QWidget*>>{
             {smtpLabel, smtpEdit},
             {portLabel, portEdit},
             {nameLabel, nameEdit},
             {emailLabel, emailEdit},
             {timeoutLabel, timeoutEdit},
             {perConnectionLabel, perConnectionEdit},
             {rateLabel, rateEdit},
             {connectionsLabel, connectionsEdit}}) {
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(label, row, 0);
        const bool narrow = edit == portEdit || qobject_cast<QSpinBox*>(edit);
        grid->addWidget(edit, row, 1, narrow ? Qt::AlignLeft : Qt::Alignment());
        ++row;
    }
    // Under both columns: beside the labels its text would not fit the fixed page, and
    // the wide column would cut the labels short too.
    grid->addWidget(ehloCheck, row++, 0, 1, 2);
    grid->setRowStretch(row, 1);
    pages->addTab(internet, QStringLiteral("Internet Settings"));

    // Page "Security": encryption and login.
    auto* security = new QWidget;
    security->setObjectName(QStringLiteral("TabSheet3"));
    auto* securityLabel = BoldLabel(QStringLiteral("Encryption:"), security);
    auto* userLabel = BoldLabel(QStringLiteral("User name:"), security);
    auto* passwordLabel = BoldLabel(QStringLiteral("Password:"), security);
    QStringList securityCaptions;
    for (const SecurityMode& m : kSecurityModes)
        securityCaptions << QString::fromLatin1(m.caption);
    securityList =
        LabelledList(QStringLiteral("securityList"), securityLabel, securityCaptions, security);
    userEdit = LabelledEdit(QStringLiteral("userEdit"), userLabel, security);
    passwordEdit = LabelledEdit(QStringLiteral("passwordEdit"), passwordLabel, security);
    passwordEdit->setEchoMode(QLineEdit::Password);
    rememberCheck = new QCheckBox(QStringLiteral("Remember password"), security);
    rememberCheck->setObjectName(QStringLiteral("rememberCheck"));
    rememberCheck->setAccessibleName(rememberCheck->text());
    auto* loginLabel = BoldLabel(QStringLiteral("Login:"), security);
    auto* providerLabel = BoldLabel(QStringLiteral("Provider:"), security);
    auto* clientIdLabel = BoldLabel(QStringLiteral("Client ID:"), security);
    auto* tenantLabel = BoldLabel(QStringLiteral("Tenant:"), security);
    loginList = LabelledList(QStringLiteral("loginList"), loginLabel, Captions(kLogins), security);
    providerList =
        LabelledList(QStringLiteral("providerList"), providerLabel, Captions(kProviders), security);
    clientIdEdit = LabelledEdit(QStringLiteral("clientIdEdit"), clientIdLabel, security);
    tenantEdit = LabelledEdit(QStringLiteral("tenantEdit"), tenantLabel, security);
    auto* securityGrid = new QGridLayout(security);
    securityGrid->setVerticalSpacing(2);
    row = 0;
    for (auto [label, edit] : std::initializer_list<std::pair<QLabel*, QWidget*>>{
             {securityLabel, securityList},
             {userLabel, userEdit},
             {loginLabel, loginList},
             {passwordLabel, passwordEdit},
             {providerLabel, providerList},
             {clientIdLabel, clientIdEdit},
             {tenantLabel, tenantEdit}}) {
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        securityGrid->addWidget(label, row, 0);
        securityGrid->addWidget(edit, row, 1,
                                qobject_cast<QComboBox*>(edit) ? Qt::AlignLeft : Qt::Alignment());
        ++row;
        if (edit == passwordEdit) securityGrid->addWidget(rememberCheck, row++, 1);
    }
    securityGrid->setRowStretch(row, 1);

    // Page "Data Format".
    auto* format = new QWidget;
    format->setObjectName(QStringLiteral("TabSheet2"));
    auto* heading = BoldLabel(QStringLiteral("Select the character used to delimit the fields\n"
                                             "in a saved database."),
                              format);
    heading->setObjectName(QStringLiteral("Label5"));
    listedDelimiterButton = new QRadioButton(QStringLiteral("Select an option,"), format);
    listedDelimiterButton->setObjectName(QStringLiteral("RadioButton1"));
    listedDelimiterButton->setAccessibleName(listedDelimiterButton->text());
    delimiterList = new QComboBox(format);
    delimiterList->setObjectName(QStringLiteral("ComboBox1"));
    delimiterList->setAccessibleName(QStringLiteral("Delimiter option"));
    delimiterList->addItems({QStringLiteral("<TAB>"), QStringLiteral("<SPACE>"),
                             QStringLiteral(","), QStringLiteral("."), QStringLiteral(";"),
                             QStringLiteral(":")});
    delimiterList->setCurrentIndex(-1);
    QFont bold = delimiterList->font();
    bold.setBold(true);
    delimiterList->setFont(bold);
    typedDelimiterButton =
        new QRadioButton(QStringLiteral("or type in a single character."), format);
    typedDelimiterButton->setObjectName(QStringLiteral("RadioButton2"));
    typedDelimiterButton->setAccessibleName(typedDelimiterButton->text());
    delimiterEdit = new QLineEdit(format);
    delimiterEdit->setObjectName(QStringLiteral("fieldDelimEd"));
    delimiterEdit->setAccessibleName(QStringLiteral("Delimiter character"));
    delimiterEdit->setMaxLength(1);
    delimiterEdit->setValidator(new SingleByteValidator(delimiterEdit));
    delimiterEdit->setFixedWidth(
        delimiterEdit->fontMetrics().horizontalAdvance(QStringLiteral("WW")) + 16);
    listedDelimiterButton->setChecked(true);
    delimiterEdit->setEnabled(false);

    auto* formatGrid = new QGridLayout(format);
    formatGrid->addWidget(heading, 0, 0, 1, 2);
    formatGrid->addWidget(listedDelimiterButton, 1, 0);
    formatGrid->addWidget(delimiterList, 1, 1, Qt::AlignLeft);
    formatGrid->addWidget(typedDelimiterButton, 2, 0);
    formatGrid->addWidget(delimiterEdit, 2, 1, Qt::AlignLeft);
    formatGrid->setRowStretch(3, 1);
    formatGrid->setColumnStretch(1, 1);
    pages->addTab(format, QStringLiteral("Data Format"));
    pages->addTab(security, QStringLiteral("Security"));

    okButton = new QPushButton(QStringLiteral("Ok"), this);
    okButton->setObjectName(QStringLiteral("OkBut"));
    okButton->setAccessibleName(QStringLiteral("Ok"));
    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("CancBut"));
    cancelButton->setAccessibleName(QStringLiteral("Cancel"));
    // Enter takes the changes; Escape and "Cancel" discard them.
    okButton->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    // The help opens at the section of the page on show.
    const std::pair<QWidget*, const char*> sections[] = {
        {internet, "qrc:/help/preferences.html#internet"},
        {format, "qrc:/help/preferences.html#delimiter"},
        {security, "qrc:/help/preferences.html#security"}};
    tandrel::GiveDialogHelp(
        *this,
        [this, sections] {
            for (const auto& [page, url] : sections)
                if (pages->currentWidget() == page) return QUrl(QString::fromLatin1(url));
            return QUrl(QStringLiteral("qrc:/help/preferences.html"));
        },
        *buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages, 1);
    layout->addLayout(buttons);

    setTabOrder(pages, smtpEdit);
    setTabOrder(smtpEdit, portEdit);
    setTabOrder(portEdit, nameEdit);
    setTabOrder(nameEdit, emailEdit);
    setTabOrder(emailEdit, timeoutEdit);
    setTabOrder(timeoutEdit, perConnectionEdit);
    setTabOrder(perConnectionEdit, rateEdit);
    setTabOrder(rateEdit, connectionsEdit);
    setTabOrder(connectionsEdit, ehloCheck);
    setTabOrder(ehloCheck, listedDelimiterButton);
    setTabOrder(listedDelimiterButton, delimiterList);
    setTabOrder(delimiterList, typedDelimiterButton);
    setTabOrder(typedDelimiterButton, delimiterEdit);
    setTabOrder(delimiterEdit, securityList);
    setTabOrder(securityList, userEdit);
    setTabOrder(userEdit, loginList);
    setTabOrder(loginList, passwordEdit);
    setTabOrder(passwordEdit, rememberCheck);
    setTabOrder(rememberCheck, providerList);
    setTabOrder(providerList, clientIdEdit);
    setTabOrder(clientIdEdit, tenantEdit);
    setTabOrder(tenantEdit, okButton);
    setTabOrder(okButton, cancelButton);

    connect(listedDelimiterButton, &QRadioButton::toggled, this, [this](bool on) {
        if (on) useListedDelimiter();
    });
    connect(typedDelimiterButton, &QRadioButton::toggled, this, [this](bool on) {
        if (on) useTypedDelimiter();
    });
    // textEdited comes from the user only: text set by the program is never checked.
    connect(portEdit, &QLineEdit::textEdited, this, &PreferencesDialog::onPortEdited);
    connect(delimiterEdit, &QLineEdit::textEdited, this, [this] { shownDelimiter_.reset(); });
    connect(securityList, &QComboBox::activated, this, &PreferencesDialog::onSecurityChosen);
    connect(loginList, &QComboBox::currentIndexChanged, this, &PreferencesDialog::onLoginChosen);
    connect(passwordEdit, &QLineEdit::textEdited, this, [this] { passwordTouched_ = true; });
    connect(rememberCheck, &QCheckBox::clicked, this, [this] { passwordTouched_ = true; });
    connect(okButton, &QPushButton::clicked, this, &PreferencesDialog::acceptPreferences);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void PreferencesDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) loadPreferences();
    QDialog::showEvent(event);
}

void PreferencesDialog::loadPreferences() {
    const tandrel::Preferences& prefs = st_.prefs;
    smtpEdit->setText(FromBytes(prefs.smtp));
    // The limit is for typing only: a longer port from the settings file is shown whole,
    // so an OK that does not touch it cannot shorten it into another port.
    const QString port = FromBytes(prefs.port);
    portEdit->setMaxLength(std::max(kPortLength, static_cast<int>(port.size())));
    portEdit->setText(port);
    nameEdit->setText(FromBytes(prefs.name));
    emailEdit->setText(FromBytes(prefs.fromAddress));
    timeoutEdit->setValue(prefs.timeoutSeconds);
    perConnectionEdit->setValue(prefs.perConnection);
    rateEdit->setValue(prefs.ratePerMinute);
    connectionsEdit->setValue(prefs.connections);
    ehloCheck->setChecked(prefs.ehlo == "yes");
    shownSecurity_ = SecurityIndex(prefs.security);
    securityList->setCurrentIndex(shownSecurity_);
    userEdit->setText(FromBytes(prefs.user));
    const bool sameLogin = st_.passwordAccount == tandrel::KeyringAccount(prefs);
    passwordEdit->setText(sameLogin ? QString::fromUtf8(QByteArray::fromStdString(st_.password))
                                    : QString());
    passwordTouched_ = false;
    loginList->setCurrentIndex(std::max(0, ChoiceIndex(kLogins, prefs.auth)));
    providerList->setCurrentIndex(std::max(0, ChoiceIndex(kProviders, prefs.oauthProvider)));
    clientIdEdit->setText(FromBytes(prefs.oauthClientId));
    tenantEdit->setText(FromBytes(prefs.oauthTenant));
    onLoginChosen();

    const auto* found = std::find(std::begin(kDelimiters), std::end(kDelimiters), prefs.delimiterChar);
    if (found != std::end(kDelimiters)) {
        delimiterList->setCurrentIndex(static_cast<int>(found - std::begin(kDelimiters)));
        listedDelimiterButton->setChecked(true);
        useListedDelimiter();
    } else {
        // The list keeps whatever item it had.
        delimiterEdit->setText(FromBytes(std::string(1, prefs.delimiterChar)));
        typedDelimiterButton->setChecked(true);
        useTypedDelimiter();
        delimiterList->setEnabled(false);
        shownDelimiter_ = prefs.delimiterChar;
    }
}

void PreferencesDialog::useListedDelimiter() {
    delimiterEdit->setEnabled(false);
    delimiterList->setEnabled(true);
    delimiterEdit->clear();
    shownDelimiter_.reset();
}

void PreferencesDialog::useTypedDelimiter() {
    delimiterList->setEnabled(false);
    delimiterEdit->setEnabled(true);
}

void PreferencesDialog::onPortEdited() {
    const std::string text = ToBytes(portEdit->text());
    if (!text.empty() && !IsInteger(text)) portEdit->setText(FromBytes(st_.prefs.port));
}

void PreferencesDialog::onSecurityChosen(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kSecurityModes))) return;
    if (ToBytes(portEdit->text()) == kSecurityModes[shownSecurity_].port)
        portEdit->setText(QString::fromLatin1(kSecurityModes[index].port));
    shownSecurity_ = index;
}

void PreferencesDialog::onLoginChosen() {
    const bool token = loginList->currentIndex() == ChoiceIndex(kLogins, "oauth2");
    passwordEdit->setEnabled(!token);
    for (QWidget* field : {static_cast<QWidget*>(providerList), static_cast<QWidget*>(clientIdEdit),
                           static_cast<QWidget*>(tenantEdit)})
        field->setEnabled(token);
}

// A user name with Security "None": the login could only go unencrypted, which Send
// refuses. Offers STARTTLS; false when the user chose to go back to the dialog.
bool PreferencesDialog::confirmLoginEncryption() {
    if (userEdit->text().isEmpty() || securityList->currentIndex() != 0) return true;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Preferences"),
                    QStringLiteral("A login needs encryption: with a user name set, choose "
                                   "STARTTLS or SSL/TLS as Security. Tandrel sends no password "
                                   "unencrypted, so Send would stop."),
                    QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("LoginEncryptionBox"));
    QPushButton* useStartTls =
        box.addButton(QStringLiteral("Use STARTTLS"), QMessageBox::AcceptRole);
    useStartTls->setObjectName(QStringLiteral("UseStartTlsBut"));
    QPushButton* keep = box.addButton(QStringLiteral("Keep None"), QMessageBox::DestructiveRole);
    keep->setObjectName(QStringLiteral("KeepNoneBut"));
    box.addButton(QMessageBox::Cancel)->setObjectName(QStringLiteral("BackBut"));
    box.setDefaultButton(useStartTls);
    box.exec();
    if (box.clickedButton() == useStartTls) {
        securityList->setCurrentIndex(1);
        onSecurityChosen(1);
        return true;
    }
    return box.clickedButton() == keep;
}

void PreferencesDialog::acceptPreferences() {
    if (!confirmLoginEncryption()) return;
    tandrel::Preferences& prefs = st_.prefs;
    prefs.smtp = ToBytes(smtpEdit->text());
    prefs.port = ToBytes(portEdit->text());
    prefs.name = ToBytes(nameEdit->text());
    prefs.fromAddress = ToBytes(emailEdit->text());
    prefs.timeoutSeconds = timeoutEdit->value();
    prefs.perConnection = perConnectionEdit->value();
    prefs.ratePerMinute = rateEdit->value();
    prefs.connections = connectionsEdit->value();
    prefs.ehlo = ehloCheck->isChecked() ? "yes" : "no";
    const int security = securityList->currentIndex();
    if (security >= 0 && security < static_cast<int>(std::size(kSecurityModes)))
        prefs.security = kSecurityModes[security].key;
    // A line break in the name would become part of the login command.
    const std::string user = ToBytes(userEdit->text());
    if (user.find_first_of("\r\n") == std::string::npos) prefs.user = user;

    if (const int login = loginList->currentIndex(); login >= 0) prefs.auth = kLogins[login].key;
    if (const int provider = providerList->currentIndex(); provider >= 0)
        prefs.oauthProvider = kProviders[provider].key;
    // Both go into addresses: a line break would reach no server anyway.
    for (auto [edit, key] : {std::pair{clientIdEdit, &prefs.oauthClientId},
                             std::pair{tenantEdit, &prefs.oauthTenant}}) {
        const std::string value = ToBytes(edit->text().trimmed());
        if (value.find_first_of("\r\n") == std::string::npos) *key = value;
    }
    if (tandrel::UsesOAuth(prefs)) {
        // The refresh token goes to the keyring only while the box is ticked.
        if (passwordTouched_) {
            st_.rememberTokenLogin = rememberCheck->isChecked();
            if (!st_.rememberTokenLogin)
                tandrel::KeyringOf(st_).forget(tandrel::OAuthKeyringAccount(prefs));
        }
    } else if (passwordTouched_ && !prefs.user.empty()) {
        // The password lives in memory and, when asked for, in the keyring; never in a file.
        const std::string account = tandrel::KeyringAccount(prefs);
        st_.password = passwordEdit->text().toUtf8().toStdString();
        st_.passwordAccount = account;
        tandrel::PasswordKeeper& keyring = tandrel::KeyringOf(st_);
        if (rememberCheck->isChecked() && !st_.password.empty())
            keyring.store(account, st_.password);
        else
            keyring.forget(account);
    }

    if (typedDelimiterButton->isChecked()) {
        if (shownDelimiter_) {
            prefs.delimiterChar = *shownDelimiter_;
        } else {
            // An empty edit keeps the delimiter that was set before.
            const std::string typed = ToBytes(delimiterEdit->text());
            if (!typed.empty())
                prefs.delimiterChar = typed[0];
            else
                emit explained(
                    QStringLiteral("No delimiter typed: the field delimiter stays as it was"));
        }
    } else {
        const int index = delimiterList->currentIndex();
        if (index >= 0 && index < static_cast<int>(std::size(kDelimiters)))
            prefs.delimiterChar = kDelimiters[index];
    }
    prefs.fieldDelimiter = static_cast<unsigned char>(prefs.delimiterChar);
    accept();
}
