// SPDX-License-Identifier: GPL-3.0-or-later
// The CSV reader: any bytes parse or are refused with a line number, what parses is
// written back and read again unchanged, and a file loads or is refused whole; a
// database loaded, saved and loaded again has the same fields and values.
#include <cstdint>

#include "model/CsvFile.h"
#include "model/Errors.h"
#include "fuzz/FuzzSupport.h"

using namespace tandrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::AsText(data, size);
    std::vector<CsvRow> rows;
    std::size_t unclosedLine = 0;
    if (!ParseCsv(text, rows, &unclosedLine)) {
        FUZZ_CHECK(unclosedLine >= 1);
    } else {
        // Written as a database file is, under a header naming both columns (so the
        // reader keeps the comma); a row of one empty value is an empty line, which no
        // file can hold as a row.
        std::vector<CsvRow> want = {{"name", "email"}};
        std::string written = FormatCsvRow(want.front(), ',') + "\r\n";
        for (const CsvRow& row : rows) {
            FUZZ_CHECK(!row.empty());
            if (row.size() == 1 && row[0].empty()) continue;
            want.push_back(row);
            written += FormatCsvRow(row, ',') + "\r\n";
        }
        std::vector<CsvRow> again;
        FUZZ_CHECK(ParseCsv(written, again));
        FUZZ_CHECK(again == want);
    }

    static fuzz::MemoryFile input;
    AppState st;
    try {
        LoadCsvDatabase(st, input.holding(text));
    } catch (const FileError&) {
        FUZZ_CHECK(!st.db);
        return 0;
    }
    FUZZ_CHECK(st.db && st.db->fieldCount() >= 2);
    for (const EntryPtr& e : st.db->entries) {
        FUZZ_CHECK(e->values.size() <= st.db->fieldCount());
        FUZZ_CHECK(e->email().find(' ') == std::string::npos);
    }

    static const fuzz::WrittenFile saved("people.csv");
    SaveCsvDatabase(st, saved.path);
    AppState again;
    LoadCsvDatabase(again, saved.path);
    FUZZ_CHECK(again.db->fieldCount() == st.db->fieldCount());
    for (std::size_t k = 0; k < st.db->fieldCount(); ++k)
        FUZZ_CHECK(again.db->fields[k].name == st.db->fields[k].name);
    FUZZ_CHECK(again.db->entryCount() == st.db->entryCount());
    for (std::size_t i = 0; i < st.db->entryCount(); ++i) {
        const Person& a = *st.db->entries[i];
        const Person& b = *again.db->entries[i];
        for (std::size_t k = 0; k < st.db->fieldCount(); ++k)
            FUZZ_CHECK(ValueOf(a, k) == ValueOf(b, k));
        FUZZ_CHECK(a.name() == b.name() && a.email() == b.email());
    }
    return 0;
}
