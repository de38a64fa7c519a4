// Placeholder substitution: "[name]", "[email]" and "[" + field name + "]".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Model.h"

namespace tandrel {

// Replaces every occurrence of `placeholder` in `text` by `value`.
void ReplaceAll(std::string& text, std::string_view placeholder, std::string_view value);

// Replaces the entry's placeholders in `text`, using the field list for the columns.
void MergeEntry(const std::vector<VarIdent>& fields, const ReceipData& entry, std::string& text);

} // namespace tandrel
