// SPDX-License-Identifier: GPL-3.0-or-later
// The database file: one person per line, values joined by the delimiter.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/AppState.h"

namespace tandrel {

using Column = std::optional<std::size_t>;

// Appends the line's values to the entry; fills name/email from their columns (blanks
// removed from the e-mail value). Returns the number of values appended (at least 1).
std::size_t ParseEntryLine(Person& entry, std::string_view line, char delim, Column nameCol,
                           Column emailCol);

// ASCII letters to lower case; other bytes stay.
std::string AsciiLower(std::string s);

// Sets the entry's values and fills name/email from their columns (blanks removed from
// the e-mail value), as a line of the database file does.
void FillEntry(Person& entry, std::vector<std::string> values, Column nameCol, Column emailCol);

// Appends "New Field 1", "New Field 2", ... until there are `widest` fields.
void WidenFields(Database& db, std::size_t widest);

// Replaces all entries by those of the file (does nothing when there is no database);
// widens the field list with "New Field N" when lines are wider. Sets lastdb and
// clears lastdbEmailColumn.
// Throws FileError("Cannot open file ...", or "... is not a text file: it contains
// NUL bytes") and leaves everything unchanged then.
// Refreshing the windows is the caller's business.
void LoadDatabase(AppState& st, const std::string& path);

// Writes every entry's values joined by the delimiter, then sets lastdb (and clears
// lastdbEmailColumn).
// Throws FileError("Cannot create file ...: <reason>"); lastdb and the old file stay.
void SaveDatabase(AppState& st, const std::string& path);

} // namespace tandrel
