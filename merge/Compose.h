// The merged, wrapped message of one recipient (before attachment parts).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Model.h"

namespace tandrel {

inline constexpr std::size_t MaxLineLength = 995;

// Splits lines longer than MaxLineLength; every line ends up at most that long.
void WrapLongLines(std::vector<std::string>& lines);

// Join MailText with CR LF, merge the entry, split into lines again, wrap.
std::vector<std::string> ComposeMessage(const std::vector<VarIdent>& fields, const MailText& mail,
                                        const ReceipData& entry);

} // namespace tandrel
