// The update image: the header texts the window shows, and the rules an image file must meet.
#include <gtest/gtest.h>

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
      // 1024-byte blocks: blocks 0 to 8 are reachable, so 8 × 8320 + 1024 bytes are needed.
      {ImageText("1024", "100", "generate:67583:1", "generate:128:2"), "InitData holds 67583"},
      {ImageText("1024", "100", "generate:67584:1", "generate:128:2"), nullptr},
      {ImageText("8320", "1000", "generate:8320:1", "generate:1000:2"), "MainData holds 1000"},
      {ImageText("8320", "1000", "generate:8320:1", "generate:1024:2"), nullptr},
      {ImageText("8320", "999999", "generate:8320:1", "generate:179328:2"), nullptr},
      {ImageText("8320", "100", "generate:8320:1", "generate:179329:2"), "more than its capacity"},
      // Areas beyond what the update can ever read are refused before they are made or read.
      {ImageText("128", "100", "generate:532608:1", "generate:128:2"), nullptr},
      {ImageText("128", "100", "generate:532609:1", "generate:128:2"), "more than its capacity"},
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

}  // namespace
