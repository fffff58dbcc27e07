// One fuzz target: a function of the input bytes. Built with KX_LIBFUZZER it is also libFuzzer's
// entry point; otherwise the replay test runs it over the stored corpora.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#ifdef KX_LIBFUZZER
#define KX_FUZZ_TARGET(name)                                                                       \
    int KxFuzz##name(const uint8_t* data, size_t size);                                            \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {                      \
        return KxFuzz##name(data, size);                                                           \
    }                                                                                              \
    int KxFuzz##name(const uint8_t* data, size_t size)
#else
#define KX_FUZZ_TARGET(name) int KxFuzz##name(const uint8_t* data, size_t size)
#endif

int KxFuzzRpcRequest(const uint8_t* data, size_t size);
int KxFuzzPacket(const uint8_t* data, size_t size);
int KxFuzzDfm(const uint8_t* data, size_t size);
int KxFuzzMask(const uint8_t* data, size_t size);

inline std::string FuzzText(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}
