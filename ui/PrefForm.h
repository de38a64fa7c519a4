// "Preferences": relay, sender and delimiter.
#pragma once

#include <QDialog>
#include <optional>

#include "Forms.h"
#include "MainHooks.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

class TPrefForm : public QDialog {
    Q_OBJECT
public:
    TPrefForm(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
              QWidget* parent = nullptr);

    // The delimiter choices of ComboBox1, in item order.
    static constexpr char kDelimiters[] = {'\t', ' ', ',', '.', ';', ':'};

public slots:
    // Refills every control from the preferences.
    void FormShow();
    void RadioButton1Click();
    void RadioButton2Click();
    // Sets a non-numeric port typed by the user back to the stored port.
    void portEditChange();
    // Stores the controls' values in the preferences and closes with OK.
    void OkButClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    tandrel::AppState& st_;
    tandrel::MainHooks& main_;
    tandrel::Forms& forms_;

    QTabWidget* PageControl1 = nullptr;
    QLineEdit* smtpEdit = nullptr;
    QLineEdit* portEdit = nullptr;
    QLineEdit* nameEdit = nullptr;
    QLineEdit* emailEdit = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QLineEdit* fieldDelimEd = nullptr;
    QPushButton* OkBut = nullptr;
    QPushButton* CancBut = nullptr;

    // The delimiter byte that FormShow put into fieldDelimEd, while the user has not
    // changed it. A byte that the local encoding cannot show on its own must survive an
    // unchanged OK exactly.
    std::optional<char> shownDelimiter_;
};
