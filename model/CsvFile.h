// Databases as comma-separated values, the way spreadsheet programs read and write
// them: a header row naming the fields, then one row per person.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "AppState.h"

namespace tandrel {

using CsvRow = std::vector<std::string>;

// Splits CSV text into rows. The separator is ',' or ';', whichever the first row
// holds more of outside quotes (',' when neither), unless only the other one splits
// the first row into a "name" and an "email" column. Double-quoted values may hold
// doubled quotes, separators and line breaks, which are kept as they are. A UTF-8
// byte order mark at the start and empty lines are skipped. Returns false when a
// quoted value is not closed, with the line it starts on in `unclosedLine`.
bool ParseCsv(std::string_view text, std::vector<CsvRow>& rows,
              std::size_t* unclosedLine = nullptr);

// One row: values joined by `sep`, a value quoted when it holds ',' or ';' (either
// separator), a double quote, CR or LF, starts or ends with a blank, or starts with a
// UTF-8 byte order mark; no line end.
std::string FormatCsvRow(const CsvRow& values, char sep);

// True for a path ending in ".csv" in any letter case.
bool IsCsvPath(const std::string& path);

// Replaces the whole database (creating it when there is none) by the file's: the
// header row gives the fields (blanks around the names dropped), every further row a
// person; the values a short row leaves out read as empty. The columns named "name" and "email"
// in any letter case become the special fields of those names. Sets
// lastdb. Throws FileError when the file cannot be read, holds NUL bytes, has an
// unclosed quote, or lacks a "name" or an "email" column; nothing changes then.
void LoadCsvDatabase(AppState& st, const std::string& path);

// Writes the field names, then every entry's values (padded to the field count), ','
// separated, CR LF after each row, replacing the file safely; then sets lastdb.
// Throws FileError("Cannot create file ...: <reason>"); lastdb and the old file stay.
void SaveCsvDatabase(AppState& st, const std::string& path);

} // namespace tandrel
