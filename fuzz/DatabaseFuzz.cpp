// SPDX-License-Identifier: GPL-3.0-or-later
// The database file reader: the first byte chooses the delimiter and the columns of
// "name" and "email", the rest is the file. Every line is one person whose values,
// joined again, split back the same.
#include <cstdint>

#include "model/DatabaseFile.h"
#include "model/Errors.h"
#include "fuzz/FuzzSupport.h"
#include "model/TextFile.h"

using namespace tandrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static constexpr char kDelimiters[] = {';', ',', '\t', '|'};
    const char delim = kDelimiters[data[0] & 3];
    const std::size_t nameAt = (data[0] >> 2) & 3, emailAt = (data[0] >> 4) & 3;
    const std::string_view text = fuzz::AsText(data + 1, size - 1);

    AppState st;
    st.newDatabase();
    st.prefs.delimiterChar = delim;
    st.db->fields = {Field{"a"}, Field{"b"}, Field{"c"}, Field{"d"}};
    st.db->fields[emailAt].name = "EMail";
    if (nameAt != emailAt) st.db->fields[nameAt].name = "Name";
    static fuzz::MemoryFile input;
    try {
        LoadDatabase(st, input.holding(text));
    } catch (const FileError&) {
        FUZZ_CHECK(text.find('\0') != std::string_view::npos || text.starts_with("\xFF\xFE") ||
                   text.starts_with("\xFE\xFF"));
        FUZZ_CHECK(st.db->entries.empty());
        return 0;
    }
    FUZZ_CHECK(st.db->entryCount() == SplitAtLineEnds(text).size());
    for (const EntryPtr& e : st.db->entries) {
        FUZZ_CHECK(e->values.size() <= st.db->fieldCount());
        FUZZ_CHECK(e->email() == ValueOf(*e, emailAt));
        if (nameAt != emailAt) FUZZ_CHECK(e->name() == ValueOf(*e, nameAt));
        // The line SaveDatabase writes for the entry.
        std::string line;
        for (std::size_t k = 0; k < e->values.size(); ++k)
            line += (k > 0 ? std::string(1, delim) : std::string()) + e->values[k];
        Person again;
        const Column name = nameAt != emailAt ? Column(nameAt) : Column();
        FUZZ_CHECK(ParseEntryLine(again, line, delim, name, emailAt) == e->values.size());
        FUZZ_CHECK(again.values == e->values);
    }
    return 0;
}
