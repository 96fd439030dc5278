// morvane_card.dll: the card behind the PC Card bus stand-in (sim/windows/cibus), loaded by the
// bus into Wine's kernel-driver host, the process in which cicard.sys runs. It holds a simulated
// CI module (sim/module) at the demo's pace with the update image named in the bus's "card"
// command, and it puts that module behind the window the bus handed the driver:
//
//  - port window: the driver's port instructions (in/out, inline on x64) fault in user mode; a
//    vectored exception handler decodes the instruction, serves it from the module and steps
//    past it. Where the driver imports the port routines from hal.dll (x86), the import table
//    entries are pointed at routines of ours instead.
//  - memory window: Wine's MmMapIoSpace maps nothing, so the driver's import table entries of
//    MmMapIoSpace and MmUnmapIoSpace are pointed at routines of ours that hand out a page
//    without access. Every register access faults; the handler fills the byte from the module,
//    opens the page for that one instruction (single step), carries a write to the module and
//    closes the page again.
//
// Every register access is counted; the bus's "status" command reports the counts.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include "card_model.h"
#include "ci_module.h"
#include "clock.h"
#include "demo_module.h"
#include "image_file.h"

namespace {

constexpr ULONG kPortBase = 0x1F0;
constexpr ULONGLONG kMemoryBase = 0xD0000000;
constexpr ULONGLONG kTranslatedBase = 0xFEC00000;
constexpr ULONG kWindowLength = 4;

struct Card {
  std::unique_ptr<sim::CiModule> module;
  MORVANE_CARD_PLAN plan{};
  std::uint64_t reads = 0;
  std::uint64_t writes = 0;
  int maps = 0;
  int unmaps = 0;
  bool pulled = false;             // the module was taken out
  bool goneDuringRequest = false;  // the bus's surprise removal came while a request waited
  std::uint64_t afterRemoval = 0;  // accesses that reached the window after the surprise removal
  std::string image;
};

CRITICAL_SECTION g_lock;
Card g_card;
MORVANE_CARD_UNPLUG g_unplug = nullptr;
HANDLE g_gone = nullptr;  // set by the bus's surprise removal of the child
bool g_handlerInstalled = false;

// The mapped memory window.
std::uint8_t* g_page = nullptr;
std::uint8_t* g_windowBase = nullptr;
// An access in progress on the memory window: the byte, and whether it is a write.
struct Pending {
  bool active = false;
  bool write = false;
  ULONG offset = 0;
} g_pending;

// After each access: a module that was taken out by its fault plan is a card pulled from the
// slot. The bus reports the child gone from another thread; this access waits until the
// driver has had its surprise removal, so that the removal meets a request in progress.
void AfterAccess() {
  if (g_card.pulled || g_card.module->Present()) return;
  g_card.pulled = true;
  if (g_unplug == nullptr) return;
  ResetEvent(g_gone);
  g_unplug();
  g_card.goneDuringRequest = WaitForSingleObject(g_gone, 10'000) == WAIT_OBJECT_0;
}

std::uint8_t ReadRegister(ULONG offset) {
  ++g_card.reads;
  if (g_card.goneDuringRequest) ++g_card.afterRemoval;
  const std::uint8_t value =
      offset < kWindowLength ? g_card.module->ReadRegister(static_cast<int>(offset)) : 0xFF;
  AfterAccess();
  return value;
}

void WriteRegister(ULONG offset, std::uint8_t value) {
  ++g_card.writes;
  if (g_card.goneDuringRequest) ++g_card.afterRemoval;
  if (offset < kWindowLength) g_card.module->WriteRegister(static_cast<int>(offset), value);
  AfterAccess();
}

// --- Port window. ---

bool PortInWindow(ULONG port, ULONG width) {
  return g_card.module && g_card.plan.Window == MORVANE_WINDOW_PORT && port >= kPortBase &&
         port + width <= kPortBase + kWindowLength;
}

ULONG ReadPort(ULONG port, ULONG width) {
  ULONG value = 0;
  for (ULONG i = 0; i < width; ++i) value |= ULONG{ReadRegister(port - kPortBase + i)} << (8 * i);
  return value;
}

void WritePort(ULONG port, ULONG width, ULONG value) {
  for (ULONG i = 0; i < width; ++i)
    WriteRegister(port - kPortBase + i, static_cast<std::uint8_t>(value >> (8 * i)));
}

#ifdef _WIN64
#define CONTEXT_IP(c) (c)->Rip
#define CONTEXT_AX(c) (c)->Rax
#define CONTEXT_DX(c) (c)->Rdx
#else
#define CONTEXT_IP(c) (c)->Eip
#define CONTEXT_AX(c) (c)->Eax
#define CONTEXT_DX(c) (c)->Edx
#endif

// in al/ax/eax, dx or imm8 (E4, E5, EC, ED) and out (E6, E7, EE, EF), with the operand-size
// prefix 66 for the 16-bit forms. Returns false for every other instruction.
bool EmulatePortInstruction(CONTEXT* context) {
  const auto* code = reinterpret_cast<const std::uint8_t*>(CONTEXT_IP(context));
  ULONG length = 0;
  bool wide16 = false;
  if (code[0] == 0x66) {
    wide16 = true;
    length = 1;
  }
  const std::uint8_t opcode = code[length++];
  ULONG port = 0;
  switch (opcode) {
    case 0xE4:
    case 0xE5:
    case 0xE6:
    case 0xE7:
      port = code[length++];
      break;
    case 0xEC:
    case 0xED:
    case 0xEE:
    case 0xEF:
      port = static_cast<ULONG>(CONTEXT_DX(context) & 0xFFFF);
      break;
    default:
      return false;
  }
  const ULONG width = (opcode & 1) == 0 ? 1 : (wide16 ? 2 : 4);
  const bool input = (opcode & 2) == 0;
  EnterCriticalSection(&g_lock);
  if (!PortInWindow(port, width)) {
    LeaveCriticalSection(&g_lock);
    return false;
  }
  if (input) {
    const ULONG value = ReadPort(port, width);
    const ULONG_PTR mask = width == 4 ? 0xFFFFFFFFu : (width == 2 ? 0xFFFFu : 0xFFu);
    // A 32-bit result clears the upper half of RAX, as the processor does.
    if (width == 4)
      CONTEXT_AX(context) = value;
    else
      CONTEXT_AX(context) = (CONTEXT_AX(context) & ~mask) | value;
  } else {
    WritePort(port, width, static_cast<ULONG>(CONTEXT_AX(context)));
  }
  LeaveCriticalSection(&g_lock);
  CONTEXT_IP(context) += length;
  return true;
}

// --- Memory window. ---

constexpr DWORD kTrapFlag = 0x100;

LONG CALLBACK Handler(EXCEPTION_POINTERS* pointers) {
  EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  CONTEXT* context = pointers->ContextRecord;
  switch (record->ExceptionCode) {
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_ACCESS_VIOLATION: {
      auto* address = record->NumberParameters >= 2
                          ? reinterpret_cast<std::uint8_t*>(record->ExceptionInformation[1])
                          : nullptr;
      const bool inPage = record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION &&
                          g_page != nullptr && address >= g_page && address < g_page + 4096;
      if (!inPage) {
        return EmulatePortInstruction(context) ? EXCEPTION_CONTINUE_EXECUTION
                                               : EXCEPTION_CONTINUE_SEARCH;
      }
      EnterCriticalSection(&g_lock);  // left at the single step that ends this access
      DWORD old = 0;
      VirtualProtect(g_page, 4096, PAGE_READWRITE, &old);
      const ULONG offset = static_cast<ULONG>(address - g_windowBase);
      g_pending = {true, record->ExceptionInformation[0] == 1, offset};
      if (!g_pending.write) *address = ReadRegister(offset);
      context->EFlags |= kTrapFlag;
      return EXCEPTION_CONTINUE_EXECUTION;
    }
    case EXCEPTION_SINGLE_STEP: {
      if (!g_pending.active) return EXCEPTION_CONTINUE_SEARCH;
      if (g_pending.write) WriteRegister(g_pending.offset, g_windowBase[g_pending.offset]);
      g_pending.active = false;
      DWORD old = 0;
      VirtualProtect(g_page, 4096, PAGE_NOACCESS, &old);
      context->EFlags &= ~kTrapFlag;
      LeaveCriticalSection(&g_lock);
      return EXCEPTION_CONTINUE_EXECUTION;
    }
    default:
      return EXCEPTION_CONTINUE_SEARCH;
  }
}

PVOID NTAPI MapIoSpace(LARGE_INTEGER physical, SIZE_T length, int /*caching*/) {
  EnterCriticalSection(&g_lock);
  ++g_card.maps;
  const ULONGLONG expected =
      g_card.plan.Window == MORVANE_WINDOW_MEMORY ? kMemoryBase : kTranslatedBase;
  PVOID result = nullptr;
  if (g_page == nullptr && static_cast<ULONGLONG>(physical.QuadPart) == expected &&
      length <= kWindowLength) {
    g_page = static_cast<std::uint8_t*>(
        VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS));
    g_windowBase = g_page;
    result = g_page;
  }
  LeaveCriticalSection(&g_lock);
  return result;
}

VOID NTAPI UnmapIoSpace(PVOID base, SIZE_T) {
  EnterCriticalSection(&g_lock);
  ++g_card.unmaps;
  if (base != nullptr && base == g_windowBase) {
    VirtualFree(g_page, 0, MEM_RELEASE);
    g_page = g_windowBase = nullptr;
  }
  LeaveCriticalSection(&g_lock);
}

// The port routines of hal.dll, for a driver that imports them (x86).
template <typename T>
T NTAPI HalRead(T* port) {
  EnterCriticalSection(&g_lock);
  const auto number = static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(port));
  const T value =
      PortInWindow(number, sizeof(T)) ? static_cast<T>(ReadPort(number, sizeof(T))) : T(~T(0));
  LeaveCriticalSection(&g_lock);
  return value;
}
template <typename T>
VOID NTAPI HalWrite(T* port, T value) {
  EnterCriticalSection(&g_lock);
  const auto number = static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(port));
  if (PortInWindow(number, sizeof(T))) WritePort(number, sizeof(T), value);
  LeaveCriticalSection(&g_lock);
}

// Points the import table entry of `function` from `library` in `image` at `replacement`.
bool ReplaceImport(std::uint8_t* image, const char* library, const char* function,
                   void* replacement) {
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(image);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) return false;
  for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(image + directory.VirtualAddress);
       entry->Name != 0; ++entry) {
    if (_stricmp(reinterpret_cast<const char*>(image + entry->Name), library) != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(image + entry->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(image + entry->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(image + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
      DWORD old = 0;
      VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE, &old);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), old, &old);
      return true;
    }
  }
  return false;
}

void TakeOverDriver(void* driverImage) {
  auto* image = static_cast<std::uint8_t*>(driverImage);
  if (image == nullptr ||
      reinterpret_cast<IMAGE_DOS_HEADER*>(image)->e_magic != IMAGE_DOS_SIGNATURE)
    image = reinterpret_cast<std::uint8_t*>(GetModuleHandleA("cicard.sys"));
  if (image == nullptr) return;
  ReplaceImport(image, "ntoskrnl.exe", "MmMapIoSpace", reinterpret_cast<void*>(&MapIoSpace));
  ReplaceImport(image, "ntoskrnl.exe", "MmUnmapIoSpace", reinterpret_cast<void*>(&UnmapIoSpace));
  ReplaceImport(image, "hal.dll", "READ_PORT_UCHAR", reinterpret_cast<void*>(&HalRead<UCHAR>));
  ReplaceImport(image, "hal.dll", "READ_PORT_USHORT", reinterpret_cast<void*>(&HalRead<USHORT>));
  ReplaceImport(image, "hal.dll", "READ_PORT_ULONG", reinterpret_cast<void*>(&HalRead<ULONG>));
  ReplaceImport(image, "hal.dll", "WRITE_PORT_UCHAR", reinterpret_cast<void*>(&HalWrite<UCHAR>));
  ReplaceImport(image, "hal.dll", "WRITE_PORT_USHORT", reinterpret_cast<void*>(&HalWrite<USHORT>));
  ReplaceImport(image, "hal.dll", "WRITE_PORT_ULONG", reinterpret_cast<void*>(&HalWrite<ULONG>));
}

void Reply(char* reply, unsigned long size, const std::string& text) {
  if (size == 0) return;
  std::snprintf(reply, size, "%s", text.c_str());
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    InitializeCriticalSection(&g_lock);
    g_gone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  return TRUE;
}

// Options: ids=<hardware ID>[;<hardware ID>...], image=<update image file>,
// window=port|memory|port-as-memory, cards=0|1|2,
// silent-at=<n>, answer-at=<n>:<hex>, remove-at=<n> (messages counted from 1).
__declspec(dllexport) int __stdcall MorvaneCardConfigure(const char* command,
                                                         MORVANE_CARD_PLAN* plan,
                                                         MORVANE_CARD_UNPLUG unplug, char* reply,
                                                         unsigned long size) {
  Card card;
  card.plan = {1, MORVANE_WINDOW_PORT, kPortBase, 0, kWindowLength, {}};
  int silentAt = 0, removeAt = 0, answerAt = 0;
  std::string answer;
  std::istringstream words(command);
  for (std::string word; words >> word;) {
    const auto equals = word.find('=');
    const std::string key = word.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : word.substr(equals + 1);
    if (key == "window" && value == "port") {
      card.plan.Window = MORVANE_WINDOW_PORT;
    } else if (key == "window" && value == "memory") {
      card.plan.Window = MORVANE_WINDOW_MEMORY;
      card.plan.Memory = kMemoryBase;
    } else if (key == "window" && value == "port-as-memory") {
      card.plan.Window = MORVANE_WINDOW_PORT_AS_MEMORY;
      card.plan.Memory = kTranslatedBase;
    } else if (key == "cards" && (value == "0" || value == "1" || value == "2")) {
      card.plan.Cards = static_cast<unsigned long>(value[0] - '0');
    } else if (key == "ids" && !value.empty() && value.size() + 2 < 256) {
      // "A;B" becomes the multi-string "A\0B\0\0".
      std::size_t n = 0;
      for (char c : value) card.plan.HardwareIds[n++] = c == ';' ? L'\0' : static_cast<wchar_t>(c);
      card.plan.HardwareIds[n++] = L'\0';
      card.plan.HardwareIds[n] = L'\0';
    } else if (key == "image") {
      card.image = value;
    } else if (key == "silent-at") {
      silentAt = std::atoi(value.c_str());
    } else if (key == "remove-at") {
      removeAt = std::atoi(value.c_str());
    } else if (key == "answer-at" && value.find(':') != std::string::npos) {
      answerAt = std::atoi(value.c_str());
      answer = value.substr(value.find(':') + 1);
    } else {
      Reply(reply, size, "error: unknown option " + word);
      return 0;
    }
  }
  if (card.image.empty() || card.plan.HardwareIds[0] == 0) {
    Reply(reply, size, "error: image= and ids= are needed");
    return 0;
  }
  try {
    const image::ImageFile file = image::ReadImage(card.image);
    card.module = std::make_unique<sim::CiModule>(
        platform::SystemClock(),
        sim::ModuleImage::FromUpdate(file.InitData.data(), file.InitData.size(), file.InitDataSize,
                                     file.MainData.data(), file.MainData.size(),
                                     file.MainDataSize));
  } catch (const std::exception& error) {
    Reply(reply, size, std::string("error: ") + error.what());
    return 0;
  }
  card.module->SetTiming(kDemoModulePace);
  if (silentAt > 0) card.module->SilenceAt(silentAt);
  if (removeAt > 0) card.module->RemoveAt(removeAt);
  if (answerAt > 0) card.module->AnswerAt(answerAt, answer);

  if (!g_handlerInstalled) {
    AddVectoredExceptionHandler(1, Handler);
    g_handlerInstalled = true;
  }
  EnterCriticalSection(&g_lock);
  g_card = std::move(card);
  g_unplug = unplug;
  LeaveCriticalSection(&g_lock);
  *plan = g_card.plan;
  Reply(reply, size, "ok");
  return 1;
}

__declspec(dllexport) void __stdcall MorvaneCardStarted(unsigned long slot, void* driverImage) {
  if (slot == 0) TakeOverDriver(driverImage);
}

__declspec(dllexport) void __stdcall MorvaneCardGone(unsigned long slot) {
  if (slot == 0 && g_gone != nullptr) SetEvent(g_gone);
}

__declspec(dllexport) void __stdcall MorvaneCardStatus(char* text, unsigned long size) {
  EnterCriticalSection(&g_lock);
  std::ostringstream out;
  if (!g_card.module) {
    out << "card=none";
  } else {
    const sim::CiModule& module = *g_card.module;
    out << "card=" << (module.Present() ? "present" : "pulled") << " reads=" << g_card.reads
        << " writes=" << g_card.writes << " accesses=" << g_card.reads + g_card.writes
        << " messages=" << module.MessageCount()
        << " intact=" << (module.ReceivedImageIntact() ? "yes" : "no")
        << " programmed=" << (module.Programmed() ? "yes" : "no") << " maps=" << g_card.maps
        << " unmaps=" << g_card.unmaps
        << " gone-during-request=" << (g_card.goneDuringRequest ? "yes" : "no")
        << " after-removal=" << g_card.afterRemoval;
  }
  LeaveCriticalSection(&g_lock);
  Reply(text, size, out.str());
}

}  // extern "C"
