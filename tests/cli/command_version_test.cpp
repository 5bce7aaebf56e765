#include <gtest/gtest.h>

#include "tool_test.h"

namespace {

class CommandVersionTest : public quorlix_test::ToolTest {};

TEST_F(CommandVersionTest, VersionPrintsTheLibraryVersion) {
  const auto run = RunTool({"version"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out, "103\n");
}

TEST_F(CommandVersionTest, VersionOptionNamesTheProductAndTheLibrary) {
  for (const char* option : {"--version", "-V"}) {
    const auto run = RunTool({option});
    EXPECT_EQ(run.exitStatus, 0) << option;
    EXPECT_EQ(run.out, "quorlix " QUORLIX_PRODUCT_VERSION " (library 103)\n") << option;
  }
}

}  // namespace
