#include "Merge.h"

#include <algorithm>

namespace tandrel {

namespace {

constexpr std::size_t npos = std::string::npos;

// A value that holds its own placeholder: each occurrence is replaced once, and the
// search goes on after the inserted value. `p` is the first occurrence.
void ReplaceForward(std::string_view text, std::string_view ph, std::string_view value,
                    std::size_t p, std::string& out) {
    out.clear();
    out.reserve(text.size() + value.size());
    std::size_t r = 0;
    while (p != npos) {
        out.append(text, r, p - r);
        out.append(value);
        r = p + ph.size();
        p = text.find(ph, r);
    }
    out.append(text, r);
}

// Writes the text with every occurrence replaced into `out` (whose buffer is reused)
// and returns true; returns false, leaving `out` alone, when there is none.
bool ReplaceInto(std::string_view text, std::string_view ph, std::string_view value,
                 std::string& out) {
    const std::size_t L = ph.size();
    if (L == 0) return false;
    std::size_t p = text.find(ph);
    if (p == npos) return false;
    if (value.find(ph) != npos) {
        ReplaceForward(text, ph, value, p, out);
        return true;
    }

    // The text is out + pending + text[r..]. `out` never holds an occurrence, so the
    // first occurrence of the whole text either begins in the last L-1 characters of
    // `out` or in `pending` (the value just inserted, re-searched because its edges
    // may form the placeholder with the neighbouring text), or lies wholly in
    // text[r..], where an ordinary forward search finds it. This gives exactly the
    // result of restarting the search from the beginning after every replacement.
    out.clear();
    out.reserve(text.size() + (value.size() > L ? 16 * (value.size() - L) : 0));
    std::string pending;
    std::string window;
    std::size_t r = 0;
    bool junction = false;
    // Re-searching inserted values can only go on for long with values built to form
    // placeholders with their surroundings; past this much work such cascades are no
    // longer followed, so the merge always ends.
    std::size_t budget = 32 * text.size() + (std::size_t{1} << 24);

    for (;;) {
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
    if (ReplaceInto(text, ph, value, out)) text.swap(out);
}

void MergeEntry(const std::vector<VarIdent>& fields, const ReceipData& entry, std::string& text) {
    // Every placeholder begins with "[", and values only enter the text by replacing
    // a placeholder: without any "[" nothing can change.
    if (text.find('[') == npos) return;
    // Each step writes into the buffer the previous one left behind, so a merge costs
    // two buffers however many fields there are.
    std::string scratch;
    auto step = [&](std::string_view ph, std::string_view value) {
        if (ReplaceInto(text, ph, value, scratch)) text.swap(scratch);
    };
    step("[name]", entry.name);
    step("[email]", entry.email);
    const std::size_t pairs = std::min(fields.size(), entry.values.size());
    std::string placeholder;
    for (std::size_t k = 0; k < pairs; ++k) {
        placeholder.assign(1, '[');
        placeholder += fields[k].name;
        placeholder += ']';
        step(placeholder, entry.values[k]);
    }
}

} // namespace tandrel
