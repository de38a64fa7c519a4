// SPDX-License-Identifier: GPL-3.0-or-later
// The run log's session lines: this run's part of the session's memory, appended to the
// file without reading or rewriting what an earlier run left there.
#include "mailing/RunLog.h"

#include <algorithm>
#include <exception>

#include "model/TextFile.h"

namespace tandrel {

RunLogRecord::RunLogRecord(std::vector<std::string>& sessionLines, std::size_t& savedCount,
                           std::string path)
    : lines_(sessionLines), path_(std::move(path)), saved_(savedCount) {}

void RunLogRecord::add(const std::vector<std::string>& items) {
    lines_.insert(lines_.end(), items.begin(), items.end());
}

void RunLogRecord::add(const std::string& item) {
    lines_.push_back(item);
}

bool RunLogRecord::save() {
    if (path_.empty()) return true;
    try {
        // A session whose lines were cleared starts counting again.
        const std::size_t from = saved_ <= lines_.size() ? saved_ : 0;
        AppendTextFile(path_, std::vector<std::string>(lines_.begin() + static_cast<long>(from),
                                                       lines_.end()));
        saved_ = lines_.size();
        error_.clear();
        return true;
    } catch (const std::exception& e) {
        error_ = e.what();
        return false;
    }
}

} // namespace tandrel
