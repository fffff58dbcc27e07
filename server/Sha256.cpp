#include "Sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

std::string Hex(const unsigned char* bytes, size_t n) {
    static const char* hex = "0123456789abcdef";
    std::string out(2 * n, '0');
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = hex[bytes[i] >> 4];
        out[2 * i + 1] = hex[bytes[i] & 15];
    }
    return out;
}

std::string Sha256Hex(std::string_view bytes) {
    // Looked up once: EVP_sha256() would be looked up again in the provider on every digest.
    static EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (!sha256 || EVP_Digest(bytes.data(), bytes.size(), md, &n, sha256, nullptr) != 1)
        throw std::runtime_error("SHA-256 indisponível");
    return Hex(md, n);
}
