// SPDX-License-Identifier: GPL-3.0-or-later
// The messages of one run as the connections take them: each connection takes the next
// message when it is ready to send one, so every message goes over exactly one
// connection; a connection that fails gives back what it took but did not send, and the
// others take those first. The spacing of messages under a rate limit is kept here too,
// so that the limit holds for all connections together.
#pragma once

#include <chrono>
#include <cstddef>
#include <set>

namespace tandrel {

class MessageQueue {
public:
    explicit MessageQueue(std::size_t count) : count_(count) {}

    // The next message to send; count() when none is left.
    std::size_t take() {
        if (!givenBack_.empty()) {
            const std::size_t m = *givenBack_.begin();
            givenBack_.erase(givenBack_.begin());
            return m;
        }
        return next_ < count_ ? next_++ : count_;
    }
    void giveBack(std::size_t message) {
        if (message < count_) givenBack_.insert(message);
    }
    bool empty() const { return givenBack_.empty() && next_ >= count_; }
    std::size_t count() const { return count_; }

    // When the last message began (or the slot a waiting connection has reserved).
    std::chrono::steady_clock::time_point lastStart{};
    bool rateStarted = false;

private:
    std::size_t count_;
    std::size_t next_ = 0;
    std::set<std::size_t> givenBack_;
};

} // namespace tandrel
