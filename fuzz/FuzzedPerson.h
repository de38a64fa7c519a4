// SPDX-License-Identifier: GPL-3.0-or-later
// Fields and one person read from a fuzz input, for the targets that merge.
#pragma once

#include <cstddef>
#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

#include "model/Model.h"

namespace tandrel::fuzz {

inline std::vector<Field> ConsumeFields(FuzzedDataProvider& in, std::size_t most) {
    std::vector<Field> fields(in.ConsumeIntegralInRange<std::size_t>(0, most));
    for (Field& f : fields)
        f.name = in.ConsumeRandomLengthString(8);
    return fields;
}

inline Person ConsumePerson(FuzzedDataProvider& in, std::size_t mostValues) {
    Person entry;
    entry.setName(in.ConsumeRandomLengthString(16));
    entry.setEmail(in.ConsumeRandomLengthString(16));
    entry.values.resize(in.ConsumeIntegralInRange<std::size_t>(0, mostValues));
    for (std::string& v : entry.values)
        v = in.ConsumeRandomLengthString(16);
    entry.missingValuesEmpty = in.ConsumeBool();
    return entry;
}

} // namespace tandrel::fuzz
