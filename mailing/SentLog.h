// SPDX-License-Identifier: GPL-3.0-or-later
// The sent log (Tandrel.snt): one block per mailing, naming its subject and every
// address the server accepted.
#pragma once

#include <string>
#include <vector>

namespace tandrel {

class SentLogBlock {
public:
    // Begins the block in `sessionLines` (the session's sent log in memory): the date
    // line, the subject, "Mails sent to:". The accepted addresses are added to the same
    // lines as the server accepts them.
    SentLogBlock(std::vector<std::string>& sessionLines, const std::string& subject);
    // Ends the block and appends it to the file at `path`. Throws FileError.
    void finish(const std::string& path);

private:
    std::vector<std::string>& lines_;
    std::size_t start_;
    bool finished_ = false;
};

} // namespace tandrel
