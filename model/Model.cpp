// SPDX-License-Identifier: GPL-3.0-or-later
// The database's entry list and the small helpers on entries and attachments.
#include "model/Model.h"

#include <algorithm>

namespace tandrel {

Person& Database::appendEntry() {
    auto e = std::make_unique<Person>();
    e->id = nextId_++;
    entries.push_back(std::move(e));
    return *entries.back();
}

bool Database::removeEntry(const Person* entry) {
    auto it = std::find_if(entries.begin(), entries.end(),
                           [&](const EntryPtr& e) { return e.get() == entry; });
    if (it == entries.end()) return false;
    entries.erase(it);
    return true;
}

std::size_t Database::indexOf(const Person* entry) const {
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].get() == entry) return i;
    return npos;
}

std::size_t Database::selectedCount() const {
    return static_cast<std::size_t>(std::count_if(entries.begin(), entries.end(),
                                                  [](const EntryPtr& e) { return e->selected; }));
}

Person* FindEntryByName(Database* db, const std::string& name) {
    if (!db) return nullptr;
    for (auto& e : db->entries)
        if (e->name() == name) return e.get();
    return nullptr;
}

std::string FileNameOfPath(const std::string& path) {
    const auto pos = path.find_last_of("/\\");
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

Attachment MakeAttachment(const std::string& path) {
    return Attachment{path, FileNameOfPath(path)};
}

} // namespace tandrel
