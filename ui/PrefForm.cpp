#include "PrefForm.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QValidator>
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <iterator>

namespace {

constexpr int kPortLength = 5;

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

} // namespace

TPrefForm::TPrefForm(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
                     QWidget* parent)
    : QDialog(parent), st_(st), main_(main), forms_(forms) {
    setObjectName(QStringLiteral("TPrefForm"));
    setWindowTitle(QStringLiteral("Preferences"));
    // A fixed dialog without border icons: it closes only through its buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(359, 293);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setAccessibleName(QStringLiteral("Preferences"));
    PageControl1->tabBar()->setObjectName(QStringLiteral("PageControl1Tabs"));

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
    auto* grid = new QGridLayout(internet);
    int row = 0;
    for (auto [label, edit] : {std::pair{smtpLabel, smtpEdit}, std::pair{portLabel, portEdit},
                               std::pair{nameLabel, nameEdit}, std::pair{emailLabel, emailEdit}}) {
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(label, row, 0);
        grid->addWidget(edit, row, 1, edit == portEdit ? Qt::AlignLeft : Qt::Alignment());
        ++row;
    }
    grid->setRowStretch(row, 1);
    PageControl1->addTab(internet, QStringLiteral("Internet Settings"));

    // Page "Data Format".
    auto* format = new QWidget;
    format->setObjectName(QStringLiteral("TabSheet2"));
    auto* heading = BoldLabel(QStringLiteral("Select the character used to delimit the fields\n"
                                             "in a saved database."),
                              format);
    heading->setObjectName(QStringLiteral("Label5"));
    RadioButton1 = new QRadioButton(QStringLiteral("Select an option,"), format);
    RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
    RadioButton1->setAccessibleName(RadioButton1->text());
    ComboBox1 = new QComboBox(format);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setAccessibleName(QStringLiteral("Delimiter option"));
    ComboBox1->addItems({QStringLiteral("<TAB>"), QStringLiteral("<SPACE>"), QStringLiteral(","),
                         QStringLiteral("."), QStringLiteral(";"), QStringLiteral(":")});
    ComboBox1->setCurrentIndex(-1);
    QFont bold = ComboBox1->font();
    bold.setBold(true);
    ComboBox1->setFont(bold);
    RadioButton2 = new QRadioButton(QStringLiteral("or type in a single character."), format);
    RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
    RadioButton2->setAccessibleName(RadioButton2->text());
    fieldDelimEd = new QLineEdit(format);
    fieldDelimEd->setObjectName(QStringLiteral("fieldDelimEd"));
    fieldDelimEd->setAccessibleName(QStringLiteral("Delimiter character"));
    fieldDelimEd->setMaxLength(1);
    fieldDelimEd->setValidator(new SingleByteValidator(fieldDelimEd));
    fieldDelimEd->setFixedWidth(
        fieldDelimEd->fontMetrics().horizontalAdvance(QStringLiteral("WW")) + 16);
    RadioButton1->setChecked(true);
    fieldDelimEd->setEnabled(false);

    auto* formatGrid = new QGridLayout(format);
    formatGrid->addWidget(heading, 0, 0, 1, 2);
    formatGrid->addWidget(RadioButton1, 1, 0);
    formatGrid->addWidget(ComboBox1, 1, 1, Qt::AlignLeft);
    formatGrid->addWidget(RadioButton2, 2, 0);
    formatGrid->addWidget(fieldDelimEd, 2, 1, Qt::AlignLeft);
    formatGrid->setRowStretch(3, 1);
    formatGrid->setColumnStretch(1, 1);
    PageControl1->addTab(format, QStringLiteral("Data Format"));

    OkBut = new QPushButton(QStringLiteral("Ok"), this);
    OkBut->setObjectName(QStringLiteral("OkBut"));
    OkBut->setAccessibleName(QStringLiteral("Ok"));
    CancBut = new QPushButton(QStringLiteral("Cancel"), this);
    CancBut->setObjectName(QStringLiteral("CancBut"));
    CancBut->setAccessibleName(QStringLiteral("Cancel"));
    // Enter anywhere but on "Ok" itself closes without taking the changes.
    CancBut->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OkBut);
    buttons->addWidget(CancBut);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PageControl1, 1);
    layout->addLayout(buttons);

    setTabOrder(PageControl1, smtpEdit);
    setTabOrder(smtpEdit, portEdit);
    setTabOrder(portEdit, nameEdit);
    setTabOrder(nameEdit, emailEdit);
    setTabOrder(emailEdit, RadioButton1);
    setTabOrder(RadioButton1, ComboBox1);
    setTabOrder(ComboBox1, RadioButton2);
    setTabOrder(RadioButton2, fieldDelimEd);
    setTabOrder(fieldDelimEd, OkBut);
    setTabOrder(OkBut, CancBut);

    connect(RadioButton1, &QRadioButton::toggled, this, [this](bool on) {
        if (on) RadioButton1Click();
    });
    connect(RadioButton2, &QRadioButton::toggled, this, [this](bool on) {
        if (on) RadioButton2Click();
    });
    // textEdited comes from the user only: text set by the program is never checked.
    connect(portEdit, &QLineEdit::textEdited, this, &TPrefForm::portEditChange);
    connect(fieldDelimEd, &QLineEdit::textEdited, this, [this] { shownDelimiter_.reset(); });
    connect(OkBut, &QPushButton::clicked, this, &TPrefForm::OkButClick);
    connect(CancBut, &QPushButton::clicked, this, &QDialog::reject);
}

void TPrefForm::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) FormShow();
    QDialog::showEvent(event);
}

void TPrefForm::FormShow() {
    const tandrel::GlobalPrefs& prefs = st_.prefs;
    smtpEdit->setText(FromBytes(prefs.smtp));
    // The limit is for typing only: a longer port from the settings file is shown whole,
    // so an OK that does not touch it cannot shorten it into another port.
    const QString port = FromBytes(prefs.port);
    portEdit->setMaxLength(std::max(kPortLength, static_cast<int>(port.size())));
    portEdit->setText(port);
    nameEdit->setText(FromBytes(prefs.name));
    emailEdit->setText(FromBytes(prefs.fromaddy));

    const auto* found = std::find(std::begin(kDelimiters), std::end(kDelimiters), prefs.delimchar);
    if (found != std::end(kDelimiters)) {
        ComboBox1->setCurrentIndex(static_cast<int>(found - std::begin(kDelimiters)));
        RadioButton1->setChecked(true);
        RadioButton1Click();
    } else {
        // The list keeps whatever item it had.
        fieldDelimEd->setText(FromBytes(std::string(1, prefs.delimchar)));
        RadioButton2->setChecked(true);
        RadioButton2Click();
        ComboBox1->setEnabled(false);
        shownDelimiter_ = prefs.delimchar;
    }
}

void TPrefForm::RadioButton1Click() {
    fieldDelimEd->setEnabled(false);
    ComboBox1->setEnabled(true);
    fieldDelimEd->clear();
    shownDelimiter_.reset();
}

void TPrefForm::RadioButton2Click() {
    ComboBox1->setEnabled(false);
    fieldDelimEd->setEnabled(true);
}

void TPrefForm::portEditChange() {
    const std::string text = ToBytes(portEdit->text());
    if (!text.empty() && !IsInteger(text)) portEdit->setText(FromBytes(st_.prefs.port));
}

void TPrefForm::OkButClick() {
    tandrel::GlobalPrefs& prefs = st_.prefs;
    prefs.smtp = ToBytes(smtpEdit->text());
    prefs.port = ToBytes(portEdit->text());
    prefs.name = ToBytes(nameEdit->text());
    prefs.fromaddy = ToBytes(emailEdit->text());

    if (RadioButton2->isChecked()) {
        if (shownDelimiter_) {
            prefs.delimchar = *shownDelimiter_;
        } else {
            // An empty edit keeps the delimiter that was set before.
            const std::string typed = ToBytes(fieldDelimEd->text());
            if (!typed.empty()) prefs.delimchar = typed[0];
        }
    } else {
        const int index = ComboBox1->currentIndex();
        if (index >= 0 && index < static_cast<int>(std::size(kDelimiters)))
            prefs.delimchar = kDelimiters[index];
    }
    prefs.fielddelim = static_cast<unsigned char>(prefs.delimchar);
    accept();
}
