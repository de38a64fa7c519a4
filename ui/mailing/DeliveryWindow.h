// SPDX-License-Identifier: GPL-3.0-or-later
// "Sending mails": the delivery window.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QStringList>
#include <optional>
#include <string>

#include "mailing/MailingObserver.h"

class QFrame;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace tandrel {

class MailingRun;

// Shows the delivery of one mailing run: the Send command passes on what the run
// reports (the MailingObserver calls), the window turns that into its status line,
// gauge and report memo. Reports are gathered and shown at most about 20 times a second
// and at the end of the run, so a big run is not slowed down by painting.
class DeliveryWindow : public QDialog, public MailingObserver {
    Q_OBJECT
public:
    explicit DeliveryWindow(QWidget* parent = nullptr);
    ~DeliveryWindow() override;

    // Shows the window modally, afresh, for `run`, which Cancel stops; returns at once.
    // The window ends (QDialog::finished) when the user closes or cancels it, or with
    // endWithoutRun().
    void showRun(MailingRun& run);
    // Hides the window of a run that could not begin, as if it had not been shown.
    void endWithoutRun();

    // MailingObserver
    void reportCleared() override;
    void reportLine(const std::string& line) override;
    void statusChanged(const std::string& text) override;
    void deliveryProgress(int percent) override;
    void deliveryEvent(const DeliveryEvent& event) override;
    void deliveryEnded(const DeliverySummary& summary) override;

    // Shows what was reported and not shown yet.
    void flushUpdates();

    QLabel* statusLabel = nullptr;
    QFrame* statusPanel = nullptr;
    QProgressBar* gauge = nullptr;
    QPushButton* closeButton = nullptr;
    QPushButton* cancelButton = nullptr;
    QPlainTextEdit* reportMemo = nullptr;

public slots:
    void cancelRun();
    void closeWindow();

protected:
    // Escape and the window manager's close request: only the two buttons end the run.
    void reject() override {}

private:
    void scheduleFlush();

    MailingRun* run_ = nullptr;

    QTimer* flushTimer_ = nullptr;
    QElapsedTimer sinceFlush_;
    QStringList pendingLines_;
    std::optional<QString> pendingStatus_;
    std::optional<int> pendingGauge_;
};

} // namespace tandrel
