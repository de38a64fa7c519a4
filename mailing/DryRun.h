// SPDX-License-Identifier: GPL-3.0-or-later
// A dry run: every prepared message written to a folder as an .eml file instead of
// being sent.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "model/MessageSource.h"

namespace tandrel {

struct DryRunResult {
    std::size_t written = 0;
    std::size_t removed = 0; // files of an earlier dry run into the same folder
};

// Writes "NNNNN-address.eml" per message (numbered in order, padded to the width of
// the count) and the list of them; the files an earlier dry run listed there are removed
// first, and nothing else. A symbolic link under one of those names is replaced by the
// new file, its target untouched. `progress` gets 0..100. Throws std::runtime_error
// naming the folder or file that could not be made, removed or written (a folder or
// other non-regular file under a message's name).
DryRunResult WriteDryRun(MessageSource& messages, const std::string& dir,
                         const std::function<void(int)>& progress);

} // namespace tandrel
