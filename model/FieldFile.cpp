// SPDX-License-Identifier: GPL-3.0-or-later
// Loading and saving the field definition file.
#include "model/FieldFile.h"

#include <memory>

#include "model/TextFile.h"

namespace tandrel {

void LoadFields(AppState& st, const std::string& path) {
    std::vector<std::string> lines = SplitAtLineEnds(ReadUserTextFile(path));
    st.user.lastFields = path;
    if (!st.db) st.db = std::make_unique<Database>();
    auto& fields = st.db->fields;
    fields.clear();
    fields.reserve(lines.size());
    for (auto& line : lines)
        fields.push_back(Field{std::move(line)});
}

void SaveFields(AppState& st, const std::string& path) {
    if (!st.db || st.db->fields.empty()) return;
    std::vector<std::string> names;
    names.reserve(st.db->fields.size());
    for (const auto& f : st.db->fields)
        names.push_back(f.name);
    WriteTextFile(path, names);
    st.user.lastFields = path;
}

} // namespace tandrel
