#include "support/SharedSessionEnvironment.h"

namespace {

const auto* const environment = ::testing::AddGlobalTestEnvironment(new test_support::SharedSessionEnvironment);

} // namespace
