// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and writing the database file, and filling entries from their values.
#include "model/DatabaseFile.h"

#include <algorithm>

#include "model/TextFile.h"

namespace tandrel {

namespace {

std::string WithoutBlanks(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s)
        if (c != ' ') out += c;
    return out;
}

} // namespace

std::string AsciiLower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

void FillEntry(Person& entry, std::vector<std::string> values, Column nameCol,
               Column emailCol) {
    entry.values = std::move(values);
    if (emailCol && *emailCol < entry.values.size()) {
        entry.values[*emailCol] = WithoutBlanks(entry.values[*emailCol]);
        entry.emailIsValue(*emailCol);
    }
    if (nameCol && *nameCol < entry.values.size()) entry.nameIsValue(*nameCol);
}

void WidenFields(Database& db, std::size_t widest) {
    for (std::size_t counter = 1; db.fields.size() < widest; ++counter)
        db.fields.push_back(Field{"New Field " + std::to_string(counter)});
}

std::size_t ParseEntryLine(Person& entry, std::string_view line, char delim, Column nameCol,
                           Column emailCol) {
    entry.values.reserve(static_cast<std::size_t>(std::count(line.begin(), line.end(), delim)) + 1);
    std::size_t k = 0;
    for (;;) {
        const auto pos = line.find(delim);
        const std::string_view value = line.substr(0, pos);
        if (emailCol && k == *emailCol) {
            entry.values.push_back(WithoutBlanks(value));
            entry.emailIsValue(k);
        } else {
            entry.values.emplace_back(value);
        }
        if (nameCol && k == *nameCol) entry.nameIsValue(k);
        ++k;
        if (pos == std::string_view::npos) return k;
        line.remove_prefix(pos + 1);
    }
}

void LoadDatabase(AppState& st, const std::string& path) {
    if (!st.db) return; // callers make sure a database exists
    Database& db = *st.db;
    Column nameCol, emailCol;
    for (std::size_t i = 0; i < db.fields.size(); ++i) {
        const std::string lower = AsciiLower(db.fields[i].name);
        if (lower == "name") nameCol = i;
        if (lower == "email") emailCol = i;
    }

    // The file is read line by line into the entries, so a big database is never held
    // twice; the entries it replaces come back when the file turns out unreadable.
    std::vector<EntryPtr> before;
    before.swap(db.entries);
    const char delim = st.prefs.delimiterChar;
    std::size_t widest = 0;
    try {
        ReadUserTextLines(path, [&](std::string_view line) {
            Person& e = db.appendEntry();
            const std::size_t n = ParseEntryLine(e, line, delim, nameCol, emailCol);
            if (n > widest) widest = n;
        });
    } catch (...) {
        db.entries.swap(before);
        throw;
    }
    before.clear();
    st.user.lastDatabase = path;
    st.user.lastDatabaseEmailColumn.clear();
    WidenFields(db, widest);
}

void SaveDatabase(AppState& st, const std::string& path) {
    std::vector<std::string> lines;
    if (st.db) {
        lines.reserve(st.db->entries.size());
        const char delim = st.prefs.delimiterChar;
        for (const auto& e : st.db->entries) {
            std::string line;
            for (std::size_t i = 0; i < e->values.size(); ++i) {
                if (i > 0) line += delim;
                line += e->values[i];
            }
            // Values a short CSV row left out are empty ones, written as such.
            if (e->missingValuesEmpty && e->values.size() < st.db->fields.size())
                line.append(st.db->fields.size() - std::max<std::size_t>(e->values.size(), 1),
                            delim);
            lines.push_back(std::move(line));
        }
    }
    WriteTextFile(path, lines);
    st.user.lastDatabase = path;
    st.user.lastDatabaseEmailColumn.clear();
}

} // namespace tandrel
