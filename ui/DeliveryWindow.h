// "Sending mails": the delivery window.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QStringList>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Forms.h"
#include "MainHooks.h"
#include "SmtpDialogue.h"

class QFrame;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

// Shows one delivery run: the SMTP dialogue reports through the DeliveryListener
// interface, the window turns that into its status line, gauge and report memo. Reports
// are gathered and shown at most about 20 times a second and at the end of the run, so
// a big run is not slowed down by painting.
class DeliveryWindow : public QDialog, public tandrel::DeliveryListener {
    Q_OBJECT
public:
    DeliveryWindow(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
                   QWidget* parent = nullptr);
    ~DeliveryWindow() override;

    // Shows the window modally for the messages in st.outgoing and returns when the
    // user has closed it. A connect error raised at once by the socket ends the run
    // with the window hidden and is rethrown here (std::runtime_error, socket text).
    // `started` runs once the dialogue has taken its copy of the messages.
    void deliver(std::function<void()> started = {});

    // The caller's clean-up after the window has closed: the orderly close.
    void closeConnection();

    tandrel::SmtpDialogue& dialogue() { return *dialogue_; }

    // DeliveryListener
    void memoClear() override;
    void memoAppend(const std::string& line) override;
    void setStatus(const std::string& text) override;
    void setGauge(int value) override;
    void deliveryEnded(bool logSaved) override;
    void messageOutcome(std::size_t message, tandrel::MessageOutcome outcome) override;

    // Called with each message's outcome (its index in the run) as the dialogue reports
    // it; set before deliver() and kept until it is replaced.
    std::function<void(std::size_t, tandrel::MessageOutcome)> onOutcome;

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

    tandrel::AppState& st_;
    tandrel::MainHooks& main_;
    tandrel::Forms& forms_;
    std::unique_ptr<tandrel::SmtpDialogue> dialogue_;
    std::exception_ptr connectError_;
    std::function<void()> started_;

    QTimer* flushTimer_ = nullptr;
    QElapsedTimer sinceFlush_;
    QStringList pendingLines_;
    std::optional<QString> pendingStatus_;
    std::optional<int> pendingGauge_;
    // The previous memo line, to recognise the socket's text of a refused connection.
    std::string lastLine_;
};
