// SPDX-License-Identifier: GPL-3.0-or-later
// Loading and saving the field definition file.
#include "FieldFile.h"

#include <memory>

#include "TextFile.h"

namespace tandrel {

void LoadFields(AppState& st, const std::string& path) {
    std::vector<std::string> lines = SplitAtLineEnds(ReadUserTextFile(path));
    st.user.lastfields = path;
    if (!st.db) st.db = std::make_unique<DatabaseRoot>();
    auto& fields = st.db->fields;
    fields.clear();
    fields.reserve(lines.size());
    for (auto& line : lines)
        fields.push_back(VarIdent{std::move(line)});
}

void SaveFields(AppState& st, const std::string& path) {
    if (!st.db || st.db->fields.empty()) return;
    std::vector<std::string> names;
    names.reserve(st.db->fields.size());
    for (const auto& f : st.db->fields)
        names.push_back(f.name);
    WriteTextFile(path, names);
    st.user.lastfields = path;
}

} // namespace tandrel
