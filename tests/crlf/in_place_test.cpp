// Converting a file onto itself: the same file is overwritten, and a conversion
// that cannot finish for want of space or a size limit leaves it as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <string_view>

#include "child_process.h"
#include "quorlix.h"
#include "test_support.h"

namespace {

using quorlix_test::Describe;
using quorlix_test::ReadFile;
using quorlix_test::RunInChild;

// Lone LFs: the converted text is half as long again as the input.
std::string GrowingText(std::size_t nLines) {
  std::string str;
  for (std::size_t i = 0; i < nLines; ++i) str += "line " + std::to_string(i % 1000) + "\n";
  return str;
}

std::set<std::string> NamesIn(const std::filesystem::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

class InPlaceTest : public quorlix_test::TempDirTest {};

TEST_F(InPlaceTest, LinksOwnerAndModeStayWhenItGrowsAndWhenItShrinks) {
  const std::string strPath = WriteFile("a.txt", "one\ntwo\n");  // grows: two CRs added
  ASSERT_EQ(::chmod(strPath.c_str(), 0640), 0);
  std::filesystem::create_hard_link(strPath, PathOf("hard.txt"));
  std::filesystem::create_symlink("a.txt", PathOf("sym.txt"));

  ASSERT_EQ(CvtCRLF(PathOf("sym.txt").c_str(), PathOf("sym.txt").c_str(), 0), QUORLIX_OK);
  EXPECT_EQ(ReadFile(PathOf("hard.txt")), "one\r\ntwo\r\n");

  // Through the hard link, and shorter: tabs and the empty line go, the rest is cut off.
  std::ofstream(strPath, std::ios::binary | std::ios::trunc) << "\t\tx\n\n\n\n\ty\n";
  ASSERT_EQ(CvtCRLF(strPath.c_str(), PathOf("hard.txt").c_str(), 1), QUORLIX_OK);
  EXPECT_EQ(ReadFile(PathOf("sym.txt")), "x\r\ny\r\n");

  struct stat st {};
  ASSERT_EQ(::stat(strPath.c_str(), &st), 0);
  EXPECT_EQ(st.st_nlink, 2u);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_TRUE(std::filesystem::is_symlink(PathOf("sym.txt")));
  EXPECT_EQ(NamesIn(m_dir), (std::set<std::string>{"a.txt", "hard.txt", "sym.txt"}));
}

TEST_F(InPlaceTest, HtmlOutputThatIsThePageOverwritesItInPlace) {
  const std::string strPage = WriteFile("page.htm", "<BODY>short</BODY>" + std::string(100, ' '));
  std::filesystem::create_hard_link(strPage, PathOf("page.txt"));
  ASSERT_EQ(CvtHTMLtoText(strPage.c_str(), PathOf("page.txt").c_str(), 0), QUORLIX_OK);
  EXPECT_EQ(ReadFile(strPage), "short");
}

// A limit below the converted length, or below the old length, refuses the
// conversion before a byte is written: no SIGXFSZ, no half-written file.
TEST_F(InPlaceTest, FileSizeLimitFailsWithTheFileIntact) {
  const std::string strGrowing = GrowingText(2000);
  std::string strShrinking(strGrowing.size() / 2, 'x');
  strShrinking[0] = '\t';  // shorter by the tab only
  const struct {
    const std::string& strText;
    rlim_t nLimit;
  } cases[] = {{strGrowing, strGrowing.size() + 100}, {strShrinking, strShrinking.size() - 100}};
  for (const auto& c : cases) {
    const std::string strPath = WriteFile("in.txt", c.strText);
    const rlim_t nLimit = c.nLimit;
    const auto result = RunInChild([&] {
      const rlimit limit{nLimit, RLIM_INFINITY};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 99;
      return CvtCRLF(strPath.c_str(), strPath.c_str(), 0);
    });
    ASSERT_TRUE(result.bExited) << Describe(result);
    EXPECT_EQ(result.nCode, QUORLIX_CRLF_OUTPUT_ERROR);
    EXPECT_TRUE(ReadFile(strPath) == c.strText) << "the input changed, limit " << nLimit;
    EXPECT_EQ(NamesIn(m_dir), std::set<std::string>{"in.txt"});
  }
}

// Exit codes of the child that works on the small file system.
enum FullDiskOutcome { kFullDiskOk = 0, kNoMount = 77, kSetUpFailed = 78, kInputChanged = 79, kOtherFile = 80 };

// Why the child could not mount the small file system: the step, the system's
// words, and what they mean where that is known.
std::string MountFailure(const char* pszStep, int nError) {
  std::string strWhy = std::string(pszStep) + ": " + std::strerror(nError);
  if (nError == EPERM) strWhy += " (mounting needs CAP_SYS_ADMIN)";
  if (nError == EINVAL && std::string_view(pszStep).starts_with("making '/'"))
    strWhy += " ('/' is not a mount point here, as in a chroot)";
  return strWhy;
}

// On a 1 MiB file system with too little room left for the converted text.
// Mounting needs a mount namespace of one's own; where the test may not make
// one, it is skipped and says why.
TEST_F(InPlaceTest, FullFileSystemFailsWithTheFileIntact) {
  const std::string strMount = PathOf("small");
  const std::string strWhyPath = PathOf("mount-failure");
  std::filesystem::create_directory(strMount);
  int nStatus = -1;
  const auto result = RunInChild([&] {
    const auto refuse = [&](const char* pszStep) {
      const int nError = errno;
      std::ofstream(strWhyPath, std::ios::binary) << MountFailure(pszStep, nError);
      return static_cast<int>(kNoMount);
    };
    if (::unshare(CLONE_NEWNS) != 0) return refuse("unshare(CLONE_NEWNS)");
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return refuse("making '/' private");
    if (::mount("tmpfs", strMount.c_str(), "tmpfs", 0, "size=1m") != 0) return refuse("mounting a 1 MiB tmpfs");
    std::string strText;
    for (int i = 0; i < 200 * 1024; ++i) strText += "a\n";  // 400 KiB, 600 KiB converted
    const std::string strPath = strMount + "/in.txt";
    std::ofstream(strPath, std::ios::binary) << strText;
    std::ofstream(strMount + "/filler", std::ios::binary) << std::string(480 * 1024, 'f');
    if (ReadFile(strPath) != strText) return static_cast<int>(kSetUpFailed);
    nStatus = CvtCRLF(strPath.c_str(), strPath.c_str(), 0);
    if (ReadFile(strPath) != strText) return static_cast<int>(kInputChanged);
    if (NamesIn(strMount) != std::set<std::string>{"filler", "in.txt"}) return static_cast<int>(kOtherFile);
    return nStatus == QUORLIX_CRLF_OUTPUT_ERROR ? static_cast<int>(kFullDiskOk) : nStatus;
  });
  ASSERT_TRUE(result.bExited) << Describe(result);
  if (result.nCode == kNoMount) GTEST_SKIP() << "cannot mount a small tmpfs here: " << ReadFile(strWhyPath);
  EXPECT_NE(result.nCode, kSetUpFailed) << "the filler left no room for the input";
  EXPECT_NE(result.nCode, kInputChanged) << "the input was changed";
  EXPECT_NE(result.nCode, kOtherFile) << "another file was left beside the input";
  EXPECT_EQ(result.nCode, kFullDiskOk) << "status " << result.nCode;
}

// The doubled length of 2 GiB and more does not fit the pass: refused as
// measured, before a byte is read (the files are sparse). 4 GiB and more cannot
// be loaded at all.
TEST_F(InPlaceTest, InputsTooLongForThePassAreRefusedAsMeasured) {
  const std::string strIn = WriteFile("huge.txt", "");
  const std::string strOut = PathOf("out.txt");
  for (const auto& [nLength, nStatus] : {std::pair{std::uint64_t{0x80000000}, QUORLIX_CRLF_PASS_FAILED},
                                         std::pair{std::uint64_t{0xFFFFFFFF}, QUORLIX_CRLF_PASS_FAILED},
                                         std::pair{std::uint64_t{0x100000000}, QUORLIX_CRLF_INPUT_ERROR}}) {
    std::filesystem::resize_file(strIn, nLength);
    EXPECT_EQ(CvtCRLF(strIn.c_str(), strOut.c_str(), 0), nStatus) << nLength;
    EXPECT_FALSE(quorlix_test::FileExists(strOut));
  }
}

}  // namespace
