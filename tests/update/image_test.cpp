// The update image: the header texts the window shows, and the rules an image file must meet.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "Datas.h"
#include "image_file.h"

namespace {

struct TitleCase {
  const char* title;
  const char* shown;
};

TEST(TitleWithVersion, PutsOneVBeforeTheFirstVersionNumber) {
  const TitleCase cases[] = {
      {"Granit 1.22", "Granit V1.22"},  {"Granit V1.22", "Granit V1.22"},
      {"Granit v1.22", "Granit v1.22"}, {"1.22 Granit", "1.22 Granit"},
      {"Granit 1.2", "Granit 1.2"},     {"Feder 2.10 1.22", "Feder V2.10 1.22"},
      {"QX12.345", "QX1V2.345"},        {"", ""},
      {"A1.2x3.45", "A1.2xV3.45"},      {"x1.22", "xV1.22"},
  };
  for (const auto& c : cases) EXPECT_EQ(TitleWithVersion(c.title), c.shown) << c.title;
}

struct HeaderCase {
  const char* title;
  const char* vendor;
  const char* note;
  bool publicBuild;
  HeaderTexts expected;
};

TEST(MainWindowHeader, FollowsTheVendorNoteAndBuildRules) {
  const HeaderCase cases[] = {
      {"Granit 1.22", "BRIVON", "", true, {"Granit V1.22", false, "", false}},
      {"", "BRIVON", "", true, {"Morvane Update", false, "", false}},
      {"X", "Acme TV", "a note", true, {"X", true, "Acme TV", false}},
      {"X", "", "a note", true, {"X", true, "a note", false}},
      {"X", "BRIVON", "a note", false, {"X", true, "a note", true}},
      {"X", "brivon", "", true, {"X", true, "brivon", false}},
  };
  for (const auto& c : cases) {
    const auto header =
        MainWindowHeader(c.title, c.vendor, c.note, c.publicBuild, "Morvane Update");
    EXPECT_EQ(header.title, c.expected.title);
    EXPECT_EQ(header.cornerVisible, c.expected.cornerVisible) << c.vendor;
    EXPECT_EQ(header.cornerLabel, c.expected.cornerLabel);
    EXPECT_EQ(header.internalBuildLine, c.expected.internalBuildLine);
  }
}

TEST(BuiltInImage, HasTheReleasedSizesAndShape) {
  EXPECT_EQ(InitDataSize, 8320);
  EXPECT_EQ(MainDataSize, 179328);
  EXPECT_EQ(InitDataLength, 8320u);
  EXPECT_EQ(MainDataLength, 179328u);
  EXPECT_EQ(ImageVendor, "BRIVON");
  EXPECT_EQ(TitleWithVersion(ImageTitle), "Granit V1.22");
  EXPECT_TRUE(PublicBuild);
}

std::string ImageText(const std::string& initSize, const std::string& mainSize,
                      const std::string& init, const std::string& main) {
  return "ImageNote=\nImageVendor=BRIVON\nImageTitle=T 1.22\nInitDataSize=" + initSize +
         "\nMainDataSize=" + mainSize + "\nInitData=" + init + "\nMainData=" + main + "\n";
}

struct RuleCase {
  std::string text;
  const char* error;  // nullptr: accepted
};

TEST(ImageRules, RefuseImagesTheUpdateCannotSend) {
  const RuleCase cases[] = {
      {ImageText("8320", "179328", "generate:8320:1", "generate:179328:2"), nullptr},
      {ImageText("0", "100", "generate:8320:1", "generate:128:2"), "InitDataSize must be positive"},
      {ImageText("200", "100", "generate:8320:1", "generate:128:2"), "multiple of 128"},
      {ImageText("8448", "100", "generate:16640:1", "generate:128:2"), "at most 8320"},
      {ImageText("128", "0", "generate:8320:1", "generate:128:2"), "MainDataSize must be positive"},
      {ImageText("8320", "128", "generate:8320:1", "generate:128:2"), "more than 128"},
      {ImageText("8320", "1", "generate:8320:1", "generate:128:2"), "more than 128"},
      {ImageText("8320", "129", "generate:8320:1", "generate:256:2"), nullptr},
      {ImageText("8320", "2147483520", "generate:8320:1", "generate:179328:2"), nullptr},
      {ImageText("8320", "2147483521", "generate:8320:1", "generate:179328:2"), "at most"},
      {ImageText("8320", "2147483647", "generate:8320:1", "generate:179328:2"), "at most"},
      // 1024-byte blocks: blocks 0 to 8 are reachable, so 8 × 8320 + 1024 bytes are needed.
      {ImageText("1024", "200", "generate:67583:1", "generate:256:2"), "InitData holds 67583"},
      {ImageText("1024", "200", "generate:67584:1", "generate:256:2"), nullptr},
      {ImageText("8320", "1000", "generate:8320:1", "generate:1000:2"), "MainData holds 1000"},
      {ImageText("8320", "1000", "generate:8320:1", "generate:1024:2"), nullptr},
      {ImageText("8320", "999999", "generate:8320:1", "generate:179328:2"), nullptr},
      {ImageText("8320", "200", "generate:8320:1", "generate:179329:2"), "more than its capacity"},
      // Areas beyond what the update can ever read are refused before they are made or read.
      {ImageText("128", "200", "generate:532608:1", "generate:256:2"), nullptr},
      {ImageText("128", "200", "generate:532609:1", "generate:256:2"), "more than its capacity"},
      {ImageText("8320", "128", "generate:2000000000:1", "generate:128:2"),
       "more than its capacity"},
      {ImageText("8320", "128", "generate:8320:1", "file:/dev/zero"), "more than its capacity"},
      {ImageText("8320", "12x", "generate:8320:1", "generate:128:2"), "not an integer"},
      {ImageText("8320", "128", "nowhere", "generate:128:2"), "expected file:"},
      {ImageText("8320", "128", "file:missing.bin", "generate:128:2"), "cannot read"},
      {"ImageNote=\n", "is missing"},
      {ImageText("8320", "128", "generate:8320:1", "generate:128:2") + "ImageNote=x\n", "twice"},
      {"Colour=blue\n", "unknown key"},
  };
  for (const auto& c : cases) {
    try {
      image::CheckImage(image::ParseImage(c.text, "/nonexistent"));
      EXPECT_EQ(c.error, nullptr) << c.text;
    } catch (const image::ImageError& error) {
      ASSERT_NE(c.error, nullptr) << error.what();
      EXPECT_NE(std::string(error.what()).find(c.error), std::string::npos) << error.what();
    }
  }
}

// Runs the image tool on the demo image, its output file limited to `sizeLimit` bytes (0: no
// limit); its exit status.
int RunEmbedTool(const std::string& output, rlim_t sizeLimit) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (sizeLimit != 0) {
      ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails instead of killing
      const rlimit limit{sizeLimit, sizeLimit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 2);
    ::execl(EMBED_IMAGE_TOOL, EMBED_IMAGE_TOOL, DEMO_IMAGE, output.c_str(), nullptr);
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The last bytes of the source reach the file only when the tool closes it; a failure there
// must fail the build step too.
TEST(EmbedTool, ReportsAFailedFinalWrite) {
  const std::string output = ::testing::TempDir() + "embed_test_image.cpp";
  ASSERT_EQ(RunEmbedTool(output, 0), 0);
  const auto full = std::filesystem::file_size(output);
  std::filesystem::remove(output);
  // One byte short: every write but the one at the close fits.
  EXPECT_EQ(RunEmbedTool(output, full - 1), 1);
  EXPECT_FALSE(std::filesystem::exists(output));
}

}  // namespace
