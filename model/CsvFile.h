// SPDX-License-Identifier: GPL-3.0-or-later
// Databases as comma-separated values, the way spreadsheet programs read and write
// them: a header row naming the fields, then one row per person.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "model/AppState.h"
#include "model/Errors.h"

namespace tandrel {

using CsvRow = std::vector<std::string>;

// True when the text holds something written like an e-mail address: an '@' between a
// letter, digit or one of "._%+-" and a letter or digit. A header row of field names
// holds none; a person's row does, whatever separates its values.
bool HoldsAddress(std::string_view text);

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

// A column of a header row, with the first value below it, to choose the column of the
// addresses from.
struct CsvColumn {
    std::string name;   // as written, blanks around it dropped
    std::string sample; // the first value below it that is not empty; empty for none
};

// The header row has no column of addresses under any of the usual names, or none of
// the name asked for. Its text names the file and the columns.
class NoAddressColumn : public FileError {
public:
    NoAddressColumn(const std::string& text, std::vector<CsvColumn> headerColumns)
        : FileError(text), columns(std::move(headerColumns)) {}
    std::vector<CsvColumn> columns;
};

// The header cells (as written) whose columns became the fields "email" and "name";
// `name` is empty when no column holds names.
struct CsvColumnsTaken {
    std::string email;
    std::string name;
};

// What to tell of the columns taken when they are not simply called "email" and "name"
// ("the addresses are taken from the column "E-mail" as [email]"); empty when they are.
std::string CsvColumnsNote(const CsvColumnsTaken& taken);

// Replaces the whole database (creating it when there is none) by the file's: the
// header row gives the fields (blanks around the names dropped), every further row a
// person; the values a short row leaves out read as empty. The column of the addresses
// is the one called `emailColumn` (letter case and blanks around it aside) when that is
// given; else the one called "email", else the leftmost called "e-mail", "mail", "email
// address" or "e-mail address", also in the form address books write ("E-mail 1 -
// Value"), in any letter case. The column called "name", else "full name" or "display
// name", holds the names; a file may have none. These two columns become the special
// fields "email" and "name". Sets lastdb, and lastdbEmailColumn to `emailColumn`.
// Throws NoAddressColumn when no column holds the addresses, FileError when the file
// cannot be read, holds NUL bytes, has an unclosed quote or no rows; nothing changes
// then.
CsvColumnsTaken LoadCsvDatabase(AppState& st, const std::string& path,
                                const std::string& emailColumn = {});

// Writes the field names, then every entry's values (padded to the field count), ','
// separated, CR LF after each row, replacing the file safely; then sets lastdb.
// Throws FileError("Cannot create file ...: <reason>"); lastdb and the old file stay.
void SaveCsvDatabase(AppState& st, const std::string& path);

} // namespace tandrel
