// SPDX-License-Identifier: GPL-3.0-or-later
// Creates every window once, hidden, in the program's order, and keeps them for the run.
#pragma once

#include <memory>
#include <string>

namespace tandrel {

class DeliveryWindow;
class MainWindow;
class PreparationWindow;
class SendLauncher;

class AppWindows {
public:
    // `programDir` replaces the program's own directory as the home of the settings and
    // log files (empty: the directory of the program file).
    explicit AppWindows(const std::string& programDir = {});
    ~AppWindows();
    AppWindows(const AppWindows&) = delete;
    AppWindows& operator=(const AppWindows&) = delete;

    MainWindow& main() { return *main_; }
    DeliveryWindow* deliveryWindow() const;
    PreparationWindow* preparationWindow() const;

private:
    std::unique_ptr<MainWindow> main_;
    std::unique_ptr<SendLauncher> send_;
};

} // namespace tandrel
