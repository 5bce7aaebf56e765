#include "batch/input_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

class InputListTest : public quorlix_test::TempDirTest {
 protected:
  // A file below the test's folder, its folders made first.
  std::string Write(const std::string& name, std::string_view bytes) {
    fs::create_directories(fs::path(PathOf(name)).parent_path());
    return WriteFile(name, bytes);
  }

  // Each input as "<path below the test's folder> -> <mirrored path>", with " (inside)"
  // for one found inside the output folder: the library's walk of what the tool
  // reads from the command line and its lists, and the tool's words for a refusal.
  std::vector<std::string> Collect(const std::vector<std::string>& named, const std::vector<std::string>& lists = {},
                                   bool nullSeparated = false, std::string_view outDir = {}) {
    m_problem = CheckInputSources({named, lists, nullSeparated, outDir});
    if (!m_problem.empty()) return {};
    std::vector<const char*> paths;
    for (const auto& path : named) paths.push_back(path.c_str());
    const std::string folder(outDir);
    ListReader reader(lists, nullSeparated);
    quorlix_batch_settings settings{};
    settings.conversion.which = QUORLIX_BATCH_LIST;
    settings.named = paths.data();
    settings.named_count = paths.size();
    settings.next_listed = reader.Callback();
    settings.listed_context = &reader;
    settings.out_dir = folder.empty() ? nullptr : folder.c_str();
    settings.walk = QUORLIX_BATCH_WALK_EVERY_FILE;
    Collected collected{m_dir.string() + "/", reader, {}, {}};
    const quorlix_batch_callbacks callbacks{&collected, AddRow, nullptr, nullptr, Refused, nullptr};
    EXPECT_NE(quorlix_run_batch(&settings, &callbacks, nullptr), QUORLIX_BATCH_BAD_CALL);
    m_problem = collected.problem;
    return collected.shown;
  }

  struct Collected {
    std::string prefix;
    const ListReader& reader;
    std::vector<std::string> shown;
    std::string problem;
  };

  static int AddRow(void* context, const quorlix_batch_row* row) {
    auto& collected = *static_cast<Collected*>(context);
    std::string path(row->input);
    // The mirrored path without empty or "." components.
    std::string relative;
    std::string_view rest = std::string_view(path).substr(row->relative_start);
    while (!rest.empty()) {
      const std::string_view part = rest.substr(0, rest.find('/'));
      rest.remove_prefix(std::min(rest.size(), part.size() + 1));
      if (part.empty() || part == ".") continue;
      if (!relative.empty()) relative += '/';
      relative += part;
    }
    if (path.starts_with(collected.prefix)) path.erase(0, collected.prefix.size());
    collected.shown.push_back(path + " -> " + relative +
                              (row->skip == QUORLIX_BATCH_SKIP_INSIDE_OUTPUT ? " (inside)" : ""));
    return 0;
  }

  static void Refused(void* context, const quorlix_batch_refusal* refusal) {
    auto& collected = *static_cast<Collected*>(context);
    collected.problem = InputRefusalWords(*refusal, collected.reader);
  }

  std::string m_problem;
};

TEST_F(InputListTest, FoldersAreWalkedDepthFirstInByteOrder) {
  for (const char* name : {"in/b/two", "in/a/deep/one", "in/B", "in/top", "in/a.x"}) Write(name, "x");
  fs::create_directory_symlink("..", PathOf("in/a/loop"));
  fs::create_symlink(PathOf("in/top"), PathOf("in/link"));
  fs::create_symlink(PathOf("nowhere"), PathOf("in/dangling"));
  EXPECT_EQ(Collect({PathOf("in")}),
            (std::vector<std::string>{"in/B -> B", "in/a/deep/one -> a/deep/one", "in/a.x -> a.x", "in/b/two -> b/two",
                                      "in/link -> link", "in/top -> top"}));
  EXPECT_EQ(m_problem, "");
  // A trailing '/' and a named file: the file is mirrored by its name alone.
  EXPECT_EQ(Collect({PathOf("in/b/"), PathOf("in/a/deep/one")}),
            (std::vector<std::string>{"in/b/two -> two", "in/a/deep/one -> one"}));
}

TEST_F(InputListTest, ListsAreReadOneAPathOrNulSeparated) {
  Write("in/x/a", "a");
  Write("in/b", "b");
  const std::string absolute = Write("c", "c");
  Write("lines", "in/x/a\n\n./in/b\n" + absolute);  // an empty line; the last line has no line end
  Write("nul", std::string("in/x/a\0in/b\0", 12));
  const fs::path before = fs::current_path();
  fs::current_path(m_dir);
  EXPECT_EQ(Collect({}, {"lines"}),
            (std::vector<std::string>{"in/x/a -> in/x/a", "./in/b -> in/b", "c -> " + absolute.substr(1)}));
  EXPECT_EQ(Collect({}, {"nul"}, true), (std::vector<std::string>{"in/x/a -> in/x/a", "in/b -> in/b"}));
  // Named inputs come first, then each list in turn; a listed folder is passed over.
  Write("folders", "in/x\nin/b\n");
  EXPECT_EQ(Collect({"in/x"}, {"folders"}), (std::vector<std::string>{"in/x/a -> a", "in/b -> in/b"}));
  fs::current_path(before);
}

// A long list from one folder: its folders are still passed over (a folder, a
// link to one, "." and a trailing '/'), its files, missing ones among them, kept.
TEST_F(InputListTest, ALongListOfOneFolderPassesOverItsFolders) {
  std::string listed;
  std::vector<std::string> expected;
  for (int i = 0; i < 100; ++i) {
    const std::string name = "big/f" + std::to_string(100 + i);
    if (i % 10 != 9) Write(name, "x");  // every tenth is missing: the export names it
    listed += PathOf(name) + '\n';
    expected.push_back(name + " -> " + PathOf(name).substr(1));
    if (i == 60) {
      fs::create_directories(PathOf("big/sub"));
      fs::create_directory_symlink(PathOf("big/sub"), PathOf("big/tosub"));
      fs::create_symlink(PathOf("big/f100"), PathOf("big/tofile"));
      for (const char* other : {"big/sub", "big/tosub", "big/.", "big/sub/"}) listed += PathOf(other) + '\n';
      listed += PathOf("big/tofile") + '\n';
      expected.push_back("big/tofile -> " + PathOf("big/tofile").substr(1));
    }
  }
  Write("list", listed);
  EXPECT_EQ(Collect({}, {PathOf("list")}), expected);
  EXPECT_EQ(m_problem, "");
}

TEST_F(InputListTest, WrongInputsAreUsageProblems) {
  Write("up", "in/ok\nin/../../etc/passwd\n");
  Collect({}, {PathOf("up")});
  EXPECT_EQ(m_problem,
            "the listed path 'in/../../etc/passwd' has a '..' component, so its output would leave the "
            "output folder");
  Collect({}, {PathOf("missing\n")});
  EXPECT_EQ(m_problem, "cannot read the list '" + PathOf("missing\\n") + "': No such file or directory");
  Collect({"a"}, {}, true);
  EXPECT_EQ(m_problem, "-0 needs -T");
  Collect({});
  EXPECT_EQ(m_problem, "no inputs: name files or folders, or -T FILE");
  Collect({"a", "-"});
  EXPECT_EQ(m_problem, "'-' is no input in batch mode; -T - reads the inputs' paths from standard input");
}

TEST_F(InputListTest, InputsInsideTheOutputFolderAreMarked) {
  Write("tree/a", "a");
  Write("tree/out/old", "o");
  Write("tree/out/deeper/older", "o");
  fs::create_directory_symlink(PathOf("tree/out"), PathOf("tree/z-out-again"));
  fs::create_directory_symlink(PathOf("tree/out"), PathOf("elsewhere"));
  // The output folder named through a link is the same folder.
  EXPECT_EQ(Collect({PathOf("tree"), PathOf("tree/out/old")}, {}, false, PathOf("elsewhere")),
            (std::vector<std::string>{"tree/a -> a", "tree/out/deeper/older -> out/deeper/older (inside)",
                                      "tree/out/old -> out/old (inside)", "tree/out/old -> old (inside)"}));
  // Without an output folder nothing is inside one.
  EXPECT_EQ(Collect({PathOf("tree/out/old")}), std::vector<std::string>{"tree/out/old -> old"});
}

}  // namespace
