// SPDX-License-Identifier: GPL-3.0-or-later
// The merge rule taken literally, the reference the merge is checked against (by the
// tests and the merge fuzz target): after every replacement the search starts again
// from the beginning; a value holding its own placeholder goes on after itself instead.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/Model.h"

namespace tandrel::test {

// Nothing when it takes more than `maxSteps` replacements or the text grows beyond
// `maxBytes`: following the rule that far would take too long.
inline std::optional<std::string> LiteralReplaceAll(std::string text, std::string_view ph,
                                                    std::string_view value, std::size_t maxSteps,
                                                    std::size_t maxBytes = std::string::npos) {
    if (ph.empty()) return text;
    const bool selfContaining = value.find(ph) != std::string_view::npos;
    std::size_t from = 0;
    for (std::size_t steps = 0;; ++steps) {
        if (steps > maxSteps || text.size() > maxBytes) return std::nullopt;
        const std::size_t p = text.find(ph, selfContaining ? from : 0);
        if (p == std::string::npos) return text;
        text.replace(p, ph.size(), value);
        from = p + value.size();
    }
}

// "[name]", "[email]", then each field paired with a value, one after another.
inline std::optional<std::string> LiteralMerge(const std::vector<Field>& fields,
                                               const Person& e, std::string text,
                                               std::size_t maxBytes = std::string::npos) {
    std::vector<std::pair<std::string, std::string>> steps = {{"[name]", e.name()},
                                                              {"[email]", e.email()}};
    for (std::size_t k = 0; k < PairedFields(fields.size(), e); ++k)
        steps.emplace_back("[" + fields[k].name + "]", ValueOf(e, k));
    for (const auto& [ph, value] : steps) {
        auto r = LiteralReplaceAll(std::move(text), ph, value, 10000, maxBytes);
        if (!r) return std::nullopt;
        text = std::move(*r);
    }
    return text;
}

} // namespace tandrel::test
