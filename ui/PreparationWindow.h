// "Preparing Mails": the preparation window.
#pragma once

#include <QDialog>
#include <optional>
#include <string>

#include "Forms.h"
#include "MainHooks.h"

class QLabel;
class QProgressBar;
class QTimer;

// Shown modally by the Send command. Its one-shot timer lets the window appear before
// the synchronous preparation of every message starts; then the window closes itself.
class PreparationWindow : public QDialog {
    Q_OBJECT
public:
    PreparationWindow(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
                      QWidget* parent = nullptr);

    // Shows the window modally until st.outgoing holds one message per recipient row.
    // Returns the text naming the problem when preparation failed; st.outgoing is
    // then empty.
    std::optional<std::string> prepare();

    QLabel* statusLabel = nullptr;
    QProgressBar* gauge = nullptr;
    QTimer* startTimer = nullptr;

public slots:
    void prepareAll();

protected:
    void showEvent(QShowEvent* event) override;
    // No close box and no Escape: the window ends when preparation has ended.
    void reject() override {}

private:
    void setGauge(int value);

    tandrel::AppState& st_;
    tandrel::MainHooks& main_;
    tandrel::Forms& forms_;
    std::optional<std::string> error_;
};
