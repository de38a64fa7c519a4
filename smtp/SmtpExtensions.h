// What a server offers in its reply to EHLO, and the encodings of the login commands.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tandrel {

struct EhloOffer {
    bool startTls = false;
    bool pipelining = false;
    bool authPlain = false;
    bool authLogin = false;
    std::uint64_t maxSize = 0; // SIZE's limit in bytes; 0 when none is announced
};

// Reads the keywords of a (multi-line) reply to EHLO; case does not matter.
EhloOffer ParseEhloOffer(std::string_view reply);

std::string Base64Encode(std::string_view bytes);

// The initial response of AUTH PLAIN: NUL, user, NUL, password, in base64.
std::string PlainLoginToken(const std::string& user, const std::string& password);

} // namespace tandrel
