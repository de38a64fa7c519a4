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

#include "keyring/Keyring.h"
#include "model/SettingsForm.h"
#include "oauth/OAuthSettings.h"
#include "ui/DialogHelp.h"
#include "ui/TextBridge.h"

namespace tandrel {

namespace {

constexpr int kPortLength = 5;

// The items of securityList_, in order, with the port each mode usually uses.
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

// The items of loginList_ and providerList_, in order, with their [Network] keys.
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
        return Utf8Bytes(input).size() <= 1 ? Acceptable : Invalid;
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

PreferencesDialog::PreferencesDialog(AppState& st, QWidget* parent) : QDialog(parent), st_(st) {
    setObjectName(QStringLiteral("TPrefForm"));
    setWindowTitle(QStringLiteral("Preferences"));
    // A fixed dialog without border icons: it closes only through its buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(359, 353);

    pages_ = new QTabWidget(this);
    pages_->setObjectName(QStringLiteral("PageControl1"));
    pages_->setAccessibleName(QStringLiteral("Preferences"));
    pages_->tabBar()->setObjectName(QStringLiteral("PageControl1Tabs"));

    // Page "Internet Settings".
    auto* internet = new QWidget;
    internet->setObjectName(QStringLiteral("TabSheet1"));
    auto* smtpLabel = BoldLabel(QStringLiteral("SMTP Server:"), internet);
    auto* portLabel = BoldLabel(QStringLiteral("SMTP Port:"), internet);
    auto* nameLabel = BoldLabel(QStringLiteral("Name:"), internet);
    auto* emailLabel = BoldLabel(QStringLiteral("EMail:"), internet);
    smtpEdit_ = LabelledEdit(QStringLiteral("smtpEdit"), smtpLabel, internet);
    portEdit_ = LabelledEdit(QStringLiteral("portEdit"), portLabel, internet);
    nameEdit_ = LabelledEdit(QStringLiteral("nameEdit"), nameLabel, internet);
    emailEdit_ = LabelledEdit(QStringLiteral("emailEdit"), emailLabel, internet);
    // Five characters: every TCP port up to 65535 fits.
    portEdit_->setMaxLength(kPortLength);
    portEdit_->setFixedWidth(portEdit_->fontMetrics().horizontalAdvance(QStringLiteral("000000")) +
                             16);
    auto* timeoutLabel = BoldLabel(QStringLiteral("Time-out (s):"), internet);
    auto* perConnectionLabel = BoldLabel(QStringLiteral("Messages per connection:"), internet);
    auto* rateLabel = BoldLabel(QStringLiteral("Messages per minute:"), internet);
    timeoutEdit_ = CountEdit(QStringLiteral("timeoutEdit"), timeoutLabel,
                             QStringLiteral("Standard"), 86400, internet);
    perConnectionEdit_ = CountEdit(QStringLiteral("perConnectionEdit"), perConnectionLabel,
                                   QStringLiteral("Unlimited"), 1000000, internet);
    rateEdit_ = CountEdit(QStringLiteral("rateEdit"), rateLabel, QStringLiteral("Unlimited"),
                          100000, internet);
    auto* connectionsLabel = BoldLabel(QStringLiteral("Connections:"), internet);
    connectionsEdit_ = CountEdit(QStringLiteral("connectionsEdit"), connectionsLabel, QString(),
                                 kMaxConnections, internet);
    connectionsEdit_->setMinimum(1);
    ehloCheck_ = new QCheckBox(QStringLiteral("Use ESMTP extensions (EHLO, pipelining)"), internet);
    ehloCheck_->setObjectName(QStringLiteral("ehloCheck"));
    ehloCheck_->setAccessibleName(ehloCheck_->text());
    auto* grid = new QGridLayout(internet);
    grid->setVerticalSpacing(2);
    int row = 0;
    for (auto [label, edit] : std::initializer_list<std::pair<QLabel*, QWidget*>>{
             {smtpLabel, smtpEdit_},
             {portLabel, portEdit_},
             {nameLabel, nameEdit_},
             {emailLabel, emailEdit_},
             {timeoutLabel, timeoutEdit_},
             {perConnectionLabel, perConnectionEdit_},
             {rateLabel, rateEdit_},
             {connectionsLabel, connectionsEdit_}}) {
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(label, row, 0);
        const bool narrow = edit == portEdit_ || qobject_cast<QSpinBox*>(edit);
        grid->addWidget(edit, row, 1, narrow ? Qt::AlignLeft : Qt::Alignment());
        ++row;
    }
    // Under both columns: beside the labels its text would not fit the fixed page, and
    // the wide column would cut the labels short too.
    grid->addWidget(ehloCheck_, row++, 0, 1, 2);
    grid->setRowStretch(row, 1);
    pages_->addTab(internet, QStringLiteral("Internet Settings"));

    // Page "Security": encryption and login.
    auto* security = new QWidget;
    security->setObjectName(QStringLiteral("TabSheet3"));
    auto* securityLabel = BoldLabel(QStringLiteral("Encryption:"), security);
    auto* userLabel = BoldLabel(QStringLiteral("User name:"), security);
    auto* passwordLabel = BoldLabel(QStringLiteral("Password:"), security);
    QStringList securityCaptions;
    for (const SecurityMode& m : kSecurityModes)
        securityCaptions << QString::fromLatin1(m.caption);
    securityList_ =
        LabelledList(QStringLiteral("securityList"), securityLabel, securityCaptions, security);
    userEdit_ = LabelledEdit(QStringLiteral("userEdit"), userLabel, security);
    passwordEdit_ = LabelledEdit(QStringLiteral("passwordEdit"), passwordLabel, security);
    passwordEdit_->setEchoMode(QLineEdit::Password);
    rememberCheck_ = new QCheckBox(QStringLiteral("Remember password"), security);
    rememberCheck_->setObjectName(QStringLiteral("rememberCheck"));
    rememberCheck_->setAccessibleName(rememberCheck_->text());
    auto* loginLabel = BoldLabel(QStringLiteral("Login:"), security);
    auto* providerLabel = BoldLabel(QStringLiteral("Provider:"), security);
    auto* clientIdLabel = BoldLabel(QStringLiteral("Client ID:"), security);
    auto* tenantLabel = BoldLabel(QStringLiteral("Tenant:"), security);
    loginList_ = LabelledList(QStringLiteral("loginList"), loginLabel, Captions(kLogins), security);
    providerList_ =
        LabelledList(QStringLiteral("providerList"), providerLabel, Captions(kProviders), security);
    clientIdEdit_ = LabelledEdit(QStringLiteral("clientIdEdit"), clientIdLabel, security);
    tenantEdit_ = LabelledEdit(QStringLiteral("tenantEdit"), tenantLabel, security);
    auto* securityGrid = new QGridLayout(security);
    securityGrid->setVerticalSpacing(2);
    row = 0;
    for (auto [label, edit] :
         std::initializer_list<std::pair<QLabel*, QWidget*>>{{securityLabel, securityList_},
                                                             {userLabel, userEdit_},
                                                             {loginLabel, loginList_},
                                                             {passwordLabel, passwordEdit_},
                                                             {providerLabel, providerList_},
                                                             {clientIdLabel, clientIdEdit_},
                                                             {tenantLabel, tenantEdit_}}) {
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        securityGrid->addWidget(label, row, 0);
        securityGrid->addWidget(edit, row, 1,
                                qobject_cast<QComboBox*>(edit) ? Qt::AlignLeft : Qt::Alignment());
        ++row;
        if (edit == passwordEdit_) securityGrid->addWidget(rememberCheck_, row++, 1);
    }
    securityGrid->setRowStretch(row, 1);

    // Page "Data Format".
    auto* format = new QWidget;
    format->setObjectName(QStringLiteral("TabSheet2"));
    auto* heading = BoldLabel(QStringLiteral("Select the character used to delimit the fields\n"
                                             "in a saved database."),
                              format);
    heading->setObjectName(QStringLiteral("Label5"));
    listedDelimiterButton_ = new QRadioButton(QStringLiteral("Select an option,"), format);
    listedDelimiterButton_->setObjectName(QStringLiteral("RadioButton1"));
    listedDelimiterButton_->setAccessibleName(listedDelimiterButton_->text());
    delimiterList_ = new QComboBox(format);
    delimiterList_->setObjectName(QStringLiteral("ComboBox1"));
    delimiterList_->setAccessibleName(QStringLiteral("Delimiter option"));
    delimiterList_->addItems({QStringLiteral("<TAB>"), QStringLiteral("<SPACE>"),
                              QStringLiteral(","), QStringLiteral("."), QStringLiteral(";"),
                              QStringLiteral(":")});
    delimiterList_->setCurrentIndex(-1);
    QFont bold = delimiterList_->font();
    bold.setBold(true);
    delimiterList_->setFont(bold);
    typedDelimiterButton_ =
        new QRadioButton(QStringLiteral("or type in a single character."), format);
    typedDelimiterButton_->setObjectName(QStringLiteral("RadioButton2"));
    typedDelimiterButton_->setAccessibleName(typedDelimiterButton_->text());
    delimiterEdit_ = new QLineEdit(format);
    delimiterEdit_->setObjectName(QStringLiteral("fieldDelimEd"));
    delimiterEdit_->setAccessibleName(QStringLiteral("Delimiter character"));
    delimiterEdit_->setMaxLength(1);
    delimiterEdit_->setValidator(new SingleByteValidator(delimiterEdit_));
    delimiterEdit_->setFixedWidth(
        delimiterEdit_->fontMetrics().horizontalAdvance(QStringLiteral("WW")) + 16);
    listedDelimiterButton_->setChecked(true);
    delimiterEdit_->setEnabled(false);

    auto* formatGrid = new QGridLayout(format);
    formatGrid->addWidget(heading, 0, 0, 1, 2);
    formatGrid->addWidget(listedDelimiterButton_, 1, 0);
    formatGrid->addWidget(delimiterList_, 1, 1, Qt::AlignLeft);
    formatGrid->addWidget(typedDelimiterButton_, 2, 0);
    formatGrid->addWidget(delimiterEdit_, 2, 1, Qt::AlignLeft);
    formatGrid->setRowStretch(3, 1);
    formatGrid->setColumnStretch(1, 1);
    pages_->addTab(format, QStringLiteral("Data Format"));
    pages_->addTab(security, QStringLiteral("Security"));

    okButton_ = new QPushButton(QStringLiteral("Ok"), this);
    okButton_->setObjectName(QStringLiteral("OkBut"));
    okButton_->setAccessibleName(QStringLiteral("Ok"));
    cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton_->setObjectName(QStringLiteral("CancBut"));
    cancelButton_->setAccessibleName(QStringLiteral("Cancel"));
    // Enter takes the changes; Escape and "Cancel" discard them.
    okButton_->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okButton_);
    buttons->addWidget(cancelButton_);
    // The help opens at the section of the page on show.
    const std::pair<QWidget*, const char*> sections[] = {
        {internet, "qrc:/help/preferences.html#internet"},
        {format, "qrc:/help/preferences.html#delimiter"},
        {security, "qrc:/help/preferences.html#security"}};
    GiveDialogHelp(
        *this,
        [this, sections] {
            for (const auto& [page, url] : sections)
                if (pages_->currentWidget() == page) return QUrl(QString::fromLatin1(url));
            return QUrl(QStringLiteral("qrc:/help/preferences.html"));
        },
        *buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages_, 1);
    layout->addLayout(buttons);

    setTabOrder(pages_, smtpEdit_);
    setTabOrder(smtpEdit_, portEdit_);
    setTabOrder(portEdit_, nameEdit_);
    setTabOrder(nameEdit_, emailEdit_);
    setTabOrder(emailEdit_, timeoutEdit_);
    setTabOrder(timeoutEdit_, perConnectionEdit_);
    setTabOrder(perConnectionEdit_, rateEdit_);
    setTabOrder(rateEdit_, connectionsEdit_);
    setTabOrder(connectionsEdit_, ehloCheck_);
    setTabOrder(ehloCheck_, listedDelimiterButton_);
    setTabOrder(listedDelimiterButton_, delimiterList_);
    setTabOrder(delimiterList_, typedDelimiterButton_);
    setTabOrder(typedDelimiterButton_, delimiterEdit_);
    setTabOrder(delimiterEdit_, securityList_);
    setTabOrder(securityList_, userEdit_);
    setTabOrder(userEdit_, loginList_);
    setTabOrder(loginList_, passwordEdit_);
    setTabOrder(passwordEdit_, rememberCheck_);
    setTabOrder(rememberCheck_, providerList_);
    setTabOrder(providerList_, clientIdEdit_);
    setTabOrder(clientIdEdit_, tenantEdit_);
    setTabOrder(tenantEdit_, okButton_);
    setTabOrder(okButton_, cancelButton_);

    connect(listedDelimiterButton_, &QRadioButton::toggled, this, [this](bool on) {
        if (on) useListedDelimiter();
    });
    connect(typedDelimiterButton_, &QRadioButton::toggled, this, [this](bool on) {
        if (on) useTypedDelimiter();
    });
    // textEdited comes from the user only: text set by the program is never checked.
    connect(portEdit_, &QLineEdit::textEdited, this, &PreferencesDialog::onPortEdited);
    connect(delimiterEdit_, &QLineEdit::textEdited, this, [this] { shownDelimiter_.reset(); });
    connect(securityList_, &QComboBox::activated, this, &PreferencesDialog::onSecurityChosen);
    connect(loginList_, &QComboBox::currentIndexChanged, this, &PreferencesDialog::onLoginChosen);
    connect(passwordEdit_, &QLineEdit::textEdited, this, [this] { passwordTouched_ = true; });
    connect(rememberCheck_, &QCheckBox::clicked, this, [this] { passwordTouched_ = true; });
    connect(okButton_, &QPushButton::clicked, this, &PreferencesDialog::acceptPreferences);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
}

void PreferencesDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) loadPreferences();
    QDialog::showEvent(event);
}

void PreferencesDialog::loadPreferences() {
    const Preferences& prefs = st_.prefs;
    shown_ = FormOf(prefs);
    smtpEdit_->setText(SystemText(shown_.smtp));
    // The limit is for typing only: a longer port from the settings file is shown whole,
    // so an OK that does not touch it cannot shorten it into another port.
    const QString port = SystemText(shown_.port);
    portEdit_->setMaxLength(std::max(kPortLength, static_cast<int>(port.size())));
    portEdit_->setText(port);
    nameEdit_->setText(SystemText(shown_.name));
    emailEdit_->setText(SystemText(shown_.fromAddress));
    timeoutEdit_->setValue(prefs.timeoutSeconds);
    perConnectionEdit_->setValue(prefs.perConnection);
    rateEdit_->setValue(prefs.ratePerMinute);
    connectionsEdit_->setValue(prefs.connections);
    ehloCheck_->setChecked(prefs.ehlo == "yes");
    shownSecurity_ = SecurityIndex(prefs.security);
    securityList_->setCurrentIndex(shownSecurity_);
    userEdit_->setText(SystemText(shown_.user));
    const bool sameLogin = st_.passwordAccount == KeyringAccount(prefs);
    passwordEdit_->setText(sameLogin ? WordsText(st_.password) : QString());
    passwordTouched_ = false;
    loginList_->setCurrentIndex(std::max(0, ChoiceIndex(kLogins, prefs.auth)));
    providerList_->setCurrentIndex(std::max(0, ChoiceIndex(kProviders, prefs.oauthProvider)));
    clientIdEdit_->setText(SystemText(shown_.oauthClientId));
    tenantEdit_->setText(SystemText(shown_.oauthTenant));
    onLoginChosen();

    const auto* found = std::find(std::begin(kDelimiters), std::end(kDelimiters), prefs.delimiterChar);
    if (found != std::end(kDelimiters)) {
        delimiterList_->setCurrentIndex(static_cast<int>(found - std::begin(kDelimiters)));
        listedDelimiterButton_->setChecked(true);
        useListedDelimiter();
    } else {
        // The list keeps whatever item it had.
        delimiterEdit_->setText(SystemText(std::string(1, prefs.delimiterChar)));
        typedDelimiterButton_->setChecked(true);
        useTypedDelimiter();
        delimiterList_->setEnabled(false);
        shownDelimiter_ = prefs.delimiterChar;
    }
}

void PreferencesDialog::useListedDelimiter() {
    delimiterEdit_->setEnabled(false);
    delimiterList_->setEnabled(true);
    delimiterEdit_->clear();
    shownDelimiter_.reset();
}

void PreferencesDialog::useTypedDelimiter() {
    delimiterList_->setEnabled(false);
    delimiterEdit_->setEnabled(true);
}

void PreferencesDialog::onPortEdited() {
    const std::string text = Utf8Bytes(portEdit_->text());
    if (!text.empty() && !IsInteger(text)) portEdit_->setText(SystemText(st_.prefs.port));
}

void PreferencesDialog::onSecurityChosen(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kSecurityModes))) return;
    if (Utf8Bytes(portEdit_->text()) == kSecurityModes[shownSecurity_].port)
        portEdit_->setText(QString::fromLatin1(kSecurityModes[index].port));
    shownSecurity_ = index;
}

void PreferencesDialog::onLoginChosen() {
    const bool token = loginList_->currentIndex() == ChoiceIndex(kLogins, "oauth2");
    passwordEdit_->setEnabled(!token);
    for (QWidget* field :
         {static_cast<QWidget*>(providerList_), static_cast<QWidget*>(clientIdEdit_),
          static_cast<QWidget*>(tenantEdit_)})
        field->setEnabled(token);
}

// A user name with Security "None": the login could only go unencrypted, which Send
// refuses. Offers STARTTLS; false when the user chose to go back to the dialog.
bool PreferencesDialog::confirmLoginEncryption() {
    if (userEdit_->text().isEmpty() || securityList_->currentIndex() != 0) return true;
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
        securityList_->setCurrentIndex(1);
        onSecurityChosen(1);
        return true;
    }
    return box.clickedButton() == keep;
}

void PreferencesDialog::acceptPreferences() {
    if (!confirmLoginEncryption()) return;
    // The values this dialog does not show pass through as they are; the rules of what
    // is taken are those of the settings file (TakeSettingsForm).
    SettingsForm form = FormOf(st_.prefs);
    form.smtp = SystemBytes(smtpEdit_->text(), shown_.smtp);
    form.port = SystemBytes(portEdit_->text(), shown_.port);
    form.name = SystemBytes(nameEdit_->text(), shown_.name);
    form.fromAddress = SystemBytes(emailEdit_->text(), shown_.fromAddress);
    form.timeout = std::to_string(timeoutEdit_->value());
    form.perConnection = std::to_string(perConnectionEdit_->value());
    form.rate = std::to_string(rateEdit_->value());
    form.connections = std::to_string(connectionsEdit_->value());
    form.ehlo = ehloCheck_->isChecked() ? "yes" : "no";
    const int security = securityList_->currentIndex();
    if (security >= 0 && security < static_cast<int>(std::size(kSecurityModes)))
        form.security = kSecurityModes[security].key;
    form.user = SystemBytes(userEdit_->text(), shown_.user);
    if (const int login = loginList_->currentIndex(); login >= 0) form.auth = kLogins[login].key;
    if (const int provider = providerList_->currentIndex(); provider >= 0)
        form.oauthProvider = kProviders[provider].key;
    form.oauthClientId = SystemBytes(clientIdEdit_->text(), shown_.oauthClientId);
    form.oauthTenant = SystemBytes(tenantEdit_->text(), shown_.oauthTenant);
    form.fieldDelimiter = typedDelimiterCode();
    SettingsFormResult taken = TakeSettingsForm(form, st_.prefs);
    Preferences& prefs = st_.prefs;
    prefs = std::move(taken.prefs);

    if (UsesOAuth(prefs)) {
        // The refresh token goes to the keyring only while the box is ticked.
        if (passwordTouched_) {
            st_.rememberTokenLogin = rememberCheck_->isChecked();
            if (!st_.rememberTokenLogin) KeyringOf(st_).forget(OAuthKeyringAccount(prefs));
        }
    } else if (passwordTouched_ && !prefs.user.empty()) {
        // The password lives in memory and, when asked for, in the keyring; never in a file.
        const std::string account = KeyringAccount(prefs);
        st_.password = Utf8Bytes(passwordEdit_->text());
        st_.passwordAccount = account;
        PasswordKeeper& keyring = KeyringOf(st_);
        if (rememberCheck_->isChecked() && !st_.password.empty())
            keyring.store(account, st_.password);
        else
            keyring.forget(account);
    }

    for (const SettingsProblem& problem : taken.problems) {
        // The only way to give the delimiter no value here is an empty edit.
        if (problem.field == "fielddelim")
            emit explained(
                QStringLiteral("No delimiter typed: the field delimiter stays as it was"));
        else
            emit explained(WordsText(problem.text));
    }
    accept();
}

// The code of the delimiter chosen: a list item, the byte shown when the dialog opened,
// or the character typed; empty when none was typed.
std::string PreferencesDialog::typedDelimiterCode() const {
    auto code = [](char c) { return std::to_string(static_cast<unsigned char>(c)); };
    if (!typedDelimiterButton_->isChecked()) {
        const int index = delimiterList_->currentIndex();
        if (index >= 0 && index < static_cast<int>(std::size(kDelimiters)))
            return code(kDelimiters[index]);
        return code(st_.prefs.delimiterChar);
    }
    if (shownDelimiter_) return code(*shownDelimiter_);
    const std::string typed = Utf8Bytes(delimiterEdit_->text());
    return typed.empty() ? std::string() : code(typed[0]);
}

} // namespace tandrel
