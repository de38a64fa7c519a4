// SPDX-License-Identifier: GPL-3.0-or-later
// The run log (Tandrel.log): the dialogue of every run, kept in the session's memory and
// appended to the file when a run ends or is cancelled. Lines a failed write left out go
// with the next one.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tandrel {

class RunLogRecord {
public:
    // `sessionLines` is the session's run log in memory, of which the first `savedCount`
    // are in the file; this run adds to its end. An empty `path` keeps the lines in
    // memory only.
    RunLogRecord(std::vector<std::string>& sessionLines, std::size_t& savedCount, std::string path);
    void add(const std::vector<std::string>& items);
    void add(const std::string& item);
    // Appends what was added since the last save; false when the file cannot be written
    // (the lines then go with the next save).
    bool save();
    // The reason the last save failed; empty after a good one.
    const std::string& error() const { return error_; }

private:
    std::vector<std::string>& lines_;
    std::string path_;
    std::size_t& saved_;
    std::string error_;
};

} // namespace tandrel
