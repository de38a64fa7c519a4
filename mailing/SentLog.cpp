// SPDX-License-Identifier: GPL-3.0-or-later
// The sent log's block of one mailing.
#include "mailing/SentLog.h"

#include "model/MailFile.h"
#include "model/TextFile.h"

namespace tandrel {

SentLogBlock::SentLogBlock(std::vector<std::string>& sessionLines, const std::string& subject)
    : lines_(sessionLines), start_(sessionLines.size()) {
    lines_.push_back("Mailing started " + Rfc822Date());
    lines_.push_back("");
    lines_.push_back("Subject: " + subject);
    lines_.push_back("");
    lines_.push_back("Mails sent to:");
}

void SentLogBlock::finish(const std::string& path) {
    if (finished_) return;
    finished_ = true;
    lines_.push_back("");
    lines_.push_back("");
    AppendTextFile(
        path, std::vector<std::string>(lines_.begin() + static_cast<long>(start_), lines_.end()));
}

} // namespace tandrel
