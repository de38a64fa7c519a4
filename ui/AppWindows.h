// Creates every window once, hidden, in the program's order, and keeps them for the run.
#pragma once

#include <memory>
#include <string>

#include "Forms.h"

class MainWindow;

namespace tandrel {

class AppWindows {
public:
    // `programDir` replaces the program's own directory as the home of the settings and
    // log files (empty: the directory of the program file).
    explicit AppWindows(const std::string& programDir = {});
    ~AppWindows();
    AppWindows(const AppWindows&) = delete;
    AppWindows& operator=(const AppWindows&) = delete;

    MainWindow& main() { return *forms_.main; }
    Forms& forms() { return forms_; }

private:
    Forms forms_;
    std::unique_ptr<MainWindow> main_;
};

} // namespace tandrel
