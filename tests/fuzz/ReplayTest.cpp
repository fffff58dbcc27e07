// Every fuzz target over its seed corpus and over each input that once made it fail: what the
// fuzzer found stays found in every build, sanitizers or not.
#include "FuzzTarget.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

struct Target {
    const char* name;
    int (*run)(const uint8_t*, size_t);
};

class ReplayTest : public ::testing::TestWithParam<Target> {};

TEST_P(ReplayTest, SeedsAndRegressionsRunClean) {
    size_t inputs = 0;
    for (const char* dir : {"corpus", "regressions"}) {
        const fs::path path = fs::path(KX_SOURCE_DIR) / "fuzz" / dir / GetParam().name;
        if (!fs::exists(path)) continue;
        for (const auto& entry : fs::directory_iterator(path)) {
            if (!entry.is_regular_file()) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            std::stringstream bytes;
            bytes << in.rdbuf();
            const std::string data = bytes.str();
            SCOPED_TRACE(entry.path().string());
            EXPECT_EQ(GetParam().run(reinterpret_cast<const uint8_t*>(data.data()), data.size()),
                      0);
            ++inputs;
        }
    }
    EXPECT_GE(inputs, 3u) << "seed corpus of " << GetParam().name << " missing";
}

INSTANTIATE_TEST_SUITE_P(Targets, ReplayTest,
                         ::testing::Values(Target{"rpc_request", KxFuzzRpcRequest},
                                           Target{"packet", KxFuzzPacket}, Target{"dfm", KxFuzzDfm},
                                           Target{"mask", KxFuzzMask}),
                         [](const auto& test) { return std::string(test.param.name); });

} // namespace
