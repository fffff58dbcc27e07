#pragma once

#include <string>
#include <string_view>

// Bytes in lower-case hex.
std::string Hex(const unsigned char* bytes, size_t n);

// SHA-256 of the bytes, in lower-case hex. OpenSSL's, which uses the processor's SHA
// instructions where there are any: a save hashes its whole request.
std::string Sha256Hex(std::string_view bytes);
