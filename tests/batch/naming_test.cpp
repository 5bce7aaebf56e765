#include "batch/naming.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/batch/naming_cases.h"
#include "quorlix_batch.h"

namespace {

using namespace batch;

// The form each command's batch names its outputs by; the end-to-end tests hold
// the commands to the same table.
const std::map<std::string, OutputNaming> kNamingOf = {{"crlf", OutputNaming::kSameName},
                                                       {"delimited", OutputNaming::kSameName},
                                                       {"html2text", OutputNaming::kText},
                                                       {"decode-filing", OutputNaming::kTextAndSchedule},
                                                       {"verify", OutputNaming::kNone}};

std::vector<std::string> PathsOf(const OutputNames& names) { return {names.paths, names.paths + names.count}; }

TEST(NameOutputs, FollowsTheTableSharedWithPython) {
  const auto cases = quorlix_test::ReadNamingCases();
  std::set<std::string> commands;
  for (const auto& row : cases) {
    ASSERT_TRUE(kNamingOf.contains(row.command)) << row.command;
    commands.insert(row.command);
    std::vector<std::string> expected;
    for (const auto& output : row.outputs) expected.push_back("OUT/" + output);
    EXPECT_EQ(PathsOf(NameOutputs(kNamingOf.at(row.command), "OUT", row.input)), expected)
        << row.command << " " << row.input;
  }
  EXPECT_EQ(commands.size(), kNamingOf.size()) << "every command has its cases";
}

// The export callers outside the engine (the Python package) name outputs by.
std::vector<std::string> ExportedNames(int which, const char* outDir, const char* relative, std::size_t size = 512) {
  std::vector<char> buffer(size);
  const int count = quorlix_batch_output_names(which, outDir, relative, buffer.data(), buffer.size());
  if (count < 0) return {"refused"};
  std::vector<std::string> names;
  for (const char* next = buffer.data(); static_cast<int>(names.size()) < count; next += names.back().size() + 1)
    names.emplace_back(next);
  return names;
}

TEST(OutputNamesExport, FollowsTheTableSharedWithPython) {
  const std::map<std::string, int> conversionOf = {{"crlf", QUORLIX_BATCH_CRLF},
                                                   {"delimited", QUORLIX_BATCH_DELIMITED},
                                                   {"html2text", QUORLIX_BATCH_HTML},
                                                   {"decode-filing", QUORLIX_BATCH_FILING},
                                                   {"verify", QUORLIX_BATCH_VERIFY}};
  for (const auto& row : quorlix_test::ReadNamingCases()) {
    std::vector<std::string> expected;
    for (const auto& output : row.outputs) expected.push_back("OUT/" + output);
    EXPECT_EQ(ExportedNames(conversionOf.at(row.command), "OUT", row.input.c_str()), expected)
        << row.command << " " << row.input;
  }
}

TEST(OutputNamesExport, MirrorsAsTheWalkDoesAndRefusesWhatItCannotFill) {
  EXPECT_EQ(ExportedNames(QUORLIX_BATCH_HTML, "out", "./a//b.htm"), std::vector<std::string>{"out/a/b.txt"});
  EXPECT_EQ(ExportedNames(QUORLIX_BATCH_FILING, "out", ""),
            (std::vector<std::string>{"out/unnamed.txt", "out/unnamed.fds.txt"}));
  EXPECT_TRUE(ExportedNames(QUORLIX_BATCH_LIST, "out", "a").empty());
  // Room for the text output and its terminator, not for the schedule's.
  EXPECT_EQ(ExportedNames(QUORLIX_BATCH_FILING, "o", "a", std::string("o/a.txt").size() + 1),
            std::vector<std::string>{"refused"});
  EXPECT_EQ(ExportedNames(QUORLIX_BATCH_CRLF, "o", "a", std::string("o/a").size()),
            std::vector<std::string>{"refused"});
  EXPECT_EQ(ExportedNames(QUORLIX_BATCH_CRLF, "o", "a", std::string("o/a").size() + 1),
            std::vector<std::string>{"o/a"});
  EXPECT_EQ(ExportedNames(99, "o", "a"), std::vector<std::string>{"refused"});
  char buffer[16];
  EXPECT_EQ(quorlix_batch_output_names(QUORLIX_BATCH_CRLF, nullptr, "a", buffer, sizeof buffer), -1);
  EXPECT_EQ(quorlix_batch_output_names(QUORLIX_BATCH_CRLF, "o", nullptr, buffer, sizeof buffer), -1);
  EXPECT_EQ(quorlix_batch_output_names(QUORLIX_BATCH_CRLF, "o", "a", nullptr, 0), -1);
}

TEST(NameOutputs, JoinsTheOutputFolderOnceAndNamesANamelessInput) {
  EXPECT_EQ(PathsOf(NameOutputs(OutputNaming::kText, "out/", "a/b.htm")), std::vector<std::string>{"out/a/b.txt"});
  EXPECT_EQ(PathsOf(NameOutputs(OutputNaming::kText, "/", "b.htm")), std::vector<std::string>{"/b.txt"});
  // A folder the walk could not open stands for itself, with nothing below it.
  EXPECT_EQ(PathsOf(NameOutputs(OutputNaming::kTextAndSchedule, "out", "")),
            (std::vector<std::string>{"out/unnamed.txt", "out/unnamed.fds.txt"}));
}

TEST(StemOf, LooksAtTheLastComponentOnly) {
  EXPECT_EQ(StemOf("a.b/c"), "a.b/c");
  EXPECT_EQ(StemOf("a.b/.c"), "a.b/.c");
  EXPECT_EQ(StemOf("a/b.c.d"), "a/b.c");
  EXPECT_EQ(StemOf("/.."), "/..");
  EXPECT_EQ(StemOf(""), "");
}

// ---- Collisions ----

// The inputs and the output of a collision, or "".
std::string Collision(OutputNaming naming, std::string_view outDir, const InputList& list) {
  const Refusal refusal = FindCollision(naming, outDir, list);
  if (refusal.reason == 0) return {};
  EXPECT_EQ(refusal.reason, QUORLIX_BATCH_REFUSED_COLLISION);
  return refusal.input + " and " + refusal.input2 + " write " + refusal.output;
}

InputList ListOf(const std::vector<std::pair<std::string, InputSkip>>& inputs) {
  InputList list;
  for (const auto& [path, skip] : inputs) list.Add(path, path.find('/') + 1, skip);
  list.Seal();
  return list;
}

TEST(FindCollision, NamesThePairThatWouldWriteOneOutput) {
  const InputList list = ListOf(
      {{"one/same.txt", InputSkip::kNone}, {"one/other.txt", InputSkip::kNone}, {"two/same.txt", InputSkip::kNone}});
  EXPECT_EQ(Collision(OutputNaming::kSameName, "out", list), "one/same.txt and two/same.txt write out/same.txt");
}

TEST(FindCollision, DependsOnTheNamingRule) {
  // "x." and "x..y" share the stem "x.", so only the forms that drop a suffix collide.
  const InputList list = ListOf({{"in/x.", InputSkip::kNone}, {"in/x..y", InputSkip::kNone}});
  EXPECT_EQ(Collision(OutputNaming::kSameName, "out", list), "");
  EXPECT_NE(Collision(OutputNaming::kText, "out", list), "");
  EXPECT_EQ(Collision(OutputNaming::kNone, "out", list), "");

  // A filing's schedule name is another filing's text name.
  const InputList filings = ListOf({{"f/a.fds.x", InputSkip::kNone}, {"f/a.y", InputSkip::kNone}});
  EXPECT_EQ(Collision(OutputNaming::kTextAndSchedule, "d", filings), "f/a.fds.x and f/a.y write d/a.fds.txt");
}

TEST(FindCollision, PassesOverSkippedInputsAndNamesAsTheyAre) {
  EXPECT_EQ(Collision(OutputNaming::kSameName, "out",
                      ListOf({{"in/a", InputSkip::kNone}, {"out/a", InputSkip::kInsideOutput}})),
            "");
  EXPECT_EQ(
      Collision(OutputNaming::kSameName, "out", ListOf({{"a/n\nl", InputSkip::kNone}, {"b/n\nl", InputSkip::kNone}})),
      "a/n\nl and b/n\nl write out/n\nl");
}

}  // namespace
