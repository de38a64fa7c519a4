// SPDX-License-Identifier: GPL-3.0-or-later
// Fallback placeholders around the ordinary merge.
#include "merge/Fallback.h"

namespace tandrel {

std::optional<FallbackPlaceholder> FindFallback(std::string_view text, std::size_t from) {
    for (std::size_t open = text.find('[', from); open != std::string_view::npos;
         open = text.find('[', open + 1)) {
        const std::size_t bar = text.find_first_of("[]|\r\n", open + 1);
        if (bar == std::string_view::npos) return std::nullopt;
        if (text[bar] != '|' || bar == open + 1) continue;
        const std::size_t close = text.find_first_of("[]\r\n", bar + 1);
        if (close == std::string_view::npos) return std::nullopt;
        if (text[close] != ']') continue;
        return FallbackPlaceholder{open, close + 1, text.substr(open + 1, bar - open - 1),
                                   text.substr(bar + 1, close - bar - 1)};
    }
    return std::nullopt;
}

std::optional<TextSpan> FindBrokenFallback(std::string_view text, const FieldIndex& index,
                                           std::size_t from) {
    for (std::size_t open = text.find('[', from); open != std::string_view::npos;
         open = text.find('[', open + 1)) {
        const std::size_t bar = text.find_first_of("[]|\r\n", open + 1);
        if (bar == std::string_view::npos) return std::nullopt;
        if (text[bar] != '|' || !index.stepsOf(text.substr(open + 1, bar - open - 1))) continue;
        if (const auto p = FindFallback(text, open); p && p->begin == open) {
            open = p->end - 1;
            continue;
        }
        std::size_t end = bar + 1;
        for (int depth = 1;
             end < text.size() && depth > 0 && text[end] != '\r' && text[end] != '\n'; ++end)
            depth += text[end] == '[' ? 1 : text[end] == ']' ? -1 : 0;
        return TextSpan{open, end};
    }
    return std::nullopt;
}

bool IsBlankValue(std::string_view value) {
    return value.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

const std::string* ValueNamed(const FieldIndex& index, const Person& entry,
                              std::string_view name) {
    static const std::string none;
    const std::vector<std::size_t>* steps = index.stepsOf(name);
    if (!steps || steps->empty()) return nullptr;
    const std::size_t step = steps->front();
    if (step < 2) return step == 0 ? &entry.name() : &entry.email();
    return step - 2 < entry.values.size() ? &entry.values[step - 2] : &none;
}

std::optional<std::string> ResolveFallback(const FieldIndex& index, const Person& entry,
                                           const FallbackPlaceholder& p) {
    const std::string* value = ValueNamed(index, entry, p.field);
    if (!value) return std::nullopt;
    return IsBlankValue(*value) ? std::string(p.text) : *value;
}

void MergePlaceholders(const FieldIndex& index, const Person& entry, const Person& between,
                       std::string& text, const FallbackInsert& insert) {
    if (text.find('|') == std::string::npos) {
        MergeEntry(index, between, text);
        return;
    }
    std::string out;
    std::string piece;
    std::size_t done = 0;
    for (auto p = FindFallback(text); p; p = FindFallback(text, p->end)) {
        const std::optional<std::string> value = ResolveFallback(index, entry, *p);
        if (!value) continue;
        piece.assign(text, done, p->begin - done);
        MergeEntry(index, between, piece);
        out += piece;
        insert(out, *value, p->field);
        done = p->end;
    }
    if (done == 0) {
        MergeEntry(index, between, text);
        return;
    }
    piece.assign(text, done);
    MergeEntry(index, between, piece);
    out += piece;
    text.swap(out);
}

void MergePlaceholders(const FieldIndex& index, const Person& entry, std::string& text) {
    MergePlaceholders(
        index, entry, entry, text,
        [](std::string& out, const std::string& value, std::string_view) { out += value; });
}

void MergePlaceholders(const std::vector<Field>& fields, const Person& entry,
                       std::string& text) {
    if (text.find('[') == std::string::npos) return;
    MergePlaceholders(FieldIndex(fields), entry, text);
}

} // namespace tandrel
