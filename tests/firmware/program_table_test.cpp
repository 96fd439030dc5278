// The adapter program table the library carries: SDCC reproduces it byte for byte, and its
// layout is what the library and the USB host rely on.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "adapter_program.h"

namespace {

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ProgramTable, CommittedTableIsWhatSdccBuildsToday) {
  const std::string built = ReadFile(BUILT_IMAGE);
  ASSERT_EQ(built.size(), cibridge::kAdapterProgramSize);
  for (std::size_t i = 0; i < built.size(); ++i) {
    ASSERT_EQ(static_cast<unsigned char>(built[i]), cibridge::kAdapterProgram[i])
        << "first difference at offset " << i
        << "; rebuild the target update_adapter_program_table";
  }
  // A missing table reads as empty: two missing files must not pass as equal.
  const std::string table = ReadFile(BUILT_TABLE);
  ASSERT_FALSE(table.empty()) << BUILT_TABLE;
  EXPECT_EQ(table, ReadFile(COMMITTED_TABLE));
}

struct Expected {
  const char* name;
  std::size_t offset;
  std::vector<unsigned char> bytes;
  friend void PrintTo(const Expected& e, std::ostream* out) { *out << e.name; }
};

class Layout : public ::testing::TestWithParam<Expected> {};

TEST_P(Layout, BytesStandAtTheirFixedOffsets) {
  const auto& e = GetParam();
  const std::vector<unsigned char> actual(cibridge::kAdapterProgram + e.offset,
                                          cibridge::kAdapterProgram + e.offset + e.bytes.size());
  EXPECT_EQ(actual, e.bytes) << e.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Layout,
    ::testing::Values(Expected{"ResetVectorIsALongJump", 0, {0x02}},
                      Expected{"DeviceDescriptor",
                               0x100,
                               {18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x0D, 0x1B, 0x10, 0x5F, 0, 0, 1, 2,
                                0, 1}},
                      Expected{"Qualifier", 0x114, {10, 6, 0x00, 0x02, 0, 0, 0, 64, 1, 0}},
                      Expected{"OtherSpeedHasNoEndpoints",
                               0x120,
                               {9, 7, 18, 0, 1, 1, 0, 0x80, 50, 9, 4, 0, 0, 0, 0xFF, 0, 0, 0}},
                      Expected{"ConfigurationHeader", 0x134, {9, 2, 41, 0, 1, 1, 0, 0x80, 250}},
                      Expected{"AlternateSettingOneHasTwoEndpoints", 0x146, {9, 4, 0, 1, 2, 0xFF}},
                      Expected{"BulkOut4", 0x14F, {7, 5, 0x04, 0x02, 0x00, 0x02, 0}},
                      Expected{"InterruptIn88", 0x156, {7, 5, 0x88, 0x03, 0x00, 0x02, 1}},
                      Expected{"LanguageString", 0x15E, {4, 3, 0x09, 0x04}},
                      Expected{"ManufacturerStringHasSevenCharacters", 0x162, {16, 3}},
                      Expected{"ProductStringHasFifteenCharacters", 0x172, {32, 3}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProgramTable, MarkerFirstOccursInTheDeviceDescriptor) {
  const unsigned char marker[] = {0x0D, 0x1B, 0x10, 0x5F};
  std::size_t first = 0;
  for (; first + 4 <= cibridge::kAdapterProgramSize; ++first)
    if (std::memcmp(cibridge::kAdapterProgram + first, marker, 4) == 0) break;
  EXPECT_EQ(first, cibridge::kAdapterIdMarkerOffset);
}

TEST(ProgramTable, UnusedBytesAreErased) {
  // The gap between the interrupt vectors and the descriptors, and the end of the image.
  for (std::size_t i = 0x80; i < 0x100; ++i) EXPECT_EQ(cibridge::kAdapterProgram[i], 0xFF) << i;
  for (std::size_t i = cibridge::kAdapterProgramSize - 64; i < cibridge::kAdapterProgramSize; ++i)
    EXPECT_EQ(cibridge::kAdapterProgram[i], 0xFF) << i;
}

}  // namespace
