// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and writing databases as comma-separated values.
#include "model/CsvFile.h"

#include <algorithm>
#include <memory>

#include "model/DatabaseFile.h"
#include "model/Errors.h"
#include "model/SafeFile.h"
#include "model/TextFile.h"

namespace tandrel {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

char DetectSeparator(std::string_view text) {
    std::size_t commas = 0, semicolons = 0;
    bool quoted = false;
    for (const char c : text) {
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == '\r' || c == '\n') break;
        if (c == ',') ++commas;
        if (c == ';') ++semicolons;
    }
    return semicolons > commas ? ';' : ',';
}

// Both separators are quoted, whichever is written: the reader guesses the separator from
// the header row's unquoted ones, and a name holding more semicolons than the row has
// commas would otherwise make it split every row at the wrong character. A value that
// starts with a byte order mark is quoted too: as the file's first bytes the reader
// would drop it as the file's own.
bool NeedsQuotes(std::string_view v) {
    if (v.empty()) return false;
    return v.find_first_of(",;\"\r\n") != std::string_view::npos || v.front() == ' ' ||
           v.back() == ' ' || v.front() == '\t' || v.back() == '\t' || v.starts_with(kUtf8Bom);
}

std::string Trimmed(std::string_view cell) {
    const std::size_t first = cell.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return std::string(cell.substr(first, cell.find_last_not_of(" \t") - first + 1));
}

// A header cell as the names below are compared with it.
std::string Folded(std::string_view cell) {
    return AsciiLower(Trimmed(cell));
}

// What spreadsheets and address books call the column of addresses, besides "email".
constexpr std::string_view kAddressNames[] = {"e-mail", "mail", "email address", "e-mail address"};

// "e-mail 1 - value", as address books export each of a person's addresses: the
// name before it.
std::string_view WithoutValueSuffix(std::string_view folded) {
    constexpr std::string_view kSuffix = " - value";
    if (!folded.ends_with(kSuffix)) return folded;
    folded.remove_suffix(kSuffix.size());
    const std::size_t digits = folded.find_last_not_of("0123456789");
    if (digits == std::string_view::npos || digits + 1 == folded.size() || folded[digits] != ' ')
        return folded;
    return folded.substr(0, digits);
}

Column AddressColumnOf(const CsvRow& header) {
    for (std::size_t k = 0; k < header.size(); ++k)
        if (Folded(header[k]) == "email") return k;
    for (std::size_t k = 0; k < header.size(); ++k) {
        const std::string folded = Folded(header[k]);
        const std::string_view name = WithoutValueSuffix(folded);
        if (name == "email" || std::find(std::begin(kAddressNames), std::end(kAddressNames),
                                         name) != std::end(kAddressNames))
            return k;
    }
    return std::nullopt;
}

Column NameColumnOf(const CsvRow& header, Column addresses) {
    for (const std::string_view wanted : {"name", "full name", "display name"})
        for (std::size_t k = 0; k < header.size(); ++k)
            if (k != addresses && Folded(header[k]) == wanted) return k;
    return std::nullopt;
}

// How well a header row names the columns this program needs: the separator that
// gives the higher score is the one the file was written with.
int HeaderScore(const CsvRow& header) {
    const Column addresses = AddressColumnOf(header);
    return (addresses ? 2 : 0) + (NameColumnOf(header, addresses) ? 1 : 0);
}

bool ParseCsvWith(std::string_view text, char sep, std::vector<CsvRow>& rows,
                  std::size_t* unclosedLine);

} // namespace

// 1 + the line breaks (CR LF, CR or LF) before `pos`.
std::size_t LineNumberAt(std::string_view text, std::size_t pos) {
    std::size_t line = 1;
    for (std::size_t i = 0; i < pos; ++i)
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')))
            ++line;
    return line;
}

bool ParseCsv(std::string_view text, std::vector<CsvRow>& rows, std::size_t* unclosedLine) {
    if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) text.remove_prefix(kUtf8Bom.size());
    const char sep = DetectSeparator(text);
    if (!ParseCsvWith(text, sep, rows, unclosedLine)) return false;
    // Files saved before semicolons were quoted may hold a field name with more of them
    // than the header has commas; the separator that yields the name and email columns
    // is the one the file was written with.
    if (!rows.empty() && HeaderScore(rows.front()) < 3) {
        std::vector<CsvRow> other;
        if (ParseCsvWith(text, sep == ',' ? ';' : ',', other, nullptr) && !other.empty() &&
            HeaderScore(other.front()) > HeaderScore(rows.front()))
            rows = std::move(other);
    }
    return true;
}

namespace {

bool ParseCsvWith(std::string_view text, char sep, std::vector<CsvRow>& rows,
                  std::size_t* unclosedLine) {
    rows.clear();
    CsvRow row;
    std::string value;
    bool rowHasContent = false; // an empty line is no row
    const auto endRow = [&] {
        if (rowHasContent) {
            row.push_back(std::move(value));
            rows.push_back(std::move(row));
        }
        row.clear();
        value.clear();
        rowHasContent = false;
    };

    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const char c = text[i];
        if (c == '"' && value.empty()) {
            // A quoted value (or a quoted part of one) runs to the next lone quote.
            rowHasContent = true;
            const std::size_t opening = i++;
            for (;;) {
                if (i >= n) {
                    if (unclosedLine) *unclosedLine = LineNumberAt(text, opening);
                    return false;
                }
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        value += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                value += text[i++];
            }
        } else if (c == sep) {
            rowHasContent = true;
            row.push_back(std::move(value));
            value.clear();
            ++i;
        } else if (c == '\r' || c == '\n') {
            endRow();
            i += (c == '\r' && i + 1 < n && text[i + 1] == '\n') ? 2 : 1;
        } else {
            // Text after a closing quote, or a quote inside an unquoted value, is kept
            // as it stands rather than refused.
            rowHasContent = true;
            value += c;
            ++i;
        }
    }
    endRow();
    return true;
}

} // namespace

std::string FormatCsvRow(const CsvRow& values, char sep) {
    std::string out;
    for (std::size_t k = 0; k < values.size(); ++k) {
        if (k > 0) out += sep;
        const std::string& v = values[k];
        if (!NeedsQuotes(v)) {
            out += v;
            continue;
        }
        out += '"';
        for (const char c : v) {
            if (c == '"') out += '"';
            out += c;
        }
        out += '"';
    }
    return out;
}

bool IsCsvPath(const std::string& path) {
    return path.size() >= 4 && AsciiLower(path.substr(path.size() - 4)) == ".csv";
}

bool HoldsAddress(std::string_view text) {
    const auto alnum = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    };
    for (std::size_t at = text.find('@'); at != std::string_view::npos;
         at = text.find('@', at + 1)) {
        if (at == 0 || at + 1 >= text.size()) continue;
        const char before = text[at - 1];
        if ((alnum(before) || std::string_view("._%+-").find(before) != std::string_view::npos) &&
            alnum(text[at + 1]))
            return true;
    }
    return false;
}

std::string CsvColumnsNote(const CsvColumnsTaken& taken) {
    const bool addressesRenamed = !taken.email.empty() && Folded(taken.email) != "email";
    const bool namesRenamed = !taken.name.empty() && Folded(taken.name) != "name";
    if (!addressesRenamed && !namesRenamed) return {};
    std::string note;
    if (addressesRenamed)
        note += "the addresses are taken from the column \"" + taken.email + "\" as [email]";
    if (addressesRenamed && namesRenamed) note += ", ";
    if (namesRenamed) note += "the names from the column \"" + taken.name + "\" as [name]";
    return note;
}

namespace {

// The header's columns as a reader can tell them apart: each in quotes, line breaks
// inside a name as blanks.
std::string ColumnList(const CsvRow& header) {
    std::string list;
    for (const std::string& name : header) {
        std::string shown = name;
        std::replace_if(
            shown.begin(), shown.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
        list += (list.empty() ? "\"" : ", \"") + shown + "\"";
    }
    return list;
}

std::vector<CsvColumn> ColumnsWithSamples(const std::vector<CsvRow>& rows) {
    std::vector<CsvColumn> columns;
    for (const std::string& name : rows.front())
        columns.push_back({name, {}});
    for (std::size_t k = 0; k < columns.size(); ++k)
        for (std::size_t r = 1; r < rows.size() && columns[k].sample.empty(); ++r)
            if (k < rows[r].size()) columns[k].sample = Trimmed(rows[r][k]);
    return columns;
}

Column ColumnCalled(const CsvRow& header, const std::string& wanted) {
    const std::string folded = Folded(wanted);
    for (std::size_t k = 0; k < header.size(); ++k)
        if (Folded(header[k]) == folded) return k;
    return std::nullopt;
}

} // namespace

CsvColumnsTaken LoadCsvDatabase(AppState& st, const std::string& path,
                                const std::string& emailColumn) {
    std::vector<CsvRow> rows;
    std::size_t unclosedLine = 0;
    if (!ParseCsv(ReadUserTextFile(path), rows, &unclosedLine))
        throw FileError(path + " is not a valid CSV file: the quoted value that starts on line " +
                        std::to_string(unclosedLine) + " is not closed");
    if (rows.empty()) throw FileError(path + " holds no header row naming the fields");

    // "name, email, town" as typed by hand: the blanks after the commas are no part of
    // the names, or [town] would find nothing.
    CsvRow& header = rows.front();
    for (std::string& field : header)
        field = Trimmed(field);
    const Column emailCol =
        emailColumn.empty() ? AddressColumnOf(header) : ColumnCalled(header, emailColumn);
    if (!emailCol) {
        const std::string why =
            emailColumn.empty()
                ? ": no column of its header row is called email, e-mail, mail, email address "
                  "or e-mail address; the columns are "
                : " has no column \"" + emailColumn + "\"; the columns are ";
        throw NoAddressColumn(path + why + ColumnList(header), ColumnsWithSamples(rows));
    }
    const Column nameCol = NameColumnOf(header, emailCol);
    const CsvColumnsTaken taken{header[*emailCol], nameCol ? header[*nameCol] : std::string()};

    auto db = std::make_unique<Database>();
    // The columns taken become the special fields, as the editor and the merge know them.
    header[*emailCol] = "email";
    if (nameCol) header[*nameCol] = "name";
    for (std::string& field : header)
        db->fields.push_back(Field{std::move(field)});

    std::size_t widest = 0;
    db->entries.reserve(rows.size() - 1);
    for (std::size_t r = 1; r < rows.size(); ++r) {
        // Spreadsheets leave out empty cells at the end of a row; they are empty values,
        // not missing ones, so their placeholders merge as nothing. They are not stored:
        // a wide sheet of short rows would otherwise hold every empty cell.
        widest = std::max(widest, rows[r].size());
        Person& entry = db->appendEntry();
        entry.missingValuesEmpty = true;
        FillEntry(entry, std::move(rows[r]), nameCol, emailCol);
    }
    rows.clear();
    WidenFields(*db, widest);

    st.db = std::move(db);
    st.user.lastDatabase = path;
    st.user.lastDatabaseEmailColumn = emailColumn;
    return taken;
}

void SaveCsvDatabase(AppState& st, const std::string& path) {
    std::string out;
    if (st.db) {
        CsvRow header;
        for (const auto& f : st.db->fields)
            header.push_back(f.name);
        out += FormatCsvRow(header, ',') + "\r\n";
        for (const auto& e : st.db->entries) {
            out += FormatCsvRow(e->values, ',');
            // The row's empty cells up to the last column, as spreadsheets expect them.
            if (e->values.size() < header.size())
                out.append(header.size() - std::max<std::size_t>(e->values.size(), 1), ',');
            out += "\r\n";
        }
    }
    if (const int err = ReplaceFileContent(path, out))
        throw FileError(CannotCreateMessage(path, err));
    st.user.lastDatabase = path;
    st.user.lastDatabaseEmailColumn.clear(); // the header row now calls it "email"
}

} // namespace tandrel
