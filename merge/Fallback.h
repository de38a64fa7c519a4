// SPDX-License-Identifier: GPL-3.0-or-later
// Placeholders with a fallback: "[field|text]" gives the field's value, or `text` when
// the value is empty or blanks only ("Dear [name|friend]").
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "merge/Merge.h"
#include "model/Model.h"

namespace tandrel {

// One "[field|text]" in a text: the field name runs to the first "|", the text to the
// next "]"; neither holds a bracket or a line break, and the name is not empty.
struct FallbackPlaceholder {
    std::size_t begin = 0, end = 0; // "[" and one past "]"
    std::string_view field;
    std::string_view text;
};

// The first such placeholder that begins at or after `from`.
std::optional<FallbackPlaceholder> FindFallback(std::string_view text, std::size_t from = 0);

// A "[field|" of a field in the index that begins no fallback placeholder, as what
// follows the "|" holds a bracket or a line break before its "]", or has none: merging
// leaves its brackets in the text. The span from that "[" to the "]" that closes it,
// brackets inside counted, or else to the end of its line; the first at or after
// `from`.
struct TextSpan {
    std::size_t begin = 0, end = 0;
};
std::optional<TextSpan> FindBrokenFallback(std::string_view text, const FieldIndex& index,
                                           std::size_t from = 0);

// Empty, or only blanks, tabs and line breaks.
bool IsBlankValue(std::string_view value);

// The value a placeholder name stands for: "name" and "email" are the entry's own, any
// other name the first field so called (a field without a value gives ""); null for a
// name that is no field.
const std::string* ValueNamed(const FieldIndex& index, const Person& entry,
                              std::string_view name);

// What a fallback placeholder gives for this entry; nothing when its field is unknown
// (the placeholder then stays as written).
std::optional<std::string> ResolveFallback(const FieldIndex& index, const Person& entry,
                                           const FallbackPlaceholder& p);

// MergeEntry, with every fallback placeholder of a known field replaced by what it
// gives. The text between them is merged on its own and a value inserted for a
// fallback is never merged again. A text without "|" merges exactly as MergeEntry.
// Throws ComposeError as MergeEntry does.
void MergePlaceholders(const FieldIndex& index, const Person& entry, std::string& text);
void MergePlaceholders(const std::vector<Field>& fields, const Person& entry,
                       std::string& text);

// The same walk with the pieces handed out: the text between fallback placeholders is
// merged with `between` (the entry itself, or a stand-in), and what each fallback gives
// for `entry` is passed to `insert` with the placeholder's field, which appends it to the
// output.
using FallbackInsert =
    std::function<void(std::string& out, const std::string& value, std::string_view field)>;
void MergePlaceholders(const FieldIndex& index, const Person& entry, const Person& between,
                       std::string& text, const FallbackInsert& insert);

} // namespace tandrel
