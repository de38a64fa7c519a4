// SPDX-License-Identifier: GPL-3.0-or-later
// The database edits of the editor and its dialogs, without widgets.
#include "model/DatabaseEditing.h"

#include <algorithm>
#include <unordered_set>

namespace tandrel {

std::vector<std::string> FieldLines(const Database& db, const Person& entry) {
    std::vector<std::string> lines;
    lines.reserve(std::max(db.fields.size(), entry.values.size()));
    for (std::size_t k = 0; k < db.fields.size(); ++k) {
        if (k < entry.values.size())
            lines.push_back(db.fields[k].name + " " + entry.values[k]);
        else
            lines.push_back(db.fields[k].name);
    }
    for (std::size_t k = db.fields.size(); k < entry.values.size(); ++k)
        lines.push_back(kExtraValuePrefix + entry.values[k]);
    return lines;
}

std::size_t AddPosition(const Database& db, const std::string& fieldName) {
    std::size_t pos = 0;
    for (std::size_t k = 0; k < db.fields.size(); ++k)
        if (db.fields[k].name == fieldName) pos = k;
    return pos;
}

Person& AddPerson(Database& db, const std::string& name, const std::string& email) {
    Person& entry = db.appendEntry();
    entry.setName(name);
    entry.setEmail(email);
    entry.selected = false;
    if (!db.fields.empty()) {
        entry.values.assign(db.fields.size(), std::string());
        entry.values[AddPosition(db, "name")] = name;
        entry.values[AddPosition(db, "email")] = email;
    }
    return entry;
}

bool SetEntryValue(Database& db, Person& entry, std::size_t k, const std::string& text) {
    if (k >= db.fields.size()) return false;
    if (entry.values.size() <= k) entry.values.resize(k + 1);
    // The editor keeps the name and address with the fields named exactly "name" and
    // "email"; under any other field (a "Name" that loading read them from included)
    // the value changes alone.
    entry.keepOwnCopiesOf(k);
    entry.values[k] = text;
    const std::string& field = db.fields[k].name;
    if (field == "name") entry.nameIsValue(k);
    if (field == "email") entry.emailIsValue(k);
    return true;
}

bool AppendField(Database& db, const std::string& name) {
    if (name.empty()) return false;
    db.fields.push_back(Field{name});
    return true;
}

bool RenameField(Database& db, std::size_t k, const std::string& newName) {
    if (k >= db.fields.size()) return false;
    const std::string& old = db.fields[k].name;
    if (old == "name" || old == "email") return false;
    db.fields[k].name = newName;
    return true;
}

TextEncoding DetectDatabaseEncoding(const Database& db) {
    for (const Field& f : db.fields)
        if (!IsValidUtf8(f.name)) return TextEncoding::Windows1252;
    for (const EntryPtr& e : db.entries)
        for (const std::string& v : e->values)
            if (!IsValidUtf8(v)) return TextEncoding::Windows1252;
    return TextEncoding::Utf8;
}

void ConvertDatabaseToUtf8(Database& db) {
    if (db.encoding == TextEncoding::Utf8) return;
    auto convert = [&db](std::string& s) { s = DecodeText(s, db.encoding); };
    for (Field& f : db.fields)
        convert(f.name);
    for (EntryPtr& e : db.entries)
        e->convertTexts(convert);
    db.encoding = TextEncoding::Utf8;
}

std::size_t RemoveEntries(Database& db, const std::vector<const Person*>& victims) {
    const std::unordered_set<const Person*> doomed(victims.begin(), victims.end());
    const std::size_t before = db.entries.size();
    // One pass keeps removing many people out of a large database linear.
    std::erase_if(db.entries, [&](const EntryPtr& e) { return doomed.count(e.get()) != 0; });
    return before - db.entries.size();
}

} // namespace tandrel
