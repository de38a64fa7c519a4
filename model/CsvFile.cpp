// Reading and writing databases as comma-separated values.
#include "CsvFile.h"

#include <algorithm>
#include <memory>

#include "DatabaseFile.h"
#include "Errors.h"
#include "SafeFile.h"
#include "TextFile.h"

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

// True when the row has a "name" and an "email" cell (blanks around them and letter case
// aside): the header this program needs.
bool NamesNameAndEmail(const CsvRow& row) {
    bool name = false, email = false;
    for (const std::string& cell : row) {
        const std::size_t first = cell.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        const std::string lower =
            AsciiLower(cell.substr(first, cell.find_last_not_of(" \t") - first + 1));
        name = name || lower == "name";
        email = email || lower == "email";
    }
    return name && email;
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
    if (!rows.empty() && !NamesNameAndEmail(rows.front())) {
        std::vector<CsvRow> other;
        if (ParseCsvWith(text, sep == ',' ? ';' : ',', other, nullptr) && !other.empty() &&
            NamesNameAndEmail(other.front()))
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

void LoadCsvDatabase(AppState& st, const std::string& path) {
    std::vector<CsvRow> rows;
    std::size_t unclosedLine = 0;
    if (!ParseCsv(ReadUserTextFile(path), rows, &unclosedLine))
        throw FileError(path + " is not a valid CSV file: the quoted value that starts on line " +
                        std::to_string(unclosedLine) + " is not closed");

    auto db = std::make_unique<DatabaseRoot>();
    Column nameCol, emailCol;
    if (!rows.empty()) {
        for (std::size_t k = 0; k < rows[0].size(); ++k) {
            // "name, email, town" as typed by hand: the blanks after the commas are no
            // part of the names, or [town] would find nothing.
            std::string& field = rows[0][k];
            const std::size_t first = field.find_first_not_of(" \t");
            field = first == std::string::npos
                        ? std::string()
                        : field.substr(first, field.find_last_not_of(" \t") - first + 1);
            const std::string lower = AsciiLower(field);
            if (lower == "name" && !nameCol) {
                nameCol = k;
                field = lower;
            } else if (lower == "email" && !emailCol) {
                emailCol = k;
                field = lower;
            }
            db->fields.push_back(VarIdent{field});
        }
    }
    if (!nameCol || !emailCol) {
        const std::string missing = !nameCol && !emailCol ? "no \"name\" and no \"email\" column"
                                    : !nameCol            ? "no \"name\" column"
                                                          : "no \"email\" column";
        throw FileError(path + " has " + missing + " in its header row");
    }

    std::size_t widest = 0;
    db->entries.reserve(rows.size() - 1);
    for (std::size_t r = 1; r < rows.size(); ++r) {
        // Spreadsheets leave out empty cells at the end of a row; they are empty values,
        // not missing ones, so their placeholders merge as nothing. They are not stored:
        // a wide sheet of short rows would otherwise hold every empty cell.
        widest = std::max(widest, rows[r].size());
        ReceipData& entry = db->appendEntry();
        entry.missingValuesEmpty = true;
        FillEntry(entry, std::move(rows[r]), nameCol, emailCol);
    }
    rows.clear();
    WidenFields(*db, widest);

    st.db = std::move(db);
    st.user.lastdb = path;
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
    st.user.lastdb = path;
}

} // namespace tandrel
