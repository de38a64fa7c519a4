// Placeholder substitution: "[name]", "[email]" and "[" + field name + "]".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Model.h"

namespace tandrel {

// Replaces every occurrence of `placeholder` in `text` by `value`.
//
// The result is that of searching again from the start of the text after every
// replacement: characters on both sides of a removed placeholder that together form
// it again are replaced too ('[na[name]me]' with an empty value gives ""). The work
// stays linear, because a new occurrence can only straddle the edges of the value
// just inserted, so only that neighbourhood is searched again.
//
// A value that contains the placeholder itself is inserted once and the search goes
// on after it (searching from the start would never end). An empty placeholder
// changes nothing.
void ReplaceAll(std::string& text, std::string_view placeholder, std::string_view value);

// Replaces the entry's placeholders in `text`, using the field list for the columns:
// "[name]", then "[email]", then "[field]" for every field that has a value (values
// pair with fields by position; surplus fields keep their placeholders).
void MergeEntry(const std::vector<VarIdent>& fields, const ReceipData& entry, std::string& text);

} // namespace tandrel
