// quorlix_last_failure after each export's failures, each caused for real: the
// cause, the errno, the file and, for verify and the line-end limit, the words.
// What needs another user, a private mount or a limit runs in a child process,
// which hands back the cause and the file in its exit code.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "child_process.h"
#include "quorlix.h"
#include "quorlix_failure.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using quorlix_test::RunInChild;

quorlix_failure Last() {
  quorlix_failure failure{};
  quorlix_last_failure(&failure);
  return failure;
}

// A failure as a child's exit code, and back.
constexpr int kSkipped = 250;
int CodeOf(const quorlix_failure& failure) { return failure.cause * 5 + failure.file; }
struct CauseAndFile {
  int cause;
  int file;
  bool operator==(const CauseAndFile&) const = default;
};
std::ostream& operator<<(std::ostream& out, const CauseAndFile& c) {
  return out << "cause " << c.cause << ", file " << c.file;
}

class FailureRecordTest : public quorlix_test::TempDirTest {
 protected:
  // Runs fn in a child; GTEST_SKIP when it says kSkipped.
  static std::optional<CauseAndFile> InChild(const std::function<int()>& fn) {
    const auto result = RunInChild(fn, 20);
    if (!result.bExited) ADD_FAILURE() << quorlix_test::Describe(result);
    if (!result.bExited || result.nCode == kSkipped) return std::nullopt;
    return CauseAndFile{result.nCode / 5, result.nCode % 5};
  }
  // In a child of its own mount namespace, a tmpfs with these options at "mnt".
  static bool MountPrivateTmpfs(const std::string& at, const char* options) {
    return ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount("tmpfs", at.c_str(), "tmpfs", 0, options) == 0;
  }
};

TEST_F(FailureRecordTest, MissingFilesAndFoldersAreToldApart) {
  const std::string in = WriteFile("in.txt", "a\nb\n");
  EXPECT_EQ(CvtCRLF(PathOf("gone.txt").c_str(), PathOf("out.txt").c_str(), 0), QUORLIX_CRLF_INPUT_NOT_FOUND);
  quorlix_failure failure = Last();
  EXPECT_EQ(failure.status, QUORLIX_CRLF_INPUT_NOT_FOUND);
  EXPECT_EQ(failure.cause, QUORLIX_CAUSE_NOT_FOUND);
  EXPECT_EQ(failure.error_number, ENOENT);
  EXPECT_EQ(failure.file, QUORLIX_FAILED_FILE_INPUT);
  EXPECT_EQ(failure.operation, QUORLIX_OPERATION_OPEN_FOR_READ);

  EXPECT_EQ(CvtCRLF(in.c_str(), PathOf("gone/out.txt").c_str(), 0), QUORLIX_CRLF_OUTPUT_ERROR);
  failure = Last();
  EXPECT_EQ(failure.cause, QUORLIX_CAUSE_FOLDER_MISSING);
  EXPECT_EQ(failure.file, QUORLIX_FAILED_FILE_OUTPUT);
  EXPECT_EQ(failure.operation, QUORLIX_OPERATION_CREATE);

  // A file where a folder belongs, on the schedule output.
  EXPECT_EQ(CvtDecodeFiling(in.c_str(), PathOf("text.txt").c_str(), (in + "/schedule.txt").c_str()),
            QUORLIX_FILING_FILE_ERROR);
  failure = Last();
  EXPECT_EQ(failure.cause, QUORLIX_CAUSE_NOT_A_FOLDER);
  EXPECT_EQ(failure.error_number, ENOTDIR);
  EXPECT_EQ(failure.file, QUORLIX_FAILED_FILE_OUTPUT2);

  EXPECT_EQ(CvtVerifyFile(""), QUORLIX_VERIFY_UNKNOWN_SUFFIX);
  EXPECT_EQ(Last().cause, QUORLIX_CAUSE_NONE);  // no file was opened
  EXPECT_EQ(CvtDelimitedFile("", "\n", ",", PathOf("o.csv").c_str(), ";", "\n"), QUORLIX_DELIMITED_INPUT_ERROR);
  EXPECT_EQ(Last().cause, QUORLIX_CAUSE_EMPTY_NAME);
}

TEST_F(FailureRecordTest, FoldersAndSpecialFilesAreNamed) {
  const std::string in = WriteFile("in.txt", "a\r\n");
  fs::create_directory(PathOf("folder.txt"));
  EXPECT_EQ(CvtCRLF(PathOf("folder.txt").c_str(), PathOf("out.txt").c_str(), 0), QUORLIX_CRLF_INPUT_ERROR);
  EXPECT_EQ(Last().cause, QUORLIX_CAUSE_IS_FOLDER);
  EXPECT_EQ(Last().file, QUORLIX_FAILED_FILE_INPUT);
  EXPECT_EQ(CvtHTMLtoText(WriteFile("p.htm", "<BODY>x</BODY>").c_str(), PathOf("folder.txt").c_str(), 0),
            QUORLIX_HTML_OUTPUT_ERROR);
  EXPECT_EQ(Last().cause, QUORLIX_CAUSE_IS_FOLDER);
  EXPECT_EQ(Last().error_number, EISDIR);
  EXPECT_EQ(Last().file, QUORLIX_FAILED_FILE_OUTPUT);

  ASSERT_EQ(::mkfifo(PathOf("pipe.gif").c_str(), 0600), 0);
  EXPECT_EQ(CvtVerifyFile(PathOf("pipe.gif").c_str()), QUORLIX_VERIFY_FILE_ERROR);
  EXPECT_EQ(Last().cause, QUORLIX_CAUSE_SPECIAL_FILE);
  EXPECT_EQ(Last().file, QUORLIX_FAILED_FILE_INPUT);
  // A FIFO without a reader as the output: refused at once, ENXIO.
  EXPECT_EQ(CvtDelimitedFile(in.c_str(), "\r\n", ",", PathOf("pipe.gif").c_str(), ";", "\n"),
            QUORLIX_DELIMITED_OUTPUT_ERROR);
  EXPECT_EQ(Last().cause, QUORLIX_CAUSE_SPECIAL_FILE);
  EXPECT_EQ(Last().error_number, ENXIO);
  EXPECT_EQ(Last().file, QUORLIX_FAILED_FILE_OUTPUT);
}

TEST_F(FailureRecordTest, OutputsNamingTheInputOrOneFile) {
  const std::string in = WriteFile("a.csv", "a,b\r\n");
  EXPECT_EQ(CvtDelimitedFile(in.c_str(), "\r\n", ",", PathOf("./a.csv").c_str(), ";", "\n"),
            QUORLIX_DELIMITED_OUTPUT_ERROR);
  EXPECT_EQ(Last().cause, QUORLIX_CAUSE_OUTPUT_IS_INPUT);
  EXPECT_EQ(Last().file, QUORLIX_FAILED_FILE_OUTPUT);
  EXPECT_EQ(CvtDecodeFiling(in.c_str(), PathOf("t.txt").c_str(), in.c_str()), QUORLIX_FILING_FILE_ERROR);
  EXPECT_EQ(Last().cause, QUORLIX_CAUSE_OUTPUT_IS_INPUT);
  EXPECT_EQ(Last().file, QUORLIX_FAILED_FILE_OUTPUT2);
  EXPECT_EQ(CvtDecodeFiling(in.c_str(), PathOf("t.txt").c_str(), PathOf("./t.txt").c_str()), QUORLIX_FILING_FILE_ERROR);
  EXPECT_EQ(Last().cause, QUORLIX_CAUSE_OUTPUTS_ARE_ONE_FILE);
  // In place is allowed for the line ends: success, and the record is empty again.
  EXPECT_EQ(CvtCRLF(in.c_str(), in.c_str(), 0), QUORLIX_OK);
  const quorlix_failure failure = Last();
  EXPECT_EQ(failure.status, 0);
  EXPECT_EQ(failure.cause, QUORLIX_CAUSE_NONE);
  EXPECT_EQ(failure.file, QUORLIX_FAILED_FILE_NONE);
}

TEST_F(FailureRecordTest, VerifyTellsWhatItWantedAndFound) {
  EXPECT_EQ(CvtVerifyFile(WriteFile("icon.gif", "\x89PNG\r\n").c_str()), QUORLIX_VERIFY_MISMATCH);
  quorlix_failure failure = Last();
  EXPECT_EQ(failure.status, QUORLIX_VERIFY_MISMATCH);
  EXPECT_EQ(failure.cause, QUORLIX_CAUSE_SIGNATURE_MISMATCH);
  EXPECT_EQ(failure.file, QUORLIX_FAILED_FILE_INPUT);
  EXPECT_EQ(failure.error_number, 0);
  EXPECT_STREQ(failure.wanted, R"(begins with "GIF" (in any case))");
  EXPECT_STREQ(failure.found, R"("\x89PN")");
  EXPECT_STREQ(failure.detail, R"(does not begin with "GIF" (in any case) but "\x89PN")");

  EXPECT_EQ(CvtVerifyFile(WriteFile("short.mov", "ab").c_str()), QUORLIX_VERIFY_MISMATCH);
  EXPECT_STREQ(Last().found, "the file has 2 bytes");
  EXPECT_EQ(CvtVerifyFile(WriteFile("empty.bmp", "").c_str()), QUORLIX_VERIFY_MISMATCH);
  EXPECT_STREQ(Last().detail, R"(does not begin with "BM" or "IC"; the file is empty)");

  // A text's pair split across the scan's 64 KiB blocks is found; without one the
  // line ends are counted over every block.
  std::string text(64 * 1024 - 1, 'x');
  EXPECT_EQ(CvtVerifyFile(WriteFile("split.txt", text + "\r\n").c_str()), QUORLIX_OK);
  EXPECT_EQ(Last().cause, QUORLIX_CAUSE_NONE);
  text += "\n\n" + std::string(70000, 'y') + "\n";
  EXPECT_EQ(CvtVerifyFile(WriteFile("lf.txt", text).c_str()), QUORLIX_VERIFY_MISMATCH);
  EXPECT_STREQ(Last().wanted, "a CR LF pair");
  EXPECT_STREQ(Last().detail, ("no CR LF pair in " + std::to_string(text.size()) +
                               " bytes; 3 lines end in LF alone, the first at byte 65535")
                                  .c_str());
  // A tag in the wrong case, split across blocks too.
  const std::string page = std::string(64 * 1024 - 2, ' ') + "<hTmL lang=en>";
  EXPECT_EQ(CvtVerifyFile(WriteFile("page.htm", page).c_str()), QUORLIX_VERIFY_MISMATCH);
  EXPECT_STREQ(Last().detail, R"(no tag beginning "<HTML" (upper case); it writes "<hTmL")");
}

TEST_F(FailureRecordTest, LowerCaseBodyAndTheLineEndLimit) {
  EXPECT_EQ(CvtHTMLtoText(WriteFile("p.htm", "<html><body>x</body></html>").c_str(), PathOf("p.txt").c_str(), 0),
            QUORLIX_HTML_NO_BODY);
  EXPECT_EQ(Last().cause, QUORLIX_CAUSE_LOWER_CASE_BODY);
  EXPECT_EQ(CvtHTMLtoText(WriteFile("q.htm", "<P>x</P>").c_str(), PathOf("q.txt").c_str(), 0), QUORLIX_HTML_NO_BODY);
  EXPECT_EQ(Last().cause, QUORLIX_CAUSE_NONE);

  const std::string big = PathOf("big.txt");
  fs::resize_file(WriteFile("big.txt", ""), 0x80000000);  // sparse: refused by its length, never read
  EXPECT_EQ(CvtCRLF(big.c_str(), PathOf("out.txt").c_str(), 0), QUORLIX_CRLF_PASS_FAILED);
  const quorlix_failure failure = Last();
  EXPECT_EQ(failure.cause, QUORLIX_CAUSE_INPUT_TOO_LARGE);
  EXPECT_EQ(failure.file, QUORLIX_FAILED_FILE_INPUT);
  EXPECT_EQ(failure.input_bytes, 0x80000000u);
  EXPECT_EQ(failure.limit_bytes, 0x7FFFFFFFu);
  EXPECT_STREQ(failure.detail, "2147483648 bytes, more than the line-end conversion takes (2147483647 bytes)");
  EXPECT_FALSE(quorlix_test::FileExists(PathOf("out.txt")));
}

// Each thread keeps its own record: a success elsewhere leaves it as it was.
TEST_F(FailureRecordTest, TheRecordIsTheCallingThreads) {
  EXPECT_EQ(CvtVerifyFile(PathOf("gone.gif").c_str()), QUORLIX_VERIFY_NOT_FOUND);
  const std::string good = WriteFile("good.gif", "GIF89a");
  int otherCause = -1;
  std::thread([&] {
    otherCause = Last().cause;
    CvtVerifyFile(good.c_str());
  }).join();
  EXPECT_EQ(otherCause, QUORLIX_CAUSE_NONE);
  EXPECT_EQ(Last().cause, QUORLIX_CAUSE_NOT_FOUND);
  EXPECT_EQ(quorlix_last_failure(nullptr), 0);
  EXPECT_EQ(CvtDLLVersion(), QUORLIX_DLL_VERSION);
  EXPECT_EQ(Last().status, 0);  // every export starts the record afresh
}

TEST_F(FailureRecordTest, TooManyOpenFiles) {
  const std::string in = WriteFile("in.txt", "a\r\n");
  // The warm-up fails a call too, so that what a failure first loads (the
  // sanitizers check a thrown object's type through a pipe) is loaded while
  // descriptors are left.
  const int code = quorlix_test::StatusWithDescriptorsLeft(
      0,
      [&] {
        CvtVerifyFile(in.c_str());
        CvtVerifyFile((in + ".missing.txt").c_str());
      },
      [&] {
        CvtVerifyFile(in.c_str());
        return CodeOf(Last());
      });
  if (code == quorlix_test::kNoDescriptorsSetUpFailed) GTEST_SKIP() << "no descriptor limit here";
  EXPECT_EQ(code, QUORLIX_CAUSE_TOO_MANY_OPEN_FILES * 5 + QUORLIX_FAILED_FILE_INPUT);
}

// Run by root, the call runs as nobody, for whom file modes bind, in a folder
// under /tmp that nobody can reach.
TEST_F(FailureRecordTest, NoPermissionOnTheFileAndInItsFolder) {
  std::string folder = "/tmp/quorlix-failure-XXXXXX";
  ASSERT_NE(::mkdtemp(folder.data()), nullptr);
  ::chmod(folder.c_str(), 0755);
  const std::string in = folder + "/in.txt", kept = folder + "/kept.txt", locked = folder + "/locked";
  std::filesystem::copy_file(WriteFile("in.txt", "a\n"), in);
  std::filesystem::copy_file(in, kept);
  ::chmod(in.c_str(), 0644);
  ::chmod(kept.c_str(), 0444);
  fs::create_directory(locked);
  ::chmod(locked.c_str(), 0555);
  const auto asNobody = [](const std::function<int()>& call) {
    return [call] {
      if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return kSkipped;
      return call();
    };
  };
  const auto file = InChild(asNobody([&] {
    CvtCRLF(in.c_str(), kept.c_str(), 0);
    return CodeOf(Last());
  }));
  const auto inFolder = InChild(asNobody([&] {
    CvtHTMLtoText((folder + "/x.htm").c_str(), (locked + "/x.txt").c_str(), 0);  // the input is missing first
    CvtDecodeFiling(in.c_str(), (locked + "/text.txt").c_str(), (folder + "/s.txt").c_str());
    return CodeOf(Last());
  }));
  std::filesystem::remove_all(folder);
  if (!file || !inFolder) GTEST_SKIP() << "the call cannot run as another user here";
  EXPECT_EQ(*file, (CauseAndFile{QUORLIX_CAUSE_NO_PERMISSION, QUORLIX_FAILED_FILE_OUTPUT}));
  EXPECT_EQ(*inFolder, (CauseAndFile{QUORLIX_CAUSE_NO_PERMISSION_IN_FOLDER, QUORLIX_FAILED_FILE_OUTPUT}));
}

TEST_F(FailureRecordTest, ReadOnlyAndFullFileSystems) {
  const std::string in = WriteFile("in.txt", std::string(200 * 1024, 'x') + "\n");
  fs::create_directory(PathOf("mnt"));
  const std::string mnt = PathOf("mnt");
  const auto readOnly = InChild([&] {
    if (!MountPrivateTmpfs(mnt, "ro,size=64k")) return kSkipped;
    CvtCRLF(in.c_str(), (mnt + "/out.txt").c_str(), 0);
    return CodeOf(Last());
  });
  const auto full = InChild([&] {
    if (!MountPrivateTmpfs(mnt, "size=64k")) return kSkipped;
    CvtDecodeFiling(in.c_str(), (mnt + "/text.txt").c_str(), PathOf("schedule.txt").c_str());
    return CodeOf(Last());
  });
  if (!readOnly || !full) GTEST_SKIP() << "no private mount here";
  EXPECT_EQ(*readOnly, (CauseAndFile{QUORLIX_CAUSE_READ_ONLY_FILE_SYSTEM, QUORLIX_FAILED_FILE_OUTPUT}));
  EXPECT_EQ(*full, (CauseAndFile{QUORLIX_CAUSE_NO_SPACE, QUORLIX_FAILED_FILE_OUTPUT}));
}

// The process's file size limit, met by a new output as it is written and by an
// output in place before a byte of it changes.
TEST_F(FailureRecordTest, FileTooLarge) {
  const std::string in = WriteFile("in.txt", std::string(100 * 1024, '\n'));
  const auto limited = [](const std::function<void()>& call) {
    return [call] {
      const rlimit limit{64 * 1024, 64 * 1024};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return kSkipped;
      call();
      return CodeOf(Last());
    };
  };
  const auto written = InChild(limited([&] { CvtCRLF(in.c_str(), PathOf("out.txt").c_str(), 0); }));
  const auto inPlace = InChild(limited([&] { CvtCRLF(in.c_str(), in.c_str(), 0); }));
  ASSERT_TRUE(written && inPlace);
  EXPECT_EQ(*written, (CauseAndFile{QUORLIX_CAUSE_FILE_TOO_LARGE, QUORLIX_FAILED_FILE_OUTPUT}));
  EXPECT_EQ(*inPlace, (CauseAndFile{QUORLIX_CAUSE_FILE_TOO_LARGE, QUORLIX_FAILED_FILE_OUTPUT}));
  EXPECT_EQ(quorlix_test::ReadFile(in).size(), 100u * 1024);
}

}  // namespace
