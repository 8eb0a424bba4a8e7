// The test process ends as a host that unloads the module does: the
// module's application object goes before the process's own teardown.
#include <gtest/gtest.h>

#include "ui/application.h"

namespace {

class ReleaseApplicationAtEnd final : public ::testing::Environment {
 public:
  void TearDown() override { ps::ReleaseApplication(); }
};

const ::testing::Environment* const kReleaseAtEnd =
    ::testing::AddGlobalTestEnvironment(new ReleaseApplicationAtEnd);

}  // namespace
