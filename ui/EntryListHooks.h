// What the add and fields dialogs ask of the database editor that opened them, so they
// need not know the editor's class.
#pragma once

#include "Forms.h"
#include "Model.h"

namespace tandrel {

class EntryListHooks {
public:
    virtual ~EntryListHooks() = default;
    // Adds a line for an entry that was just appended to the database.
    virtual void appendEntryLine(ReceipData* entry) = 0;
    // Shows the current line's entry again, after its fields changed.
    virtual void showCurrentEntry() = 0;
};

// The database editor of `forms`, or null while there is none.
EntryListHooks* EntryListOf(Forms& forms);

} // namespace tandrel
