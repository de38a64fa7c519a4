// Creates every window once, hidden, in the program's order, and keeps them for the run.
#pragma once

#include <memory>

#include "Forms.h"

class TForm1;

namespace tandrel {

class AppWindows {
public:
    AppWindows();
    ~AppWindows();
    AppWindows(const AppWindows&) = delete;
    AppWindows& operator=(const AppWindows&) = delete;

    TForm1& main() { return *forms_.main; }
    Forms& forms() { return forms_; }

private:
    Forms forms_;
    std::unique_ptr<TForm1> main_;
};

} // namespace tandrel
