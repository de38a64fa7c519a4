// SPDX-License-Identifier: GPL-3.0-or-later
// Suggestions for misspelt placeholders, by edit distance.
#include "merge/FieldSuggestion.h"

#include <algorithm>
#include <cstddef>

#include "merge/Encoding.h"

namespace tandrel {

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Letters changed, left out, added, or two neighbours swapped, letter case aside.
std::size_t SlipsBetween(std::string_view a, std::string_view b) {
    const std::size_t n = a.size(), m = b.size();
    // Three rows of the table: two back (for swaps), the last, this one.
    std::vector<std::size_t> twoBack(m + 1), last(m + 1), row(m + 1);
    for (std::size_t j = 0; j <= m; ++j)
        last[j] = j;
    for (std::size_t i = 1; i <= n; ++i) {
        row[0] = i;
        for (std::size_t j = 1; j <= m; ++j) {
            const bool same = Lower(a[i - 1]) == Lower(b[j - 1]);
            row[j] = std::min({last[j] + 1, row[j - 1] + 1, last[j - 1] + (same ? 0 : 1)});
            if (i > 1 && j > 1 && Lower(a[i - 1]) == Lower(b[j - 2]) &&
                Lower(a[i - 2]) == Lower(b[j - 1]))
                row[j] = std::min(row[j], twoBack[j - 2] + 1);
        }
        std::swap(twoBack, last);
        std::swap(last, row);
    }
    return last[m];
}

constexpr std::size_t kListed = 12; // fields named when none is near

} // namespace

std::string FieldSuggestion(std::string_view word, const std::vector<std::string>& fields) {
    // One slip in a short name, one in three letters in a longer one.
    const std::size_t allowed = std::max<std::size_t>(1, word.size() / 3);
    std::size_t best = allowed + 1;
    std::vector<const std::string*> nearest;
    for (const std::string& field : fields) {
        const std::size_t slips = SlipsBetween(word, field);
        // A slip as long as the name itself ("[x]" for "id") suggests nothing.
        if (slips > allowed || slips >= field.size()) continue;
        if (slips < best) nearest.clear();
        if (slips <= best) {
            best = slips;
            if (std::find_if(nearest.begin(), nearest.end(),
                             [&](const std::string* f) { return *f == field; }) == nearest.end())
                nearest.push_back(&field);
        }
    }
    std::string text;
    if (!nearest.empty()) {
        text = " (did you mean ";
        for (std::size_t i = 0; i < nearest.size() && i < 3; ++i)
            text += (i == 0                                              ? "["
                     : i + 1 == std::min<std::size_t>(nearest.size(), 3) ? " or ["
                                                                         : ", [") +
                    OneLine(*nearest[i]) + "]";
        return text + "?)";
    }
    std::size_t listed = 0;
    for (const std::string& field : fields) {
        if (field.empty()) continue; // no placeholder can name it
        if (listed == kListed) {
            text += ", ...";
            break;
        }
        text += (listed++ ? ", [" : " (the fields are [") + OneLine(field) + "]";
    }
    return listed ? text + ")" : text;
}

} // namespace tandrel
