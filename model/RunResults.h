// SPDX-License-Identifier: GPL-3.0-or-later
// What became of each person of the last run, kept in a small file beside the settings
// so the people not reached can be picked again, also after a restart.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "model/Model.h"

namespace tandrel {

enum class Outcome : char {
    NotAttempted = '-', // cancelled, connection lost, time-out, or not reached yet
    Accepted = 'A',
    Refused = 'R',            // a 5xx answer
    TemporarilyRefused = 'T', // a 4xx answer
    MaybeDelivered = 'U',     // its end of data went out but no answer came: unknown
};

// A person as the file names them. `occurrence` counts the earlier entries of the
// database with the same name and address, so two such entries stay apart.
struct PersonId {
    std::string name;
    std::string email;
    int occurrence = 0;
    bool operator==(const PersonId&) const = default;
};

// The same, read in place: valid while the entries are.
struct PersonView {
    std::string_view name;
    std::string_view email;
    int occurrence = 0;
};

// The ids of `rows` (entries of `db`), in the order of `rows`. The views copy no name,
// for a run of a million people.
std::vector<PersonView> IdentifyPeople(const Database& db,
                                       const std::vector<Person*>& rows);

// Writes the results of one run as it goes. The file starts with every person not
// attempted; each outcome is then one appended line, written at once, so a crash or
// kill of the program loses nothing (it is flushed to the disk when the run ends).
class RunResultsWriter {
public:
    // Replaces the file safely. Throws FileError when it cannot be written.
    RunResultsWriter(std::string path, const std::vector<PersonView>& people);
    ~RunResultsWriter();
    RunResultsWriter(const RunResultsWriter&) = delete;
    RunResultsWriter& operator=(const RunResultsWriter&) = delete;

    // The outcome of the message to people[index]. False when it could not be written
    // (the run goes on; the person then counts as not attempted).
    bool record(std::size_t index, Outcome outcome);

private:
    std::string path_;
    std::size_t count_;
    int fd_ = -1;
};

struct PersonResult {
    PersonId person;
    Outcome outcome = Outcome::NotAttempted;
};

// The last outcome of each person of the file; empty when it is missing or unreadable.
std::vector<PersonResult> ReadRunResults(const std::string& path);

// The entries of `db`, in database order, that were in the last run and whose message
// was not accepted and may not have been stored (an unanswered end of data is left out).
// Empty when there is nothing to pick again.
std::vector<Person*> RecipientsNotReached(const Database& db, const std::string& path);

} // namespace tandrel
