// The control interface: the six codes with their buffer checks, window bounds and alignment,
// the statuses and byte counts they report, and the register access each one makes.
#include <cstring>

#include "driver_rig.h"
#include "scenario_print.h"

namespace cicard_test {
namespace {

using cicard_test::PrintTo;

using sim::ResourceDescriptor;

enum class Window { kPort4At300, kPort8At301, kMemory8 };

constexpr std::uint64_t kMemoryStart = 0xD0000000;

sim::ResourceSet ResourcesFor(Window window) {
  switch (window) {
    case Window::kPort4At300:
      return PortWindow(0x300, 4);
    case Window::kPort8At301:
      return PortWindow(0x301, 8);
    case Window::kMemory8:
      return {{ResourceDescriptor::Memory(kMemoryStart, 8)}};
  }
  return {};
}

struct Request {
  const char* name;
  Window window;
  ULONG code;
  std::vector<std::uint8_t> input;
  ULONG outputLength;
  NTSTATUS status;
  ULONG_PTR information;
  // The one access that reaches the hardware on success (address relative to the window's
  // physical start) and its width.
  std::uint64_t offset;
  int width;
};

std::vector<std::uint8_t> Offset(ULONG offset, std::initializer_list<std::uint8_t> tail = {}) {
  std::vector<std::uint8_t> bytes;
  for (int shift = 0; shift < 32; shift += 8)
    bytes.push_back(static_cast<std::uint8_t>(offset >> shift));
  for (std::uint8_t byte : tail) bytes.push_back(byte);
  return bytes;
}

class ControlRequest : public CicardDriver, public ::testing::WithParamInterface<Request> {};

TEST_P(ControlRequest, AnswersWithItsStatusCountAndAccess) {
  const Request& request = GetParam();
  rig.kernel.AddPortWindow(0x300, 4);
  rig.kernel.AddPortWindow(0x301, 8);
  rig.kernel.AddMemoryWindow(kMemoryStart, 8);
  ASSERT_EQ(rig.kernel.Start(rig.adapter, ResourcesFor(request.window)), STATUS_SUCCESS);
  const auto handle = rig.OpenOrFail();
  rig.kernel.ClearAccesses();

  std::vector<std::uint8_t> output(request.outputLength + 4, 0xEE);
  const auto result = rig.kernel.Control(
      handle, request.code, request.input.data(), static_cast<ULONG>(request.input.size()),
      request.outputLength ? output.data() : nullptr, request.outputLength);
  EXPECT_EQ(result.status, request.status);
  EXPECT_EQ(result.information, request.information);
  // Nothing past the caller's buffer is ever written.
  for (std::size_t i = request.outputLength; i < output.size(); ++i) EXPECT_EQ(output[i], 0xEE);

  const auto accesses = rig.kernel.Accesses();
  if (!NT_SUCCESS(request.status)) {
    EXPECT_TRUE(accesses.empty()) << "a failed request touched a register";
    return;
  }
  ASSERT_EQ(accesses.size(), 1u);
  const bool memory = request.window == Window::kMemory8;
  const std::uint64_t start =
      memory ? kMemoryStart : (request.window == Window::kPort4At300 ? 0x300 : 0x301);
  EXPECT_EQ(accesses[0].memory, memory);
  EXPECT_EQ(accesses[0].address, start + request.offset);
  EXPECT_EQ(accesses[0].width, request.width);
}

constexpr ULONG kUnknownCode = CTL_CODE(CI_DEVICE_TYPE, 0x903, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr Window P4 = Window::kPort4At300;
constexpr Window P8 = Window::kPort8At301;
constexpr Window M8 = Window::kMemory8;

INSTANTIATE_TEST_SUITE_P(
    CicardReads, ControlRequest,
    ::testing::Values(
        Request{"ByteAtEachOffset0", P4, IOCTL_CI_READ_UCHAR, Offset(0), 4, STATUS_SUCCESS, 1, 0,
                1},
        Request{"ByteAtOffset3", P4, IOCTL_CI_READ_UCHAR, Offset(3), 4, STATUS_SUCCESS, 1, 3, 1},
        Request{"ByteAtOffset4", P4, IOCTL_CI_READ_UCHAR, Offset(4), 4, STATUS_ACCESS_VIOLATION, 0,
                0, 0},
        Request{"WordAtOffset2", P4, IOCTL_CI_READ_USHORT, Offset(2), 4, STATUS_SUCCESS, 2, 2, 2},
        Request{"WordCrossingTheEnd", P4, IOCTL_CI_READ_USHORT, Offset(3), 4,
                STATUS_ACCESS_VIOLATION, 0, 0, 0},
        Request{"WordMisaligned", P4, IOCTL_CI_READ_USHORT, Offset(1), 4, STATUS_ACCESS_VIOLATION,
                0, 0, 0},
        Request{"LongWholeWindow", P4, IOCTL_CI_READ_ULONG, Offset(0), 4, STATUS_SUCCESS, 4, 0, 4},
        Request{"LongAtOffset4", P4, IOCTL_CI_READ_ULONG, Offset(4), 4, STATUS_ACCESS_VIOLATION, 0,
                0, 0},
        Request{"HugeOffsetDoesNotWrap", P4, IOCTL_CI_READ_ULONG, Offset(0xFFFFFFFE), 4,
                STATUS_ACCESS_VIOLATION, 0, 0, 0},
        Request{"OddBaseWordAtOffset1", P8, IOCTL_CI_READ_USHORT, Offset(1), 4, STATUS_SUCCESS, 2,
                1, 2},
        Request{"OddBaseWordAtOffset0", P8, IOCTL_CI_READ_USHORT, Offset(0), 4,
                STATUS_ACCESS_VIOLATION, 0, 0, 0},
        Request{"OddBaseLongAtOffset3", P8, IOCTL_CI_READ_ULONG, Offset(3), 4, STATUS_SUCCESS, 4, 3,
                4},
        Request{"EightByteInput", P4, IOCTL_CI_READ_UCHAR, Offset(0, {0, 0, 0, 0}), 4,
                STATUS_INVALID_PARAMETER, 0, 0, 0},
        Request{"ThreeByteInput",
                P4,
                IOCTL_CI_READ_UCHAR,
                {0, 0, 0},
                4,
                STATUS_INVALID_PARAMETER,
                0,
                0,
                0},
        Request{"ByteWithoutOutput", P4, IOCTL_CI_READ_UCHAR, Offset(0), 0,
                STATUS_INVALID_PARAMETER, 0, 0, 0},
        Request{"ByteIntoOneByte", P4, IOCTL_CI_READ_UCHAR, Offset(1), 1, STATUS_SUCCESS, 1, 1, 1},
        Request{"WordIntoOneByte", P4, IOCTL_CI_READ_USHORT, Offset(0), 1, STATUS_INVALID_PARAMETER,
                0, 0, 0},
        Request{"LongIntoThreeBytes", P4, IOCTL_CI_READ_ULONG, Offset(0), 3,
                STATUS_INVALID_PARAMETER, 0, 0, 0},
        Request{"MemoryLongAtOffset4", M8, IOCTL_CI_READ_ULONG, Offset(4), 4, STATUS_SUCCESS, 4, 4,
                4},
        Request{"MemoryWordMisaligned", M8, IOCTL_CI_READ_USHORT, Offset(5), 4,
                STATUS_ACCESS_VIOLATION, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    CicardWrites, ControlRequest,
    ::testing::Values(
        Request{"ByteWithEightByteInput", P4, IOCTL_CI_WRITE_UCHAR, Offset(1, {0x5A, 0, 0, 0}), 0,
                STATUS_SUCCESS, 1, 1, 1},
        Request{"ByteWithFiveByteInput", P4, IOCTL_CI_WRITE_UCHAR, Offset(3, {0x5A}), 0,
                STATUS_SUCCESS, 1, 3, 1},
        Request{"ByteWithoutValue", P4, IOCTL_CI_WRITE_UCHAR, Offset(0), 0,
                STATUS_INVALID_PARAMETER, 0, 0, 0},
        Request{"WordWithFiveByteInput", P4, IOCTL_CI_WRITE_USHORT, Offset(0, {1}), 0,
                STATUS_INVALID_PARAMETER, 0, 0, 0},
        Request{"WordAtOffset2", P4, IOCTL_CI_WRITE_USHORT, Offset(2, {1, 2}), 0, STATUS_SUCCESS, 2,
                2, 2},
        Request{"LongWithSevenByteInput", P4, IOCTL_CI_WRITE_ULONG, Offset(0, {1, 2, 3}), 0,
                STATUS_INVALID_PARAMETER, 0, 0, 0},
        Request{"LongAtOffset0", P4, IOCTL_CI_WRITE_ULONG, Offset(0, {1, 2, 3, 4}), 0,
                STATUS_SUCCESS, 4, 0, 4},
        Request{"ByteOutsideTheWindow", P4, IOCTL_CI_WRITE_UCHAR, Offset(4, {1, 0, 0, 0}), 0,
                STATUS_ACCESS_VIOLATION, 0, 0, 0},
        Request{"OddBaseWordAtOffset0", P8, IOCTL_CI_WRITE_USHORT, Offset(0, {1, 2}), 0,
                STATUS_ACCESS_VIOLATION, 0, 0, 0},
        // A caller's output buffer shorter than the width receives no more than it holds.
        Request{"WordWithOneByteOutput", P4, IOCTL_CI_WRITE_USHORT, Offset(0, {1, 2}), 1,
                STATUS_SUCCESS, 1, 0, 2},
        Request{"LongWithThreeByteOutput", M8, IOCTL_CI_WRITE_ULONG, Offset(4, {1, 2, 3, 4}), 3,
                STATUS_SUCCESS, 3, 4, 4},
        Request{"LongWithFourByteOutput", M8, IOCTL_CI_WRITE_ULONG, Offset(4, {1, 2, 3, 4}), 4,
                STATUS_SUCCESS, 4, 4, 4},
        Request{"MemoryByteAtOffset7", M8, IOCTL_CI_WRITE_UCHAR, Offset(7, {9}), 0, STATUS_SUCCESS,
                1, 7, 1}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    CicardOtherCodes, ControlRequest,
    ::testing::Values(
        Request{"UnknownCode", P4, kUnknownCode, Offset(0), 4, STATUS_INVALID_PARAMETER, 0, 0, 0},
        Request{"OtherDeviceType", P4, CTL_CODE(0x22u, 0x900, METHOD_BUFFERED, FILE_READ_ACCESS),
                Offset(0), 4, STATUS_INVALID_PARAMETER, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// The codes as the application knows them, by number: each must reach the access it names.
INSTANTIATE_TEST_SUITE_P(
    CicardPublishedCodes, ControlRequest,
    ::testing::Values(
        Request{"ReadByte", P4, 0x9C416400, Offset(1), 4, STATUS_SUCCESS, 1, 1, 1},
        Request{"ReadWord", P4, 0x9C416404, Offset(2), 4, STATUS_SUCCESS, 2, 2, 2},
        Request{"ReadLong", P4, 0x9C416408, Offset(0), 4, STATUS_SUCCESS, 4, 0, 4},
        Request{"WriteByte", P4, 0x9C41A440, Offset(2, {7, 0, 0, 0}), 0, STATUS_SUCCESS, 1, 2, 1},
        Request{"WriteWord", P4, 0x9C41A444, Offset(2, {7, 8}), 0, STATUS_SUCCESS, 2, 2, 2},
        Request{"WriteLong", P4, 0x9C41A448, Offset(0, {1, 2, 3, 4}), 0, STATUS_SUCCESS, 4, 0, 4}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Values travel whole, in both address spaces -----------------------------------------------

struct Space {
  const char* name;
  Window window;
};

class RegisterValues : public CicardDriver, public ::testing::WithParamInterface<Space> {};

TEST_P(RegisterValues, WhatIsWrittenReadsBackLittleEndianAtEveryWidth) {
  rig.kernel.AddPortWindow(0x301, 8);
  rig.kernel.AddMemoryWindow(kMemoryStart, 8);
  ASSERT_EQ(rig.kernel.Start(rig.adapter, ResourcesFor(GetParam().window)), STATUS_SUCCESS);
  const auto handle = rig.OpenOrFail();
  const ULONG longOffset = GetParam().window == Window::kMemory8 ? 4 : 3;
  EXPECT_EQ(rig.Write(handle, IOCTL_CI_WRITE_ULONG, longOffset, 0x11223344),
            (sim::ControlResult{STATUS_SUCCESS, 4}));
  std::uint32_t value = 0;
  EXPECT_EQ(rig.Read(handle, IOCTL_CI_READ_ULONG, longOffset, &value),
            (sim::ControlResult{STATUS_SUCCESS, 4}));
  EXPECT_EQ(value, 0x11223344u);
  value = 0;
  EXPECT_EQ(rig.Read(handle, IOCTL_CI_READ_UCHAR, longOffset + 1, &value).status, STATUS_SUCCESS);
  EXPECT_EQ(value, 0x33u) << "only the byte read is written to the output";
  EXPECT_EQ(rig.Write(handle, IOCTL_CI_WRITE_USHORT, longOffset + 2, 0xBEEF).status,
            STATUS_SUCCESS);
  EXPECT_EQ(rig.Read(handle, IOCTL_CI_READ_ULONG, longOffset, &value).status, STATUS_SUCCESS);
  EXPECT_EQ(value, 0xBEEF3344u);
}

INSTANTIATE_TEST_SUITE_P(Cicard, RegisterValues,
                         ::testing::Values(Space{"Ports", Window::kPort8At301},
                                           Space{"Memory", Window::kMemory8}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Requests in the other states --------------------------------------------------------------

TEST_F(CicardDriver, EveryFailureReportsNoBytes) {
  rig.kernel.AddPortWindow(0x300, 4);
  ASSERT_EQ(rig.kernel.Start(rig.adapter, PortWindow(0x300, 4)), STATUS_SUCCESS);
  const auto handle = rig.OpenOrFail();
  std::uint8_t input[8] = {9, 0, 0, 0, 1, 0, 0, 0};
  std::uint8_t output[8];
  for (ULONG code : {IOCTL_CI_READ_UCHAR, IOCTL_CI_READ_USHORT, IOCTL_CI_READ_ULONG,
                     IOCTL_CI_WRITE_UCHAR, IOCTL_CI_WRITE_USHORT, IOCTL_CI_WRITE_ULONG}) {
    for (ULONG inputLength : {0u, 4u, 8u}) {
      const auto result = rig.kernel.Control(handle, code, input, inputLength, output, 8);
      EXPECT_FALSE(NT_SUCCESS(result.status));
      EXPECT_EQ(result.information, 0u) << std::hex << code << " " << inputLength;
    }
  }
  EXPECT_TRUE(rig.kernel.Accesses().empty());
}

TEST_F(CicardDriver, AHandleWithoutWriteAccessCannotWrite) {
  rig.kernel.AddPortWindow(0x300, 4);
  ASSERT_EQ(rig.kernel.Start(rig.adapter, PortWindow(0x300, 4)), STATUS_SUCCESS);
  sim::Kernel::Handle reader;
  ASSERT_EQ(rig.Open(&reader, {true, false, false}), STATUS_SUCCESS);
  EXPECT_EQ(rig.Write(reader, IOCTL_CI_WRITE_UCHAR, 0, 1).status, STATUS_ACCESS_DENIED);
  EXPECT_EQ(rig.Read(reader, IOCTL_CI_READ_UCHAR, 0).status, STATUS_SUCCESS);
  sim::Kernel::Handle writer;
  ASSERT_EQ(rig.Open(&writer, {false, true, true}), STATUS_SUCCESS);
  EXPECT_EQ(rig.Read(writer, IOCTL_CI_READ_UCHAR, 0).status, STATUS_ACCESS_DENIED);
  EXPECT_EQ(rig.kernel.Accesses().size(), 1u);
}

}  // namespace
}  // namespace cicard_test
