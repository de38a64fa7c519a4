// SPDX-License-Identifier: GPL-3.0-or-later
// The mail file and its header block: any bytes load or are refused, and the mail built
// from the editors reads back to the same editors and body. The first byte chooses
// between loading a file and reading a text whose mail had a header block before (the
// preview's way).
#include <cstdint>

#include "model/Errors.h"
#include "fuzz/FuzzSupport.h"
#include "model/MailFile.h"
#include "model/TextFile.h"

using namespace tandrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string_view text = fuzz::AsText(data + 1, size - 1);

    AppState st;
    st.prefs.name = "Sender";
    st.prefs.fromAddress = "sender@example.org";
    MailEditors eds;
    if (data[0] & 1) {
        std::vector<std::string> lines = SplitAtLineEnds(text);
        bool hasHeader = true;
        ParseMailHeader(lines, eds, hasHeader);
        eds.body = std::move(lines);
        st.mailText.hasHeader = hasHeader;
        BuildMailText(st, eds);
    } else {
        static fuzz::MemoryFile input;
        try {
            FUZZ_CHECK(LoadMail(st, input.holding(text), eds));
        } catch (const FileError&) {
            return 0;
        }
    }
    for (const HeaderLine& h : eds.headerLines) {
        FUZZ_CHECK(IsHeaderName(h.name) && !IsOwnHeaderName(h.name));
        FUZZ_CHECK(h.value.find_first_of("\r\n") == std::string::npos);
    }

    // st.mailText is the mail as Save writes it: reading it back changes nothing.
    std::vector<std::string> lines = st.mailText.lines;
    MailEditors again;
    bool hasHeader = false;
    ParseMailHeader(lines, again, hasHeader);
    again.body = std::move(lines);
    FUZZ_CHECK(hasHeader == st.mailText.hasHeader);
    FUZZ_CHECK(again.from == eds.from && again.to == eds.to && again.subject == eds.subject);
    FUZZ_CHECK(again.headerLines == eds.headerLines);
    FUZZ_CHECK(again.format == eds.format);
    FUZZ_CHECK(again.body == eds.body);
    return 0;
}
