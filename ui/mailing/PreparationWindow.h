// SPDX-License-Identifier: GPL-3.0-or-later
// "Preparing Mails": the preparation window.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <optional>
#include <string>

#include "mailing/MailingObserver.h"

class QLabel;
class QProgressBar;
class QTimer;

namespace tandrel {
class MailingRun;
}

// Shown modally by the Send command. Its one-shot timer lets the window appear before
// the synchronous preparation of every message starts; then the window closes itself.
class PreparationWindow : public QDialog, private tandrel::MailingObserver {
    Q_OBJECT
public:
    explicit PreparationWindow(QWidget* parent = nullptr);

    // Shows the window modally while the run prepares its messages, its gauge following.
    // Returns the text naming the problem when preparation failed.
    std::optional<std::string> prepare(tandrel::MailingRun& run);

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
    void preparationProgress(int percent) override;

    // The shortest time between two paints of the gauge while preparation runs.
    static constexpr int kGaugeIntervalMs = 40;

    tandrel::MailingRun* run_ = nullptr;
    std::optional<std::string> error_;
    QElapsedTimer sinceGauge_;
};
