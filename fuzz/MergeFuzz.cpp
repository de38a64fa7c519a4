// SPDX-License-Identifier: GPL-3.0-or-later
// The merge with fallbacks: fields, one person and a text from the input. The merge
// gives what the rule taken literally gives (search again from the start after every
// replacement), fails exactly when the growth check says it will, and every fallback
// placeholder found is one.
#include <cstdint>
#include <optional>

#include "merge/Fallback.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzedPerson.h"
#include "tests/support/LiteralMerge.h"
#include "merge/Merge.h"

using namespace tandrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::vector<Field> fields = fuzz::ConsumeFields(in, 3);
    const Person entry = fuzz::ConsumePerson(in, 4);
    const std::string text = in.ConsumeRemainingBytesAsString();

    const FieldIndex index(fields);
    std::string merged = text;
    bool tooLarge = false;
    try {
        MergeEntry(index, entry, merged);
    } catch (const ComposeError&) {
        tooLarge = true;
    }
    FUZZ_CHECK(MergeGrowthProblem(index, entry, text).empty() == !tooLarge);
    // Following the literal rule costs a search of the whole text per replacement: only
    // where that stays small.
    const std::optional<std::string> want = test::LiteralMerge(fields, entry, text, 16384);
    if (want) FUZZ_CHECK(!tooLarge && merged == *want);

    for (auto p = FindFallback(text); p; p = FindFallback(text, p->end)) {
        FUZZ_CHECK(p->begin < p->end && p->end <= text.size());
        FUZZ_CHECK(text[p->begin] == '[' && text[p->end - 1] == ']');
        FUZZ_CHECK(!p->field.empty() && p->field.find_first_of("[]|\r\n") == std::string::npos);
        FUZZ_CHECK(p->text.find_first_of("[]\r\n") == std::string::npos);
    }
    std::string withFallbacks = text;
    try {
        MergePlaceholders(index, entry, withFallbacks);
    } catch (const ComposeError&) {
    }
    return 0;
}
