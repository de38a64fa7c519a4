// Fallback placeholders around the ordinary merge.
#include "Fallback.h"

#include "Merge.h"

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

bool IsBlankValue(std::string_view value) {
    return value.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

const std::string* ValueNamed(const std::vector<VarIdent>& fields, const ReceipData& entry,
                              std::string_view name) {
    static const std::string none;
    if (name == "name") return &entry.name;
    if (name == "email") return &entry.email;
    for (std::size_t k = 0; k < fields.size(); ++k)
        if (fields[k].name == name) return k < entry.values.size() ? &entry.values[k] : &none;
    return nullptr;
}

std::optional<std::string> ResolveFallback(const std::vector<VarIdent>& fields,
                                           const ReceipData& entry, const FallbackPlaceholder& p) {
    const std::string* value = ValueNamed(fields, entry, p.field);
    if (!value) return std::nullopt;
    return IsBlankValue(*value) ? std::string(p.text) : *value;
}

void MergePlaceholders(const std::vector<VarIdent>& fields, const ReceipData& entry,
                       const ReceipData& between, std::string& text, const FallbackInsert& insert) {
    if (text.find('|') == std::string::npos) {
        MergeEntry(fields, between, text);
        return;
    }
    std::string out;
    std::string piece;
    std::size_t done = 0;
    for (auto p = FindFallback(text); p; p = FindFallback(text, p->end)) {
        const std::optional<std::string> value = ResolveFallback(fields, entry, *p);
        if (!value) continue;
        piece.assign(text, done, p->begin - done);
        MergeEntry(fields, between, piece);
        out += piece;
        insert(out, *value);
        done = p->end;
    }
    if (done == 0) {
        MergeEntry(fields, between, text);
        return;
    }
    piece.assign(text, done);
    MergeEntry(fields, between, piece);
    out += piece;
    text.swap(out);
}

void MergePlaceholders(const std::vector<VarIdent>& fields, const ReceipData& entry,
                       std::string& text) {
    MergePlaceholders(fields, entry, entry, text,
                      [](std::string& out, const std::string& value) { out += value; });
}

} // namespace tandrel
