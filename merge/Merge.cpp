// SPDX-License-Identifier: GPL-3.0-or-later
// Placeholder substitution: the restarting-search rule, and a single scan that gives
// the same result when no name or value holds a bracket.
#include "merge/Merge.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "merge/Encoding.h"

namespace tandrel {

namespace {

constexpr std::size_t npos = std::string::npos;

// Thrown inside the merge when the text passes its limit; MergeEntry names the person.
struct GrowthLimitReached {};

void CheckGrowth(std::size_t bytes, std::size_t limit) {
    if (bytes > limit) throw GrowthLimitReached{};
}

// A value that holds its own placeholder: each occurrence is replaced once, and the
// search goes on after the inserted value. `p` is the first occurrence.
void ReplaceForward(std::string_view text, std::string_view ph, std::string_view value,
                    std::size_t p, std::string& out, std::size_t limit) {
    out.clear();
    out.reserve(std::min(text.size() + value.size(), limit));
    std::size_t r = 0;
    while (p != npos) {
        CheckGrowth(out.size() + (p - r) + value.size(), limit);
        out.append(text, r, p - r);
        out.append(value);
        r = p + ph.size();
        p = text.find(ph, r);
    }
    out.append(text, r);
}

// Whether the value, put in the place of an occurrence, can form the placeholder with
// the text on either side: it begins with an end of the placeholder, ends with a
// beginning of it, or lies within it (so does an empty value).
bool CanFormAtEdges(std::string_view value, std::string_view ph) {
    const std::size_t L = ph.size();
    if (value.size() < L && ph.find(value) != npos) return true;
    for (std::size_t j = 1; j < L && j <= value.size(); ++j)
        if (value.substr(0, j) == ph.substr(L - j) ||
            value.substr(value.size() - j) == ph.substr(0, j))
            return true;
    return false;
}

// Writes the text with every occurrence replaced into `out` (whose buffer is reused)
// and returns true; returns false, leaving `out` alone, when there is none. Throws
// GrowthLimitReached as soon as the result would hold more than `limit` bytes.
bool ReplaceInto(std::string_view text, std::string_view ph, std::string_view value,
                 std::string& out, std::size_t limit) {
    const std::size_t L = ph.size();
    if (L == 0) return false;
    std::size_t p = text.find(ph);
    if (p == npos) return false;
    if (value.size() > L) {
        // Every occurrence a forward search finds is replaced, or gives way to a
        // replacement at a junction: at least that many values go in, so a step that must
        // pass the limit stops before doing any of the work.
        std::size_t count = 0;
        for (std::size_t q = p; q != npos; q = text.find(ph, q + L))
            ++count;
        CheckGrowth(count > (limit - std::min(limit, text.size())) / (value.size() - L)
                        ? limit + 1
                        : text.size() + count * (value.size() - L),
                    limit);
    }
    // A value holding the placeholder is inserted once, and one that cannot form it
    // with its neighbours leaves nothing to search again: one forward pass does.
    if (value.find(ph) != npos || !CanFormAtEdges(value, ph)) {
        ReplaceForward(text, ph, value, p, out, limit);
        return true;
    }

    // The text is out + pending + text[r..]. `out` never holds an occurrence, so the
    // first occurrence of the whole text either begins in the last L-1 characters of
    // `out` or in `pending` (the value just inserted, re-searched because its edges
    // may form the placeholder with the neighbouring text), or lies wholly in
    // text[r..], where an ordinary forward search finds it. This gives exactly the
    // result of restarting the search from the beginning after every replacement.
    out.clear();
    out.reserve(std::min(text.size() + (value.size() > L ? 16 * (value.size() - L) : 0), limit));
    std::string pending;
    std::string window;
    std::size_t r = 0;
    bool junction = false;
    // Re-searching inserted values can only go on for long with values built to form
    // placeholders with their surroundings; past this much work such cascades are no
    // longer followed, so the merge always ends.
    std::size_t budget = 32 * text.size() + (std::size_t{1} << 24);

    for (;;) {
        // What is written so far, plus what is still to come at the least.
        CheckGrowth(out.size() + pending.size() + (text.size() - r), limit);
        if (junction) {
            const std::size_t tail = std::min(out.size(), L - 1);
            const std::size_t ahead = std::min(text.size() - r, L - 1);
            window.assign(out, out.size() - tail, tail);
            window.append(pending);
            window.append(text, r, ahead);
            const std::size_t q = window.find(ph);
            if (q != npos && q < tail + pending.size() && window.size() <= budget) {
                budget -= window.size();
                // Positions counted from the start of out + pending + text[r..].
                const std::size_t outEnd = out.size();
                const std::size_t pendEnd = outEnd + pending.size();
                const std::size_t start = outEnd - tail + q;
                const std::size_t end = start + L;
                std::string rest;
                if (end <= pendEnd)
                    rest.assign(pending, end - outEnd);
                else
                    r += end - pendEnd;
                if (start < outEnd)
                    out.resize(start);
                else
                    out.append(pending, 0, start - outEnd);
                pending.assign(value);
                pending += rest;
                continue;
            }
            out += pending;
            pending.clear();
            junction = false;
            p = text.find(ph, r);
        }
        if (p == npos) {
            out.append(text, r);
            break;
        }
        out.append(text, r, p - r);
        r = p + L;
        pending.assign(value);
        junction = true;
    }
    return true;
}

} // namespace

void ReplaceAll(std::string& text, std::string_view ph, std::string_view value) {
    std::string out;
    if (ReplaceInto(text, ph, value, out, npos)) text.swap(out);
}

namespace {

bool HasBracket(std::string_view s) {
    return s.find_first_of("[]") != npos;
}

// The merge as one left-to-right scan. With bracket-free names and values, brackets
// only ever come from the text, and every replacement removes one "[" with the
// nearest "]" after it and nothing but bracket-free text between: the output so far
// is final except for the "[" that no "]" has followed yet (the open stack). A span
// that holds the value of step s can only be matched by a step s or later, since the
// earlier steps had finished before that value existed; a name used by several steps
// is matched by the first of them that may still see the span.
class SingleScanMerge {
public:
    SingleScanMerge(const FieldIndex& index, const Person& entry, std::size_t pairs,
                    std::size_t limit)
        : index_(index), entry_(entry), steps_(2 + pairs), limit_(limit) {}

    void run(std::string& text) {
        std::string out;
        out.reserve(text.size());
        for (char c : text) {
            if (c == '[') {
                open_.push_back(Open{out.size(), 0, false});
                out += c;
            } else if (c != ']' || open_.empty()) {
                out += c;
            } else if (!replace(out)) {
                out += c;
                open_.clear(); // a "[" before a kept "]" can never start a placeholder
            }
        }
        text.swap(out);
    }

private:
    struct Open {
        std::size_t pos;
        std::size_t level; // latest step whose value lies after this "[" (when `after`)
        bool after;
    };

    const std::string& valueOf(std::size_t step) const {
        return step == 0 ? entry_.name() : step == 1 ? entry_.email() : ValueOf(entry_, step - 2);
    }

    bool replace(std::string& out) {
        const Open top = open_.back();
        const std::size_t len = out.size() - top.pos - 1;
        if (len > index_.longestName()) return false;
        const auto* steps = index_.stepsOf(std::string_view(out).substr(top.pos + 1, len));
        if (!steps) return false;
        for (const std::size_t s : *steps) {
            if (s >= steps_) break; // a field without a value for this entry
            if (top.after && s < top.level) continue;
            const std::string& value = valueOf(s);
            open_.pop_back();
            out.resize(top.pos);
            CheckGrowth(out.size() + value.size(), limit_);
            out += value;
            if (!open_.empty()) {
                Open& below = open_.back();
                below.level = below.after ? std::max(below.level, s) : s;
                below.after = true;
            }
            return true;
        }
        return false;
    }

    const FieldIndex& index_;
    const Person& entry_;
    std::size_t steps_; // steps for this entry: name, email and the paired fields
    std::vector<Open> open_;
    std::size_t limit_;
};

bool ValuesHoldBrackets(const FieldIndex& index, const Person& entry, std::size_t pairs) {
    if (HasBracket(entry.name()) || HasBracket(entry.email()) || index.namesHoldBrackets(pairs))
        return true;
    // Values a short row leaves out are empty.
    const std::size_t stored = std::min(pairs, entry.values.size());
    for (std::size_t k = 0; k < stored; ++k)
        if (HasBracket(entry.values[k])) return true;
    return false;
}

void MergeWithin(const FieldIndex& index, const Person& entry, std::string& text,
                 std::size_t limit) {
    // Every placeholder begins with "[", and values only enter the text by replacing
    // a placeholder: without any "[" nothing can change.
    if (text.find('[') == npos) return;
    const std::vector<Field>& fields = index.fields();
    const std::size_t pairs = PairedFields(fields.size(), entry);
    if (!ValuesHoldBrackets(index, entry, pairs)) {
        SingleScanMerge(index, entry, pairs, limit).run(text);
        return;
    }
    // Names or values with brackets can build placeholders in ways one scan does not
    // follow; they take the step-by-step rule. Each step writes into the buffer the
    // previous one left behind, so a merge costs two buffers however many fields.
    std::string scratch;
    auto step = [&](std::string_view ph, std::string_view value) {
        if (ReplaceInto(text, ph, value, scratch, limit)) text.swap(scratch);
    };
    step("[name]", entry.name());
    step("[email]", entry.email());
    std::string placeholder;
    for (std::size_t k = 0; k < pairs; ++k) {
        placeholder.assign(1, '[');
        placeholder += fields[k].name;
        placeholder += ']';
        step(placeholder, ValueOf(entry, k));
    }
}

std::string TooLargeText(const FieldIndex& index, const Person& entry) {
    const std::string& who = entry.name().empty() ? entry.email() : entry.name();
    std::string text = "The merged mail for " + OneLine(who) + " grows beyond " +
                       std::to_string(kMaxMergedBytes >> 20) + " MB";
    // Without brackets in the values it is only their size and number.
    if (ValuesHoldBrackets(index, entry, PairedFields(index.fields().size(), entry)))
        text += "; its values refer to each other";
    return text;
}

} // namespace

FieldIndex::FieldIndex(const std::vector<Field>& fields)
    : fields_(fields), firstBracketName_(fields.size()) {
    const auto add = [this](std::string_view name, std::size_t step) {
        steps_[name].push_back(step);
        longest_ = std::max(longest_, name.size());
    };
    add("name", 0);
    add("email", 1);
    for (std::size_t k = 0; k < fields.size(); ++k) {
        add(fields[k].name, 2 + k);
        if (firstBracketName_ == fields.size() && HasBracket(fields[k].name)) firstBracketName_ = k;
    }
}

const std::vector<std::size_t>* FieldIndex::stepsOf(std::string_view name) const {
    const auto it = steps_.find(name);
    return it == steps_.end() ? nullptr : &it->second;
}

std::string MergedTooLargeText(const FieldIndex& index, const Person& entry) {
    return TooLargeText(index, entry);
}

void MergeEntry(const FieldIndex& index, const Person& entry, std::string& text) {
    try {
        MergeWithin(index, entry, text, kMaxMergedBytes);
    } catch (const GrowthLimitReached&) {
        throw ComposeError(TooLargeText(index, entry));
    }
}

void MergeEntry(const std::vector<Field>& fields, const Person& entry, std::string& text) {
    // Nothing to look up in a text without a "[".
    if (text.find('[') == npos) return;
    MergeEntry(FieldIndex(fields), entry, text);
}

std::string MergeGrowthProblem(const FieldIndex& index, const Person& entry,
                               std::string_view text) {
    const std::size_t pairs = PairedFields(index.fields().size(), entry);
    if (!ValuesHoldBrackets(index, entry, pairs)) {
        // Without brackets in the values every replacement takes one "[" of the text,
        // so the longest value times their number bounds the growth.
        std::size_t longest = std::max(entry.name().size(), entry.email().size());
        for (std::size_t k = 0; k < std::min(pairs, entry.values.size()); ++k)
            longest = std::max(longest, entry.values[k].size());
        const std::size_t room = kMaxMergedBytes - std::min(text.size(), kMaxMergedBytes);
        // Counting the brackets is only needed when the text's size alone does not do.
        if (longest == 0 || text.size() <= room / longest ||
            static_cast<std::size_t>(std::count(text.begin(), text.end(), '[')) <= room / longest)
            return {};
    }
    std::string merged(text);
    try {
        MergeWithin(index, entry, merged, kMaxMergedBytes);
    } catch (const GrowthLimitReached&) {
        return TooLargeText(index, entry);
    }
    return {};
}

} // namespace tandrel
