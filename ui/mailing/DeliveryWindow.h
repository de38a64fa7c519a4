// SPDX-License-Identifier: GPL-3.0-or-later
// "Sending mails": the delivery window.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QStringList>
#include <exception>
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
}

// Shows the delivery of one mailing run: the run reports through the MailingObserver
// interface, the window turns that into its status line, gauge and report memo. Reports
// are gathered and shown at most about 20 times a second and at the end of the run, so
// a big run is not slowed down by painting.
class DeliveryWindow : public QDialog, public tandrel::MailingObserver {
    Q_OBJECT
public:
    explicit DeliveryWindow(QWidget* parent = nullptr);
    ~DeliveryWindow() override;

    // Shows the window modally while the run delivers its prepared messages and returns
    // when the user has closed it. A connect error raised at once by the socket ends the
    // run with the window hidden and is rethrown here (std::runtime_error, socket text).
    void deliver(tandrel::MailingRun& run);

    // MailingObserver
    void reportCleared() override;
    void reportLine(const std::string& line) override;
    void statusChanged(const std::string& text) override;
    void deliveryProgress(int percent) override;
    void deliveryEvent(const tandrel::DeliveryEvent& event) override;
    void deliveryEnded(const tandrel::DeliverySummary& summary) override;

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
    void showEvent(QShowEvent* event) override;
    // Escape and the window manager's close request: only the two buttons end the run.
    void reject() override {}

private:
    void startRun();
    void scheduleFlush();

    tandrel::MailingRun* run_ = nullptr;
    std::exception_ptr connectError_;

    QTimer* flushTimer_ = nullptr;
    QElapsedTimer sinceFlush_;
    QStringList pendingLines_;
    std::optional<QString> pendingStatus_;
    std::optional<int> pendingGauge_;
};
