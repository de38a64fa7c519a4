// SPDX-License-Identifier: GPL-3.0-or-later
// Placeholder substitution: "[name]", "[email]" and "[" + field name + "]".
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/Model.h"

namespace tandrel {

// A message that cannot be composed (a text attachment that cannot be read,
// attachments on a mail without a header block, values that make it grow without
// end). The text names the person, file or problem.
class ComposeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The most the merged text of one message may hold. Values that name each other's
// placeholders can double the text at every step; past this it is an error for that
// person, long before memory runs out.
inline constexpr std::size_t kMaxMergedBytes = std::size_t{64} << 20;

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

// The field list made ready for many merges: each placeholder name with the steps that
// use it (0 "[name]", 1 "[email]", 2 + k field k), found without going through the
// list, so that a merge costs what its text holds, not how many fields there are.
// Keeps a reference to `fields`.
class FieldIndex {
public:
    explicit FieldIndex(const std::vector<Field>& fields);
    const std::vector<Field>& fields() const { return fields_; }
    // The steps that use the name, ascending; null for none.
    const std::vector<std::size_t>* stepsOf(std::string_view name) const;
    std::size_t longestName() const { return longest_; }
    // Whether a name among the first `count` fields holds a bracket.
    bool namesHoldBrackets(std::size_t count) const { return firstBracketName_ < count; }

private:
    const std::vector<Field>& fields_;
    std::unordered_map<std::string_view, std::vector<std::size_t>> steps_;
    std::size_t longest_ = 0;
    std::size_t firstBracketName_;
};

// Replaces the entry's placeholders in `text`, using the field list for the columns:
// "[name]", then "[email]", then "[field]" for every field that has a value (values
// pair with fields by position; surplus fields keep their placeholders, unless the
// entry's missing values read as empty). Throws ComposeError (MergedTooLargeText) when
// the text would grow beyond kMaxMergedBytes; `text` is then unspecified.
void MergeEntry(const std::vector<Field>& fields, const Person& entry, std::string& text);
void MergeEntry(const FieldIndex& index, const Person& entry, std::string& text);

// "The merged mail for <person> grows beyond 64 MB", naming the values' references to
// each other when they hold brackets.
std::string MergedTooLargeText(const FieldIndex& index, const Person& entry);

// MergedTooLargeText when merging `text` for the entry would grow beyond
// kMaxMergedBytes, else "". Merges only when a value holds a bracket or the values
// are large enough for plain replacements to get there.
std::string MergeGrowthProblem(const FieldIndex& index, const Person& entry,
                               std::string_view text);

} // namespace tandrel
