// The HAL and the machine: register windows on the bus with the cards behind them, the
// port and register routines that reach them, and MmMapIoSpace.
#include "kernel.h"

#include "kernel_internal.h"

namespace sim {

using namespace kernel_internal;

// --- The machine -----------------------------------------------------------------------------

void Kernel::AddPortWindow(std::uint32_t firstPort, std::uint32_t length, BusCard* card) {
  std::lock_guard lock(mutex_);
  windows_.push_back({false, firstPort, length, card, std::vector<std::uint8_t>(length, 0)});
}

void Kernel::AddMemoryWindow(std::uint64_t physical, std::uint32_t length, BusCard* card) {
  std::lock_guard lock(mutex_);
  windows_.push_back({true, physical, length, card, std::vector<std::uint8_t>(length, 0)});
}

Kernel::Window* Kernel::WindowAt(bool memory, std::uint64_t address, std::size_t& offset) {
  for (Window& window : windows_) {
    if (window.memory != memory || address < window.start ||
        address - window.start >= window.length)
      continue;
    offset = static_cast<std::size_t>(address - window.start);
    return &window;
  }
  return nullptr;
}

std::uint8_t Kernel::MachineRead(bool memory, std::uint64_t address) {
  std::size_t offset = 0;
  Window* window = WindowAt(memory, address, offset);
  if (window == nullptr) return 0xFF;
  if (window->card != nullptr && offset < 4)
    return window->card->ReadRegister(static_cast<int>(offset));
  return window->latches[offset];
}

void Kernel::MachineWrite(bool memory, std::uint64_t address, std::uint8_t value) {
  std::size_t offset = 0;
  Window* window = WindowAt(memory, address, offset);
  if (window == nullptr) return;
  if (window->card != nullptr && offset < 4)
    window->card->WriteRegister(static_cast<int>(offset), value);
  else
    window->latches[offset] = value;
}

bool Kernel::PortAssigned(std::uint64_t port, int width) const {
  for (const AdapterRecord& adapter : adapters_) {
    if (!adapter.resourcesAssigned) continue;
    for (const ResourceDescriptor& d : adapter.assigned)
      if (d.translatedType == CmResourceTypePort && port >= d.translatedStart &&
          port + static_cast<std::uint64_t>(width) <= d.translatedStart + d.length)
        return true;
  }
  return false;
}

std::uint64_t Kernel::PhysicalOf(std::uintptr_t address, int width, bool& ok) {
  for (const Mapping& mapping : mappings_) {
    if (address < mapping.virtualAddress ||
        address + static_cast<std::uintptr_t>(width) > mapping.virtualAddress + mapping.length)
      continue;
    if (!mapping.live) {
      Report("register access at " + Hex(address) + " to a window that was unmapped");
      ok = false;
      return 0;
    }
    ok = true;
    return mapping.physical + (address - mapping.virtualAddress);
  }
  Report("register access at " + Hex(address) + " outside every mapped window");
  ok = false;
  return 0;
}

void Kernel::RunAccessHook(const RegisterAccess& access) {
  std::function<void(const RegisterAccess&)> hook;
  {
    std::lock_guard lock(mutex_);
    hook = accessHook_;
  }
  if (hook) hook(access);
}

bool Kernel::AccessTarget(const RegisterAccess& access, std::uint64_t& target) {
  if (t_irql > DISPATCH_LEVEL) Report("register access above DISPATCH_LEVEL");
  target = access.address;
  if (access.memory) {
    bool ok = false;
    target = PhysicalOf(static_cast<std::uintptr_t>(access.address), access.width, ok);
    return ok;
  }
  if (!PortAssigned(access.address, access.width))
    Report("port access at " + Hex(access.address) + " outside the assigned port ranges");
  return true;
}

std::uint32_t Kernel::ReadRegister(bool memory, std::uintptr_t address, int width) {
  RegisterAccess access{memory, address, width, false, 0};
  RunAccessHook(access);
  std::lock_guard lock(mutex_);
  std::uint64_t target = 0;
  if (!AccessTarget(access, target)) return 0xFFFFFFFFu >> (32 - 8 * width);
  std::uint32_t value = 0;
  for (int i = 0; i < width; ++i)
    value |= static_cast<std::uint32_t>(MachineRead(memory, target + i)) << (8 * i);
  access.address = target;
  access.value = value;
  if (recordAccesses_) accesses_.push_back(access);
  return value;
}

void Kernel::WriteRegister(bool memory, std::uintptr_t address, int width, std::uint32_t value) {
  RegisterAccess access{memory, address, width, true, value};
  RunAccessHook(access);
  std::lock_guard lock(mutex_);
  std::uint64_t target = 0;
  if (!AccessTarget(access, target)) return;
  for (int i = 0; i < width; ++i)
    MachineWrite(memory, target + i, static_cast<std::uint8_t>(value >> (8 * i)));
  access.address = target;
  if (recordAccesses_) accesses_.push_back(access);
}

std::vector<RegisterAccess> Kernel::Accesses() const {
  std::lock_guard lock(mutex_);
  return accesses_;
}

void Kernel::ClearAccesses() {
  std::lock_guard lock(mutex_);
  accesses_.clear();
}

void Kernel::RecordAccesses(bool record) {
  std::lock_guard lock(mutex_);
  recordAccesses_ = record;
}

void Kernel::SetAccessHook(std::function<void(const RegisterAccess&)> hook) {
  std::lock_guard lock(mutex_);
  accessHook_ = std::move(hook);
}

// --- Memory mapping --------------------------------------------------------------------------

void Kernel::FailMapIoSpace(int count) {
  std::lock_guard lock(mutex_);
  failMaps_ = count;
}

PVOID Kernel::MapIoSpace(PHYSICAL_ADDRESS physical, SIZE_T length, MEMORY_CACHING_TYPE cache) {
  std::lock_guard lock(mutex_);
  if (t_irql > DISPATCH_LEVEL) Report("MmMapIoSpace above DISPATCH_LEVEL");
  if (length == 0) Report("MmMapIoSpace of zero bytes");
  if (failMaps_ > 0) {
    --failMaps_;
    return nullptr;
  }
  const auto start = static_cast<std::uint64_t>(physical.QuadPart);
  Mapping mapping;
  // Same offset in the page as the physical address, as the real mapping keeps it.
  mapping.virtualAddress = nextVirtual_ + static_cast<std::uintptr_t>(start & 0xFFF);
  mapping.physical = start;
  mapping.length = length;
  mapping.cache = cache;
  mapping.live = true;
  // Addresses are never handed out twice, so a stale access cannot hit a new mapping.
  nextVirtual_ +=
      (static_cast<std::uintptr_t>(length) + 0x2000u + 0xFFFFu) & ~std::uintptr_t{0xFFFF};
  mappings_.push_back(mapping);
  return reinterpret_cast<PVOID>(mapping.virtualAddress);
}

void Kernel::UnmapIoSpace(PVOID address, SIZE_T length) {
  std::lock_guard lock(mutex_);
  const auto where = reinterpret_cast<std::uintptr_t>(address);
  for (Mapping& mapping : mappings_) {
    if (mapping.virtualAddress != where || !mapping.live) continue;
    if (mapping.length != length)
      Report("MmUnmapIoSpace length " + std::to_string(length) + " differs from the mapping's " +
             std::to_string(mapping.length));
    mapping.live = false;
    return;
  }
  Report("MmUnmapIoSpace of " + Hex(where) + ", which is not mapped");
}

std::vector<Mapping> Kernel::Mappings() const {
  std::lock_guard lock(mutex_);
  return mappings_;
}

}  // namespace sim
