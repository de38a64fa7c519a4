// SPDX-License-Identifier: GPL-3.0-or-later
// The results file reader: any bytes give a list of people, and that list written as a
// run writes it reads back the same, whatever the names and addresses hold.
#include <cstdint>

#include "fuzz/FuzzSupport.h"
#include "model/RunResults.h"

using namespace tandrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::MemoryFile input;
    const std::vector<PersonResult> read = ReadRunResults(input.holding(fuzz::AsText(data, size)));

    std::vector<PersonView> people;
    for (const PersonResult& r : read) {
        FUZZ_CHECK(r.person.occurrence >= 0);
        people.push_back({r.person.name, r.person.email, r.person.occurrence});
    }
    static const fuzz::WrittenFile writtenFile("Tandrel.run");
    const std::string& written = writtenFile.path;
    {
        RunResultsWriter writer(written, people);
        for (std::size_t i = 0; i < read.size(); ++i)
            if (read[i].outcome != Outcome::NotAttempted)
                FUZZ_CHECK(writer.record(i, read[i].outcome));
    }
    const std::vector<PersonResult> again = ReadRunResults(written);
    FUZZ_CHECK(again.size() == read.size());
    for (std::size_t i = 0; i < read.size(); ++i)
        FUZZ_CHECK(again[i].person == read[i].person && again[i].outcome == read[i].outcome);
    return 0;
}
