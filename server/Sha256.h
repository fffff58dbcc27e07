#pragma once

#include <string>
#include <string_view>

// SHA-256 of the bytes, in lower-case hex. OpenSSL's, which uses the processor's SHA
// instructions where there are any: a save hashes its whole request.
std::string Sha256Hex(std::string_view bytes);
