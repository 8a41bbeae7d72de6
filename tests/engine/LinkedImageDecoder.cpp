// The engine's suites compare pictures with the decoder the programs with
// windows link and install at start.
#include "media/decoder/KZImageDecoder.h"

#include <gtest/gtest.h>

namespace {

class LinkedImageDecoder : public ::testing::Environment {
public:
    void SetUp() override { kzmedia::installImageDecoder(&kzmedia::decodeImageRGBA); }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new LinkedImageDecoder);

} // namespace
