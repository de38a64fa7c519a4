// SPDX-License-Identifier: GPL-3.0-or-later
// "Preparing Mails": the preparation window.
#pragma once

#include <QDialog>
#include <QElapsedTimer>

class QLabel;
class QProgressBar;

namespace tandrel {

// Shown by the Send command while the run prepares its messages; the run waits a moment
// for it to be painted before the synchronous preparation starts, and the window only
// follows the gauge.
class PreparationWindow : public QDialog {
    Q_OBJECT
public:
    explicit PreparationWindow(QWidget* parent = nullptr);

    // Shows the window modally with its gauge at 0; returns at once.
    void showPreparing();
    // The preparation's gauge, 0..100 (see the note in the source on painting).
    void preparationProgress(int percent);

    QLabel* statusLabel = nullptr;
    QProgressBar* gauge = nullptr;

protected:
    // No close box and no Escape: the window ends when preparation has ended.
    void reject() override {}

private:
    // The shortest time between two paints of the gauge while preparation runs.
    static constexpr int kGaugeIntervalMs = 40;

    QElapsedTimer sinceGauge_;
};

} // namespace tandrel
