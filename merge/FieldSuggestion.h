// SPDX-License-Identifier: GPL-3.0-or-later
// What to suggest for a placeholder that names no field: the field names it was most
// likely meant as, or the field names to choose from.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tandrel {

// " (did you mean [name]?)" with the fields nearest to `word` when any is near enough
// (letter case aside, a slip of about one letter in three: a letter wrong, missing,
// added, or two swapped), several when they are equally near; otherwise " (the fields
// are [name], [email], ...)". `fields` in the order to list them.
std::string FieldSuggestion(std::string_view word, const std::vector<std::string>& fields);

} // namespace tandrel
