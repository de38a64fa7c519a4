// SPDX-License-Identifier: GPL-3.0-or-later
// The results file: a header, one line per person, then one line per outcome.
#include "model/RunResults.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <map>
#include <string_view>
#include <tuple>
#include <unistd.h>

#include "model/Errors.h"
#include "model/SafeFile.h"
#include "model/TextFile.h"

namespace tandrel {

namespace {

constexpr std::string_view kHeader = "Tandrel run results 1";

// Tabs, line ends and '%' in names and addresses are written as %XX.
std::string Escaped(std::string_view s) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(s.size());
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || c == '%' || u == 0x7F) {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Unescaped(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<std::string_view> Split(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (;;) {
        const auto tab = line.find('\t', start);
        out.push_back(line.substr(start, tab - start));
        if (tab == std::string_view::npos) return out;
        start = tab + 1;
    }
}

bool ParseIndex(std::string_view s, std::size_t& out) {
    if (s.empty() || s.size() > 12) return false;
    std::size_t v = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<std::size_t>(c - '0');
    }
    out = v;
    return true;
}

bool ParseOutcome(std::string_view s, Outcome& out) {
    if (s.size() != 1) return false;
    for (const Outcome o : {Outcome::NotAttempted, Outcome::Accepted, Outcome::Refused,
                            Outcome::TemporarilyRefused, Outcome::MaybeDelivered})
        if (s[0] == static_cast<char>(o)) {
            out = o;
            return true;
        }
    return false;
}

using Key = std::tuple<std::string, std::string, int>;

} // namespace

std::vector<PersonView> IdentifyPeople(const Database& db,
                                       const std::vector<Person*>& rows) {
    // A person's occurrence counts the earlier entries, in database order, with the same
    // name and address. Sorted pointers find them without a map of copied names, which
    // would cost more than the database itself for a large run.
    const auto key = [](const Person* e) { return std::tie(e->name(), e->email()); };
    std::vector<const Person*> byKey;
    byKey.reserve(db.entries.size());
    for (const EntryPtr& e : db.entries)
        byKey.push_back(e.get());
    std::stable_sort(byKey.begin(), byKey.end(),
                     [&](const Person* a, const Person* b) { return key(a) < key(b); });
    std::vector<std::pair<const Person*, int>> occurrence;
    occurrence.reserve(byKey.size());
    for (std::size_t i = 0; i < byKey.size(); ++i) {
        const bool again = i > 0 && key(byKey[i]) == key(byKey[i - 1]);
        occurrence.emplace_back(byKey[i], again ? occurrence.back().second + 1 : 0);
    }
    std::vector<const Person*>().swap(byKey);
    const auto byEntry = [](const std::pair<const Person*, int>& a,
                            const std::pair<const Person*, int>& b) {
        return std::less<const Person*>()(a.first, b.first);
    };
    std::sort(occurrence.begin(), occurrence.end(), byEntry);

    std::vector<PersonView> out;
    out.reserve(rows.size());
    for (const Person* r : rows) {
        const auto it =
            std::lower_bound(occurrence.begin(), occurrence.end(), std::pair{r, 0}, byEntry);
        const bool known = it != occurrence.end() && it->first == r;
        out.push_back({r->name(), r->email(), known ? it->second : 0});
    }
    return out;
}

RunResultsWriter::RunResultsWriter(std::string path, const std::vector<PersonView>& people)
    : path_(std::move(path)), count_(people.size()) {
    std::string text(kHeader);
    text += '\n';
    for (const PersonView& p : people) {
        text += "P\t";
        text += std::to_string(p.occurrence);
        text += '\t';
        text += Escaped(p.name);
        text += '\t';
        text += Escaped(p.email);
        text += '\n';
    }
    if (const int err = ReplaceFileContent(path_, text))
        throw FileError(FormatPathMessage("Cannot create file %s", path_) + ": " +
                        SystemReason(err));
    fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
}

RunResultsWriter::~RunResultsWriter() {
    if (fd_ < 0) return;
    (void)::fsync(fd_);
    ::close(fd_);
}

bool RunResultsWriter::record(std::size_t index, Outcome outcome) {
    if (fd_ < 0 || index >= count_) return false;
    // One write of a short line: appends of that size are never split by a kill.
    const std::string line =
        "O\t" + std::to_string(index) + '\t' + static_cast<char>(outcome) + '\n';
    ssize_t n;
    do {
        n = ::write(fd_, line.data(), line.size());
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(line.size());
}

std::vector<PersonResult> ReadRunResults(const std::string& path) {
    std::string text;
    if (ReadRegularFile(path, text) != FileReadResult::Ok) return {};
    std::vector<PersonResult> out;
    bool first = true;
    for (const std::string& line : SplitAtLineEnds(text)) {
        if (first) {
            if (line != kHeader) return {};
            first = false;
            continue;
        }
        const auto parts = Split(line);
        std::size_t n = 0;
        Outcome o{};
        if (parts.size() == 4 && parts[0] == "P" && ParseIndex(parts[1], n) &&
            n <= static_cast<std::size_t>(INT32_MAX)) {
            out.push_back({{Unescaped(parts[2]), Unescaped(parts[3]), static_cast<int>(n)},
                           Outcome::NotAttempted});
        } else if (parts.size() == 3 && parts[0] == "O" && ParseIndex(parts[1], n) &&
                   n < out.size() && ParseOutcome(parts[2], o)) {
            out[n].outcome = o;
        }
        // Anything else (a line cut by a full disk) is skipped.
    }
    return out;
}

std::vector<Person*> RecipientsNotReached(const Database& db, const std::string& path) {
    std::map<Key, Outcome> results;
    for (const PersonResult& r : ReadRunResults(path))
        results[{r.person.name, r.person.email, r.person.occurrence}] = r.outcome;
    if (results.empty()) return {};
    std::vector<Person*> everybody;
    everybody.reserve(db.entries.size());
    for (const EntryPtr& e : db.entries)
        everybody.push_back(e.get());
    const std::vector<PersonView> people = IdentifyPeople(db, everybody);
    std::vector<Person*> out;
    for (std::size_t i = 0; i < people.size(); ++i) {
        const PersonView& p = people[i];
        const auto it = results.find({std::string(p.name), std::string(p.email), p.occurrence});
        // A message that may have been stored is left out: sending it again could duplicate it.
        if (it != results.end() && it->second != Outcome::Accepted &&
            it->second != Outcome::MaybeDelivered)
            out.push_back(everybody[i]);
    }
    return out;
}

} // namespace tandrel
