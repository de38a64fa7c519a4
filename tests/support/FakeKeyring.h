// SPDX-License-Identifier: GPL-3.0-or-later
// A keyring in memory for the tests, which also counts how often it was asked.
#pragma once

#include <map>
#include <string>

#include "model/AppState.h"

namespace tandrel::test {

class FakeKeyring : public PasswordKeeper {
public:
    // The entries live outside, so a test can look at them after AppState owns the keeper.
    explicit FakeKeyring(std::map<std::string, std::string>& entries) : entries_(entries) {}
    std::optional<std::string> load(const std::string& account) override {
        const auto it = entries_.find(account);
        if (it == entries_.end()) return std::nullopt;
        return it->second;
    }
    bool store(const std::string& account, const std::string& password) override {
        entries_[account] = password;
        return true;
    }
    void forget(const std::string& account) override { entries_.erase(account); }

private:
    std::map<std::string, std::string>& entries_;
};

} // namespace tandrel::test
