// Pictures and sounds written by the tools people use, made in each test's folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "quorlix.h"
#include "test_support.h"

namespace {

bool HasTool(const std::string& strTool) {
  return std::system(("command -v " + strTool + " >/dev/null 2>&1").c_str()) == 0;
}

class RealFilesTest : public quorlix_test::TempDirTest {
 protected:
  // Runs a shell command in the test's folder; true when it succeeded.
  bool Run(const std::string& strCommand) const {
    return std::system(("cd '" + m_dir.string() + "' && " + strCommand + " >/dev/null 2>&1").c_str()) == 0;
  }
  int Verify(std::string_view strName) const { return CvtVerifyFile(PathOf(strName).c_str()); }
};

TEST_F(RealFilesTest, PicturesWrittenByImageMagickAgree) {
  if (!HasTool("convert")) GTEST_SKIP() << "ImageMagick's convert is missing (apt-get install imagemagick)";
  for (const std::string strName : {"p.bmp", "p.gif", "p.jpg", "p.pcx", "p.tif", "p.ico", "p.pct"}) {
    ASSERT_TRUE(Run("convert -size 16x16 gradient:red-blue " + strName)) << strName;
    EXPECT_EQ(Verify(strName), QUORLIX_OK) << strName;
  }
}

TEST_F(RealFilesTest, PicturesUnderAnotherTypesSuffixDisagree) {
  if (!HasTool("convert")) GTEST_SKIP() << "ImageMagick's convert is missing (apt-get install imagemagick)";
  // The prefix before ':' picks the format, whatever the name says.
  for (const std::string strOut :
       {"png:p.bmp", "bmp:p.gif", "gif:p.jpg", "png:p.jpg", "bmp:p.pcx", "jpg:p.tif", "gif:p.wmf"}) {
    ASSERT_TRUE(Run("convert -size 16x16 xc:green " + strOut)) << strOut;
    EXPECT_EQ(Verify(strOut.substr(strOut.find(':') + 1)), QUORLIX_VERIFY_MISMATCH) << strOut;
  }
}

TEST_F(RealFilesTest, SoundWrittenBySoxAgrees) {
  if (!HasTool("sox")) GTEST_SKIP() << "sox is missing (apt-get install sox)";
  ASSERT_TRUE(Run("sox -n -r 8000 -c 1 tone.wav synth 0.1 sine 440"));
  EXPECT_EQ(Verify("tone.wav"), QUORLIX_OK);
  ASSERT_TRUE(Run("sox -n -r 8000 -c 1 -t aiff tone_aiff.wav synth 0.1 sine 440"));
  EXPECT_EQ(Verify("tone_aiff.wav"), QUORLIX_VERIFY_MISMATCH);
  ASSERT_TRUE(Run("sox -n -r 8000 -c 1 -t wav tone.avi synth 0.1 sine 440"));
  EXPECT_EQ(Verify("tone.avi"), QUORLIX_OK);  // either RIFF form passes for either name
}

}  // namespace
