// The kernel stand-in: object manager, I/O manager, PnP manager, HAL and verifier in one.
#include "kernel.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <sstream>

#include "ci_module.h"

namespace sim {
namespace {

Kernel* g_current = nullptr;
thread_local KIRQL t_irql = PASSIVE_LEVEL;

// How long the stand-in waits for something that a correct driver makes happen at once, before
// it reports the driver instead of hanging the test.
constexpr auto kPatience = std::chrono::seconds(10);

std::wstring Folded(const std::wstring& name) {
  std::wstring folded = name;
  for (auto& c : folded) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return folded;
}

std::wstring FromUnicode(PUNICODE_STRING text) {
  if (text == nullptr || text->Buffer == nullptr) return {};
  return std::wstring(text->Buffer, text->Length / sizeof(WCHAR));
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

std::string Hex(std::uint64_t value) {
  std::ostringstream out;
  out << "0x" << std::hex << std::uppercase << value;
  return out.str();
}

// Raises the calling thread's IRQL for the lifetime of the object.
class IrqlScope {
 public:
  explicit IrqlScope(KIRQL irql) : saved_(t_irql) { t_irql = irql; }
  ~IrqlScope() { t_irql = saved_; }
  IrqlScope(const IrqlScope&) = delete;
  IrqlScope& operator=(const IrqlScope&) = delete;

 private:
  KIRQL saved_;
};

// A resource list with one full descriptor, laid out as the PnP manager builds it.
class ResourceListBuffer {
 public:
  static constexpr std::size_t kDescriptorsAt =
      offsetof(CM_RESOURCE_LIST, List) +
      offsetof(CM_FULL_RESOURCE_DESCRIPTOR, PartialResourceList) +
      offsetof(CM_PARTIAL_RESOURCE_LIST, PartialDescriptors);

  ResourceListBuffer(const std::vector<ResourceDescriptor>& descriptors, std::size_t count,
                     bool translated) {
    const std::size_t size =
        kDescriptorsAt + std::max<std::size_t>(count, 1) * sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR);
    storage_.assign((size + 7) / 8, 0);
    auto* list = List();
    list->Count = 1;
    list->List[0].InterfaceType = PCMCIABus;
    list->List[0].PartialResourceList.Version = 1;
    list->List[0].PartialResourceList.Revision = 1;
    list->List[0].PartialResourceList.Count = static_cast<ULONG>(count);
    for (std::size_t i = 0; i < count; ++i) {
      const ResourceDescriptor& d = descriptors[i];
      // Addressed by bytes: the descriptors run past the declared one-element array.
      auto* out = reinterpret_cast<CM_PARTIAL_RESOURCE_DESCRIPTOR*>(
          reinterpret_cast<std::uint8_t*>(storage_.data()) + kDescriptorsAt +
          i * sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR));
      out->Type = translated ? d.translatedType : d.rawType;
      const std::uint64_t start = translated ? d.translatedStart : d.rawStart;
      switch (out->Type) {
        case CmResourceTypePort:
          out->Flags = CM_RESOURCE_PORT_IO;
          out->u.Port.Start.QuadPart = static_cast<LONGLONG>(start);
          out->u.Port.Length = d.length;
          break;
        case CmResourceTypeMemory:
          out->u.Memory.Start.QuadPart = static_cast<LONGLONG>(start);
          out->u.Memory.Length = d.length;
          break;
        case CmResourceTypeInterrupt:
          out->u.Interrupt.Level = static_cast<ULONG>(start);
          out->u.Interrupt.Vector = static_cast<ULONG>(start);
          out->u.Interrupt.Affinity = 1;
          break;
        case CmResourceTypeDma:
          out->u.Dma.Channel = static_cast<ULONG>(start);
          break;
        default:
          out->u.Generic.Start.QuadPart = static_cast<LONGLONG>(start);
          out->u.Generic.Length = d.length;
          break;
      }
    }
  }
  PCM_RESOURCE_LIST List() { return reinterpret_cast<PCM_RESOURCE_LIST>(storage_.data()); }

 private:
  std::vector<std::uint64_t> storage_;
};

}  // namespace

// --- Resource descriptors --------------------------------------------------------------------

ResourceDescriptor ResourceDescriptor::Port(std::uint32_t firstPort, ULONG length) {
  return {CmResourceTypePort, CmResourceTypePort, firstPort, firstPort, length};
}
ResourceDescriptor ResourceDescriptor::PortAsMemory(std::uint32_t firstPort, std::uint64_t physical,
                                                    ULONG length) {
  return {CmResourceTypePort, CmResourceTypeMemory, firstPort, physical, length};
}
ResourceDescriptor ResourceDescriptor::Memory(std::uint64_t physical, ULONG length) {
  return {CmResourceTypeMemory, CmResourceTypeMemory, physical, physical, length};
}
ResourceDescriptor ResourceDescriptor::Interrupt(ULONG vector) {
  return {CmResourceTypeInterrupt, CmResourceTypeInterrupt, vector, vector, 0};
}
ResourceDescriptor ResourceDescriptor::Dma(ULONG channel) {
  return {CmResourceTypeDma, CmResourceTypeDma, channel, channel, 0};
}
ResourceDescriptor ResourceDescriptor::DevicePrivate() {
  return {CmResourceTypeDevicePrivate, CmResourceTypeDevicePrivate, 0, 0, 0};
}
ResourceDescriptor ResourceDescriptor::OfType(UCHAR type) {
  return {type, type, 0, 0, 0};
}

// --- Life of the kernel ----------------------------------------------------------------------

Kernel::Kernel() {
  if (g_current != nullptr) Report("a second kernel was started while one was running");
  g_current = this;
  busDriver_ = std::make_unique<DRIVER_OBJECT>();
  for (auto& dispatch : busDriver_->MajorFunction) dispatch = &Kernel::BusDispatchOther;
  busDriver_->MajorFunction[IRP_MJ_PNP] = &Kernel::BusDispatchPnp;
  busDriver_->MajorFunction[IRP_MJ_POWER] = &Kernel::BusDispatchPower;
}

Kernel::~Kernel() {
  for (auto& worker : workers_)
    if (worker.joinable()) worker.join();
  if (g_current == this) g_current = nullptr;
}

Kernel& Kernel::Current() {
  if (g_current == nullptr) {
    // A kernel routine called with no kernel running: nothing sensible can follow.
    std::fprintf(stderr, "kernel stand-in: a kernel routine was called with no sim::Kernel\n");
    std::abort();
  }
  return *g_current;
}

void Kernel::Report(const std::string& violation) {
  std::lock_guard lock(violationsMutex_);
  violations_.push_back(violation);
}

std::vector<std::string> Kernel::Violations() const {
  std::lock_guard lock(violationsMutex_);
  return violations_;
}

void Kernel::Shutdown() {
  for (auto& worker : workers_)
    if (worker.joinable()) worker.join();
  workers_.clear();
  std::lock_guard lock(mutex_);
  for (const Mapping& mapping : mappings_)
    if (mapping.live)
      Report("mapping of " + Hex(mapping.physical) + " (" + std::to_string(mapping.length) +
             " bytes) never unmapped");
  for (const auto& [lock_, record] : removeLocks_)
    if (!record.holders.empty())
      Report(std::to_string(record.holders.size()) + " remove-lock acquisition(s) never released");
  for (const auto& [object, record] : devices_)
    if (!record->physical && !record->deleted)
      Report("device " + Narrow(record->name) + " never deleted");
}

// --- The machine -----------------------------------------------------------------------------

void Kernel::AddPortWindow(std::uint32_t firstPort, std::uint32_t length, CiModule* module) {
  std::lock_guard lock(mutex_);
  windows_.push_back({false, firstPort, length, module, std::vector<std::uint8_t>(length, 0)});
}

void Kernel::AddMemoryWindow(std::uint64_t physical, std::uint32_t length, CiModule* module) {
  std::lock_guard lock(mutex_);
  windows_.push_back({true, physical, length, module, std::vector<std::uint8_t>(length, 0)});
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
  if (window->module != nullptr && offset < 4)
    return window->module->ReadRegister(static_cast<int>(offset));
  return window->latches[offset];
}

void Kernel::MachineWrite(bool memory, std::uint64_t address, std::uint8_t value) {
  std::size_t offset = 0;
  Window* window = WindowAt(memory, address, offset);
  if (window == nullptr) return;
  if (window->module != nullptr && offset < 4)
    window->module->WriteRegister(static_cast<int>(offset), value);
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

void Kernel::FailNextAttach() {
  std::lock_guard lock(mutex_);
  failAttach_ = true;
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

// --- Objects and names -----------------------------------------------------------------------

Kernel::DeviceRecord* Kernel::RecordOf(PDEVICE_OBJECT device) const {
  auto it = devices_.find(device);
  return it == devices_.end() ? nullptr : it->second.get();
}

PDEVICE_OBJECT Kernel::TopOf(PDEVICE_OBJECT device) const {
  while (device->AttachedDevice != nullptr) device = device->AttachedDevice;
  return device;
}

Kernel::AdapterRecord* Kernel::AdapterOf(PDEVICE_OBJECT pdo) {
  for (auto& adapter : adapters_)
    if (adapter.pdo == pdo) return &adapter;
  return nullptr;
}

NTSTATUS Kernel::CreateDevice(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name,
                              DEVICE_TYPE type, ULONG characteristics, PDEVICE_OBJECT* device) {
  std::lock_guard lock(mutex_);
  if (t_irql != PASSIVE_LEVEL) Report("IoCreateDevice above PASSIVE_LEVEL");
  const std::wstring deviceName = FromUnicode(name);
  if (!deviceName.empty() && names_.count(Folded(deviceName)) != 0) {
    *device = nullptr;
    return STATUS_OBJECT_NAME_COLLISION;
  }
  auto record = std::make_unique<DeviceRecord>();
  record->object = std::make_unique<DEVICE_OBJECT>();
  record->extensionSize = extensionSize;
  record->extension = std::make_unique<std::uint64_t[]>((extensionSize + 7) / 8 + 1);  // zeroed
  record->name = deviceName;
  DEVICE_OBJECT* object = record->object.get();
  object->Type = 3;
  object->Size = sizeof(DEVICE_OBJECT);
  object->DriverObject = driver;
  object->Flags = DO_DEVICE_INITIALIZING;
  object->Characteristics = characteristics;
  object->DeviceExtension = extensionSize != 0 ? record->extension.get() : nullptr;
  object->DeviceType = type;
  object->StackSize = 1;
  object->NextDevice = driver->DeviceObject;
  driver->DeviceObject = object;
  if (!deviceName.empty()) names_[Folded(deviceName)] = object;
  devices_[object] = std::move(record);
  *device = object;
  return STATUS_SUCCESS;
}

void Kernel::DeleteDevice(PDEVICE_OBJECT device) {
  std::unique_lock lock(mutex_);
  DeviceRecord* record = RecordOf(device);
  if (record == nullptr || record->deleted) {
    Report("IoDeleteDevice of a device that does not exist");
    return;
  }
  if (record->lowerDevice != nullptr) Report("IoDeleteDevice of a device still attached");
  if (device->AttachedDevice != nullptr) Report("IoDeleteDevice with a device attached above");
  // Its remove lock, if it has one, must be drained.
  const auto* begin = reinterpret_cast<const std::uint8_t*>(record->extension.get());
  for (auto& [removeLock, lockRecord] : removeLocks_) {
    const auto* at = reinterpret_cast<const std::uint8_t*>(removeLock);
    if (at < begin || at >= begin + record->extensionSize) continue;
    if (!removeLock->Common.Removed) Report("device deleted without waiting on its remove lock");
    if (!lockRecord.holders.empty()) Report("device deleted while its remove lock is held");
  }
  for (const auto& [link, target] : links_)
    if (!record->name.empty() && Folded(target) == Folded(record->name))
      Report("device " + Narrow(record->name) + " deleted with its link " + Narrow(link) +
             " left behind");
  record->deleted = true;
  if (!record->name.empty()) names_.erase(Folded(record->name));
  // Unchain from the driver's device list.
  for (PDEVICE_OBJECT* slot = &device->DriverObject->DeviceObject; *slot != nullptr;
       slot = &(*slot)->NextDevice) {
    if (*slot == device) {
      *slot = device->NextDevice;
      break;
    }
  }
  FreeDeviceIfUnused(device);
}

void Kernel::FreeDeviceIfUnused(PDEVICE_OBJECT device) {
  DeviceRecord* record = RecordOf(device);
  if (record == nullptr || !record->deleted || record->openHandles > 0) return;
  const auto* begin = reinterpret_cast<const std::uint8_t*>(record->extension.get());
  for (auto it = removeLocks_.begin(); it != removeLocks_.end();) {
    const auto* at = reinterpret_cast<const std::uint8_t*>(it->first);
    if (at >= begin && at < begin + record->extensionSize)
      it = removeLocks_.erase(it);
    else
      ++it;
  }
  devices_.erase(device);
}

NTSTATUS Kernel::CreateSymbolicLink(PUNICODE_STRING link, PUNICODE_STRING target) {
  std::lock_guard lock(mutex_);
  const std::wstring linkName = Folded(FromUnicode(link));
  if (links_.count(linkName) != 0 || names_.count(linkName) != 0)
    return STATUS_OBJECT_NAME_COLLISION;
  links_[linkName] = FromUnicode(target);
  return STATUS_SUCCESS;
}

NTSTATUS Kernel::DeleteSymbolicLink(PUNICODE_STRING link) {
  std::lock_guard lock(mutex_);
  if (links_.erase(Folded(FromUnicode(link))) != 0) return STATUS_SUCCESS;
  // A driver deletes only the link it made, once: a second deletion could take away a link
  // that someone else has created under the same name since.
  Report("IoDeleteSymbolicLink of " + Narrow(FromUnicode(link)) + ", which does not exist");
  return STATUS_OBJECT_NAME_NOT_FOUND;
}

void Kernel::CreateForeignLink(const std::wstring& linkName, const std::wstring& target) {
  std::lock_guard lock(mutex_);
  links_[Folded(linkName)] = target;
}

bool Kernel::LinkExists(const std::wstring& linkName) const {
  std::lock_guard lock(mutex_);
  return links_.count(Folded(linkName)) != 0;
}

bool Kernel::DeviceNameExists(const std::wstring& deviceName) const {
  std::lock_guard lock(mutex_);
  return names_.count(Folded(deviceName)) != 0;
}

PDEVICE_OBJECT Kernel::AttachDevice(PDEVICE_OBJECT source, PDEVICE_OBJECT target) {
  std::lock_guard lock(mutex_);
  if (failAttach_) {
    failAttach_ = false;
    return nullptr;
  }
  DeviceRecord* sourceRecord = RecordOf(source);
  if (sourceRecord == nullptr || RecordOf(target) == nullptr) {
    Report("IoAttachDeviceToDeviceStack with an unknown device");
    return nullptr;
  }
  PDEVICE_OBJECT top = TopOf(target);
  top->AttachedDevice = source;
  source->StackSize = static_cast<CCHAR>(top->StackSize + 1);
  sourceRecord->lowerDevice = top;
  return top;
}

void Kernel::DetachDevice(PDEVICE_OBJECT target) {
  std::lock_guard lock(mutex_);
  PDEVICE_OBJECT source = target->AttachedDevice;
  if (source == nullptr) {
    Report("IoDetachDevice of a device with nothing attached");
    return;
  }
  target->AttachedDevice = nullptr;
  if (DeviceRecord* record = RecordOf(source)) record->lowerDevice = nullptr;
}

// --- Driver loading and the default dispatch -------------------------------------------------

NTSTATUS NTAPI Kernel::InvalidRequest(PDEVICE_OBJECT, PIRP irp) {
  irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
  irp->IoStatus.Information = 0;
  IofCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_INVALID_DEVICE_REQUEST;
}

NTSTATUS Kernel::LoadDriver(PDRIVER_INITIALIZE entry) {
  driver_ = std::make_unique<DRIVER_OBJECT>();
  driverExtension_ = std::make_unique<DRIVER_EXTENSION>();
  driverExtension_->DriverObject = driver_.get();
  driver_->DriverExtension = driverExtension_.get();
  for (auto& dispatch : driver_->MajorFunction) dispatch = &Kernel::InvalidRequest;
  static wchar_t registryPath[] =
      L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\cicard";
  UNICODE_STRING path;
  RtlInitUnicodeString(&path, registryPath);
  IrqlScope passive(PASSIVE_LEVEL);
  return entry(driver_.get(), &path);
}

bool Kernel::UnloadDriver() {
  if (!driver_ || driverUnloaded_ || driver_->DeviceObject != nullptr) return false;
  if (driver_->DriverUnload != nullptr) driver_->DriverUnload(driver_.get());
  driverUnloaded_ = true;
  return true;
}

// --- IRPs ------------------------------------------------------------------------------------

std::unique_ptr<Kernel::IrpRecord> Kernel::NewIrp(PDEVICE_OBJECT target) {
  auto record = std::make_unique<IrpRecord>();
  const int count = target->StackSize;
  record->stack.assign(static_cast<std::size_t>(count), IO_STACK_LOCATION{});
  IRP& irp = record->irp;
  irp.Type = 6;
  irp.Size = sizeof(IRP);
  irp.StackCount = static_cast<CCHAR>(count);
  irp.CurrentLocation = static_cast<CCHAR>(count + 1);
  irp.Tail.Overlay.CurrentStackLocation = record->stack.data() + count;
  std::lock_guard lock(mutex_);
  irps_[&irp] = record.get();
  return record;
}

NTSTATUS Kernel::CallDriver(PDEVICE_OBJECT device, PIRP irp) {
  {
    std::lock_guard lock(mutex_);
    auto it = irps_.find(irp);
    if (it == irps_.end()) {
      Report("IofCallDriver with a request the I/O manager does not know");
      return STATUS_INVALID_PARAMETER;
    }
    if (it->second->state == IrpState::kCompleted) Report("request passed on after completion");
    if (irp->CurrentLocation <= 1) {
      Report("request passed on with no stack location left");
      return STATUS_INVALID_PARAMETER;
    }
    DeviceRecord* record = RecordOf(device);
    if (record == nullptr) {
      Report("request sent to a device object that does not exist");
      return STATUS_INVALID_PARAMETER;
    }
  }
  irp->CurrentLocation--;
  irp->Tail.Overlay.CurrentStackLocation--;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  stack->DeviceObject = device;
  return device->DriverObject->MajorFunction[stack->MajorFunction](device, irp);
}

void Kernel::CompleteRequest(PIRP irp) {
  {
    std::lock_guard lock(mutex_);
    auto it = irps_.find(irp);
    if (it == irps_.end()) {
      Report("IofCompleteRequest with a request the I/O manager does not know");
      return;
    }
    if (it->second->state == IrpState::kCompleted) {
      Report("request completed twice");
      return;
    }
  }
  if (irp->IoStatus.Status == STATUS_PENDING) Report("request completed with STATUS_PENDING");
  if (t_irql > DISPATCH_LEVEL) Report("IofCompleteRequest above DISPATCH_LEVEL");
  while (irp->CurrentLocation <= irp->StackCount) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) != 0;
    const PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
    const PVOID context = stack->Context;
    const UCHAR control = stack->Control;
    stack->CompletionRoutine = nullptr;
    stack->Context = nullptr;
    irp->CurrentLocation++;
    irp->Tail.Overlay.CurrentStackLocation++;
    const NTSTATUS status = irp->IoStatus.Status;
    const bool invoke =
        routine != nullptr && ((NT_SUCCESS(status) && (control & SL_INVOKE_ON_SUCCESS)) ||
                               (!NT_SUCCESS(status) && (control & SL_INVOKE_ON_ERROR)) ||
                               (irp->Cancel && (control & SL_INVOKE_ON_CANCEL)));
    if (invoke) {
      PDEVICE_OBJECT owner = irp->CurrentLocation <= irp->StackCount
                                 ? IoGetCurrentIrpStackLocation(irp)->DeviceObject
                                 : nullptr;
      if (routine(owner, irp, context) == STATUS_MORE_PROCESSING_REQUIRED) return;
    } else if (irp->PendingReturned && irp->CurrentLocation <= irp->StackCount) {
      IoMarkIrpPending(irp);
    }
  }
  std::lock_guard lock(mutex_);
  auto it = irps_.find(irp);
  if (it != irps_.end()) it->second->state = IrpState::kCompleted;
  changed_.notify_all();
}

NTSTATUS Kernel::SendAndWait(PDEVICE_OBJECT target, IrpRecord& record, const char* what) {
  IRP* irp = &record.irp;
  NTSTATUS status;
  {
    IrqlScope passive(PASSIVE_LEVEL);
    status = CallDriver(target, irp);
  }
  std::unique_lock lock(mutex_);
  if (status == STATUS_PENDING) {
    if (!changed_.wait_for(lock, kPatience, [&] { return record.state == IrpState::kCompleted; })) {
      Report(std::string(what) + ": pending request never completed");
      irps_.erase(irp);
      return status;
    }
    if (!irp->PendingReturned)
      Report(std::string(what) + ": STATUS_PENDING returned for a request not marked pending");
    status = irp->IoStatus.Status;
  } else if (record.state != IrpState::kCompleted) {
    Report(std::string(what) + ": dispatch returned without completing the request");
  } else if (irp->PendingReturned) {
    Report(std::string(what) + ": request marked pending but answered with a final status");
  } else if (status != irp->IoStatus.Status) {
    Report(std::string(what) + ": dispatch returned " + Hex(static_cast<ULONG>(status)) +
           " but completed the request with " + Hex(static_cast<ULONG>(irp->IoStatus.Status)));
  }
  irps_.erase(irp);
  return status;
}

// --- Events and remove locks -----------------------------------------------------------------

void Kernel::InitializeEvent(PKEVENT event, EVENT_TYPE type, BOOLEAN state) {
  std::lock_guard lock(mutex_);
  event->Type = type;
  event->Signalled = state ? 1 : 0;
}

LONG Kernel::SetEvent(PKEVENT event) {
  std::lock_guard lock(mutex_);
  const LONG previous = event->Signalled;
  event->Signalled = 1;
  changed_.notify_all();
  return previous;
}

NTSTATUS Kernel::WaitForEvent(PKEVENT event) {
  if (t_irql > APC_LEVEL) Report("KeWaitForSingleObject without time-out above APC_LEVEL");
  std::unique_lock lock(mutex_);
  ++eventWaiters_;
  changed_.notify_all();
  const bool signalled = changed_.wait_for(lock, kPatience, [&] { return event->Signalled != 0; });
  --eventWaiters_;
  if (!signalled) {
    Report("wait on an event that is never signalled");
    return STATUS_UNSUCCESSFUL;
  }
  if (event->Type == SynchronizationEvent) event->Signalled = 0;
  return STATUS_SUCCESS;
}

void Kernel::InitializeRemoveLock(PIO_REMOVE_LOCK lock, ULONG tag, ULONG size) {
  std::lock_guard guard(mutex_);
  if (size != sizeof(IO_REMOVE_LOCK)) Report("remove lock initialised with a wrong size");
  if (tag == 0) Report("remove lock initialised without an allocation tag");
  lock->Common.Removed = FALSE;
  lock->Common.IoCount = 0;
  removeLocks_[lock] = RemoveLockRecord{};
}

NTSTATUS Kernel::AcquireRemoveLock(PIO_REMOVE_LOCK lock, PVOID tag, PCSTR file, ULONG size) {
  std::lock_guard guard(mutex_);
  auto it = removeLocks_.find(lock);
  if (it == removeLocks_.end()) {
    Report("IoAcquireRemoveLockEx on a lock never initialised");
    return STATUS_DELETE_PENDING;
  }
  if (size != sizeof(IO_REMOVE_LOCK)) Report("IoAcquireRemoveLockEx with a wrong size");
  if (file == nullptr) Report("IoAcquireRemoveLockEx without a source name");
  if (lock->Common.Removed) return STATUS_DELETE_PENDING;
  lock->Common.IoCount++;
  it->second.holders.insert(tag);
  return STATUS_SUCCESS;
}

void Kernel::ReleaseRemoveLock(PIO_REMOVE_LOCK lock, PVOID tag, ULONG size) {
  std::lock_guard guard(mutex_);
  if (size != sizeof(IO_REMOVE_LOCK)) Report("IoReleaseRemoveLockEx with a wrong size");
  auto it = removeLocks_.find(lock);
  auto holder =
      it == removeLocks_.end() ? std::multiset<PVOID>::iterator{} : it->second.holders.find(tag);
  if (it == removeLocks_.end() || holder == it->second.holders.end()) {
    Report("remove lock released with a tag that holds no acquisition");
    return;
  }
  it->second.holders.erase(holder);
  lock->Common.IoCount--;
  changed_.notify_all();
}

void Kernel::ReleaseRemoveLockAndWait(PIO_REMOVE_LOCK lock, PVOID tag, ULONG size) {
  if (t_irql != PASSIVE_LEVEL) Report("IoReleaseRemoveLockAndWaitEx above PASSIVE_LEVEL");
  {
    std::lock_guard guard(mutex_);
    lock->Common.Removed = TRUE;
  }
  ReleaseRemoveLock(lock, tag, size);
  std::unique_lock guard(mutex_);
  ++removalWaiters_;
  changed_.notify_all();
  if (!changed_.wait_for(guard, kPatience, [&] { return lock->Common.IoCount == 0; }))
    Report("removal waited for ever on requests holding the remove lock");
  --removalWaiters_;
}

bool Kernel::WaitForRemovalWaiter() {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return removalWaiters_ > 0; });
}

void Kernel::StartNextPowerIrp(PIRP) {
  std::lock_guard lock(mutex_);
  ++startNextPowerCalls_;
}

int Kernel::StartNextPowerCalls() const {
  std::lock_guard lock(mutex_);
  return startNextPowerCalls_;
}

// --- The bus driver below the function device ------------------------------------------------

NTSTATUS NTAPI Kernel::BusDispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
  Kernel& kernel = Current();
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE: {
      LowerStart behaviour;
      {
        std::lock_guard lock(kernel.mutex_);
        if (AdapterRecord* adapter = kernel.AdapterOf(device)) behaviour = adapter->lowerStart;
      }
      if (behaviour.pending) {
        IoMarkIrpPending(irp);
        std::lock_guard lock(kernel.mutex_);
        // Completes from another thread once the driver above waits for it, as an interrupt
        // would, at DISPATCH_LEVEL.
        kernel.workers_.emplace_back([&kernel, irp, behaviour] {
          {
            std::unique_lock wait(kernel.mutex_);
            kernel.changed_.wait_for(wait, kPatience, [&] { return kernel.eventWaiters_ > 0; });
          }
          IrqlScope dispatch(DISPATCH_LEVEL);
          irp->IoStatus.Status = behaviour.status;
          IofCompleteRequest(irp, IO_NO_INCREMENT);
        });
        return STATUS_PENDING;
      }
      irp->IoStatus.Status = behaviour.status;
      break;
    }
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
      irp->IoStatus.Status = STATUS_SUCCESS;
      break;
    default:
      break;  // not the bus's business: the status stays as it came
  }
  const NTSTATUS status = irp->IoStatus.Status;
  IofCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

NTSTATUS NTAPI Kernel::BusDispatchPower(PDEVICE_OBJECT, PIRP irp) {
  irp->IoStatus.Status = STATUS_SUCCESS;
  IofCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI Kernel::BusDispatchOther(PDEVICE_OBJECT, PIRP irp) {
  const NTSTATUS status = irp->IoStatus.Status;
  IofCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

// --- The PnP manager -------------------------------------------------------------------------

Kernel::AdapterId Kernel::PlugAdapter() {
  PDEVICE_OBJECT pdo = nullptr;
  CreateDevice(busDriver_.get(), 0, nullptr, 0x22, 0, &pdo);
  std::size_t devicesBefore = 0;
  AdapterId id;
  {
    std::lock_guard lock(mutex_);
    pdo->Flags &= ~DO_DEVICE_INITIALIZING;
    devices_[pdo]->physical = true;
    AdapterRecord adapter;
    adapter.pdo = pdo;
    adapters_.push_back(adapter);
    id = static_cast<AdapterId>(adapters_.size() - 1);
    for (const auto& [object, record] : devices_)
      if (!record->physical && !record->deleted) ++devicesBefore;
  }
  NTSTATUS status = STATUS_NO_SUCH_DEVICE;
  if (driver_ && driver_->DriverExtension->AddDevice != nullptr) {
    IrqlScope passive(PASSIVE_LEVEL);
    status = driver_->DriverExtension->AddDevice(driver_.get(), pdo);
  }
  std::lock_guard lock(mutex_);
  adapters_[static_cast<std::size_t>(id)].addDeviceStatus = status;
  std::size_t devicesAfter = 0;
  for (const auto& [object, record] : devices_)
    if (!record->physical && !record->deleted) ++devicesAfter;
  if (NT_SUCCESS(status)) {
    if (pdo->AttachedDevice == nullptr)
      Report("AddDevice succeeded without attaching a device");
    else if (pdo->AttachedDevice->Flags & DO_DEVICE_INITIALIZING)
      Report("AddDevice left DO_DEVICE_INITIALIZING set");
  } else {
    if (pdo->AttachedDevice != nullptr) Report("failed AddDevice left a device attached");
    if (devicesAfter != devicesBefore) Report("failed AddDevice left a device object behind");
  }
  return id;
}

NTSTATUS Kernel::AddDeviceStatus(AdapterId adapter) const {
  std::lock_guard lock(mutex_);
  return adapters_.at(static_cast<std::size_t>(adapter)).addDeviceStatus;
}

PDEVICE_OBJECT Kernel::FunctionDevice(AdapterId adapter) const {
  std::lock_guard lock(mutex_);
  return adapters_.at(static_cast<std::size_t>(adapter)).pdo->AttachedDevice;
}

void Kernel::SetLowerStart(AdapterId adapter, LowerStart behaviour) {
  std::lock_guard lock(mutex_);
  adapters_.at(static_cast<std::size_t>(adapter)).lowerStart = behaviour;
}

NTSTATUS Kernel::SendToAdapter(AdapterId adapter, UCHAR major, UCHAR minor, const char* what,
                               PCM_RESOURCE_LIST raw, PCM_RESOURCE_LIST translated) {
  PDEVICE_OBJECT top;
  {
    std::lock_guard lock(mutex_);
    top = TopOf(adapters_.at(static_cast<std::size_t>(adapter)).pdo);
  }
  auto record = NewIrp(top);
  PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(&record->irp);
  stack->MajorFunction = major;
  stack->MinorFunction = minor;
  stack->Parameters.StartDevice.AllocatedResources = raw;
  stack->Parameters.StartDevice.AllocatedResourcesTranslated = translated;
  record->irp.IoStatus.Status = STATUS_NOT_SUPPORTED;
  return SendAndWait(top, *record, what);
}

NTSTATUS Kernel::Start(AdapterId adapter, const ResourceSet& resources) {
  const std::size_t count = resources.descriptors.size();
  const std::size_t translatedCount =
      count - std::min<std::size_t>(count, resources.translatedShortBy);
  ResourceListBuffer raw(resources.descriptors, count, false);
  ResourceListBuffer translated(resources.descriptors, translatedCount, true);
  {
    std::lock_guard lock(mutex_);
    AdapterRecord& record = adapters_.at(static_cast<std::size_t>(adapter));
    record.assigned = resources.descriptors;
    record.resourcesAssigned = true;
  }
  return SendToAdapter(adapter, IRP_MJ_PNP, IRP_MN_START_DEVICE, "PnP request",
                       resources.rawAbsent ? nullptr : raw.List(),
                       resources.translatedAbsent ? nullptr : translated.List());
}

NTSTATUS Kernel::SurpriseRemove(AdapterId adapter) {
  return SendToAdapter(adapter, IRP_MJ_PNP, IRP_MN_SURPRISE_REMOVAL, "PnP request");
}

NTSTATUS Kernel::Remove(AdapterId adapter) {
  const NTSTATUS status = SendToAdapter(adapter, IRP_MJ_PNP, IRP_MN_REMOVE_DEVICE, "PnP request");
  std::lock_guard lock(mutex_);
  CheckNothingLeftAfterRemoval(adapters_.at(static_cast<std::size_t>(adapter)));
  return status;
}

void Kernel::CheckNothingLeftAfterRemoval(AdapterRecord& adapter) {
  if (adapter.pdo->AttachedDevice != nullptr) Report("removal left the function device attached");
  for (const ResourceDescriptor& d : adapter.assigned) {
    if (d.translatedType != CmResourceTypeMemory) continue;
    for (const Mapping& mapping : mappings_)
      if (mapping.live && mapping.physical >= d.translatedStart &&
          mapping.physical < d.translatedStart + d.length)
        Report("mapping of " + Hex(mapping.physical) + " still live after removal");
  }
  // The PnP manager takes the resources back: no access may reach them any more.
  adapter.resourcesAssigned = false;
}

NTSTATUS Kernel::SendPnp(AdapterId adapter, UCHAR minorFunction) {
  return SendToAdapter(adapter, IRP_MJ_PNP, minorFunction, "PnP request");
}

NTSTATUS Kernel::SendPower(AdapterId adapter, UCHAR minorFunction) {
  return SendToAdapter(adapter, IRP_MJ_POWER, minorFunction, "power request");
}

NTSTATUS Kernel::SendSystemControl(AdapterId adapter) {
  return SendToAdapter(adapter, IRP_MJ_SYSTEM_CONTROL, 0, "system control request");
}

// --- The I/O manager -------------------------------------------------------------------------

NTSTATUS Kernel::Open(const std::string& path, OpenAccess access, Handle* handle) {
  *handle = kInvalidHandle;
  constexpr std::string_view kPrefix = "\\\\.\\";
  if (path.compare(0, kPrefix.size(), kPrefix) != 0) return STATUS_OBJECT_NAME_NOT_FOUND;
  // "\\.\NAME\rest": NAME is the link, the rest a name below the device.
  const std::string rest = path.substr(kPrefix.size());
  const std::string linkPart = rest.substr(0, rest.find('\\'));
  const std::string below = rest.substr(linkPart.size());
  const std::wstring linkName = L"\\DosDevices\\" + std::wstring(linkPart.begin(), linkPart.end());
  const std::wstring remainder(below.begin(), below.end());

  PDEVICE_OBJECT device;
  PDEVICE_OBJECT top;
  auto file = std::make_unique<FILE_OBJECT>();
  {
    std::lock_guard lock(mutex_);
    auto link = links_.find(Folded(linkName));
    if (link == links_.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
    auto named = names_.find(Folded(link->second));
    if (named == names_.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
    device = named->second;
    if (device->Flags & DO_DEVICE_INITIALIZING) return STATUS_NO_SUCH_DEVICE;
    // The device's default security lets everyone read and only administrators write. Opens of
    // names below the device are checked the same way only when it asks for secure opens.
    const bool checked = remainder.empty() || (device->Characteristics & FILE_DEVICE_SECURE_OPEN);
    if (checked && access.write && !access.administrator) return STATUS_ACCESS_DENIED;
    top = TopOf(device);
    file->Type = 5;
    file->Size = sizeof(FILE_OBJECT);
    file->DeviceObject = device;
  }
  std::wstring name = remainder;
  file->FileName.Buffer = name.data();
  file->FileName.Length = static_cast<USHORT>(name.size() * sizeof(WCHAR));
  file->FileName.MaximumLength = file->FileName.Length;

  auto record = NewIrp(top);
  PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(&record->irp);
  stack->MajorFunction = IRP_MJ_CREATE;
  stack->Parameters.Create.DesiredAccess =
      (access.read ? FILE_READ_ACCESS : 0u) | (access.write ? FILE_WRITE_ACCESS : 0u);
  stack->FileObject = file.get();
  const NTSTATUS status = SendAndWait(top, *record, "open");
  if (!NT_SUCCESS(status)) return status;

  std::lock_guard lock(mutex_);
  file->FileName = UNICODE_STRING{};
  const Handle id = nextHandle_++;
  FileRecord& opened = files_[id];
  opened.file = std::move(file);
  opened.device = device;
  opened.access = access;
  if (DeviceRecord* deviceRecord = RecordOf(device)) deviceRecord->openHandles++;
  *handle = id;
  return status;
}

ControlResult Kernel::Control(Handle handle, ULONG code, const void* input, ULONG inputLength,
                              void* output, ULONG outputLength) {
  PDEVICE_OBJECT top;
  PFILE_OBJECT file;
  {
    std::lock_guard lock(mutex_);
    auto it = files_.find(handle);
    if (it == files_.end()) return {STATUS_INVALID_HANDLE, 0};
    const ULONG required = (code >> 14) & 3;
    if (((required & FILE_READ_ACCESS) && !it->second.access.read) ||
        ((required & FILE_WRITE_ACCESS) && !it->second.access.write))
      return {STATUS_ACCESS_DENIED, 0};
    top = TopOf(it->second.device);
    file = it->second.file.get();
  }
  const bool buffered = (code & 3) == METHOD_BUFFERED;
  const ULONG systemLength = std::max(inputLength, outputLength);
  // Pool memory as it comes: whatever was there before, here a recognisable pattern.
  std::vector<std::uint64_t> pool((systemLength + 7) / 8 + 1, 0xCDCDCDCDCDCDCDCDull);
  auto* system = reinterpret_cast<std::uint8_t*>(pool.data());
  if (buffered && input != nullptr && inputLength != 0) std::memcpy(system, input, inputLength);

  auto record = NewIrp(top);
  IRP& irp = record->irp;
  irp.AssociatedIrp.SystemBuffer = buffered && systemLength != 0 ? system : nullptr;
  irp.UserBuffer = output;
  PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(&irp);
  stack->MajorFunction = IRP_MJ_DEVICE_CONTROL;
  stack->Parameters.DeviceIoControl.OutputBufferLength = outputLength;
  stack->Parameters.DeviceIoControl.InputBufferLength = inputLength;
  stack->Parameters.DeviceIoControl.IoControlCode = code;
  stack->Parameters.DeviceIoControl.Type3InputBuffer =
      buffered ? nullptr : const_cast<void*>(input);
  stack->FileObject = file;
  ControlResult result;
  result.status = SendAndWait(top, *record, "device control");
  result.information = irp.IoStatus.Information;
  if (buffered && outputLength != 0) {
    if (result.information > outputLength)
      Report("device control " + Hex(code) + " reports " + std::to_string(result.information) +
             " bytes for a " + std::to_string(outputLength) + "-byte output buffer");
    if (result.information > systemLength)
      Report("device control " + Hex(code) + " reports more bytes than its system buffer holds");
    // The I/O manager copies the reported count back on success; the stand-in stops at the
    // caller's buffer so that a faulty count shows as a report, not as a corrupted test.
    if (NT_SUCCESS(result.status) && output != nullptr) {
      const std::size_t copy = std::min<std::size_t>(
          {result.information, outputLength, static_cast<std::size_t>(systemLength)});
      std::memcpy(output, system, copy);
      for (std::size_t i = inputLength; i < copy; ++i)
        if (system[i] == 0xCD) {
          Report("device control " + Hex(code) + " hands uninitialised pool bytes to the caller");
          break;
        }
    }
  }
  return result;
}

NTSTATUS Kernel::Close(Handle handle) {
  PDEVICE_OBJECT device;
  PFILE_OBJECT file;
  {
    std::lock_guard lock(mutex_);
    auto it = files_.find(handle);
    if (it == files_.end()) return STATUS_INVALID_HANDLE;
    device = it->second.device;
    file = it->second.file.get();
  }
  NTSTATUS status = STATUS_SUCCESS;
  for (UCHAR major : {UCHAR{IRP_MJ_CLEANUP}, UCHAR{IRP_MJ_CLOSE}}) {
    PDEVICE_OBJECT top;
    {
      std::lock_guard lock(mutex_);
      top = TopOf(device);
    }
    auto record = NewIrp(top);
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(&record->irp);
    stack->MajorFunction = major;
    stack->FileObject = file;
    // The handle goes away whatever the driver answers.
    status = SendAndWait(top, *record, major == IRP_MJ_CLOSE ? "close" : "cleanup");
  }
  std::lock_guard lock(mutex_);
  files_.erase(handle);
  if (DeviceRecord* record = RecordOf(device)) {
    record->openHandles--;
    FreeDeviceIfUnused(device);
  }
  return status;
}

}  // namespace sim

// --- The WDM routines ------------------------------------------------------------------------
using sim::Kernel;

KIRQL KeGetCurrentIrql() {
  return sim::t_irql;
}

void SimReportPagedCodeAtRaisedIrql(const char* function) {
  Kernel::Current().Report(std::string("pageable routine ") + function + " ran above APC_LEVEL");
}

VOID NTAPI RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source) {
  const std::size_t length = source == nullptr ? 0 : std::wcslen(source);
  destination->Buffer = const_cast<PWSTR>(source);
  destination->Length = static_cast<USHORT>(length * sizeof(WCHAR));
  destination->MaximumLength = static_cast<USHORT>((length + 1) * sizeof(WCHAR));
}

NTSTATUS NTAPI IoCreateDevice(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name,
                              DEVICE_TYPE type, ULONG characteristics, BOOLEAN,
                              PDEVICE_OBJECT* device) {
  return Kernel::Current().CreateDevice(driver, extensionSize, name, type, characteristics, device);
}
VOID NTAPI IoDeleteDevice(PDEVICE_OBJECT device) {
  Kernel::Current().DeleteDevice(device);
}
NTSTATUS NTAPI IoCreateSymbolicLink(PUNICODE_STRING link, PUNICODE_STRING target) {
  return Kernel::Current().CreateSymbolicLink(link, target);
}
NTSTATUS NTAPI IoDeleteSymbolicLink(PUNICODE_STRING link) {
  return Kernel::Current().DeleteSymbolicLink(link);
}
PDEVICE_OBJECT NTAPI IoAttachDeviceToDeviceStack(PDEVICE_OBJECT source, PDEVICE_OBJECT target) {
  return Kernel::Current().AttachDevice(source, target);
}
VOID NTAPI IoDetachDevice(PDEVICE_OBJECT target) {
  Kernel::Current().DetachDevice(target);
}
NTSTATUS FASTCALL IofCallDriver(PDEVICE_OBJECT device, PIRP irp) {
  return Kernel::Current().CallDriver(device, irp);
}
VOID FASTCALL IofCompleteRequest(PIRP irp, KPRIORITY) {
  Kernel::Current().CompleteRequest(irp);
}
VOID NTAPI KeInitializeEvent(PKEVENT event, EVENT_TYPE type, BOOLEAN state) {
  Kernel::Current().InitializeEvent(event, type, state);
}
LONG NTAPI KeSetEvent(PKEVENT event, KPRIORITY, BOOLEAN) {
  return Kernel::Current().SetEvent(event);
}
NTSTATUS NTAPI KeWaitForSingleObject(PVOID object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                                     PLARGE_INTEGER) {
  return Kernel::Current().WaitForEvent(static_cast<PKEVENT>(object));
}
VOID NTAPI IoInitializeRemoveLockEx(PIO_REMOVE_LOCK lock, ULONG tag, ULONG, ULONG, ULONG size) {
  Kernel::Current().InitializeRemoveLock(lock, tag, size);
}
NTSTATUS NTAPI IoAcquireRemoveLockEx(PIO_REMOVE_LOCK lock, PVOID tag, PCSTR file, ULONG,
                                     ULONG size) {
  return Kernel::Current().AcquireRemoveLock(lock, tag, file, size);
}
VOID NTAPI IoReleaseRemoveLockEx(PIO_REMOVE_LOCK lock, PVOID tag, ULONG size) {
  Kernel::Current().ReleaseRemoveLock(lock, tag, size);
}
VOID NTAPI IoReleaseRemoveLockAndWaitEx(PIO_REMOVE_LOCK lock, PVOID tag, ULONG size) {
  Kernel::Current().ReleaseRemoveLockAndWait(lock, tag, size);
}
VOID NTAPI PoStartNextPowerIrp(PIRP irp) {
  Kernel::Current().StartNextPowerIrp(irp);
}
NTSTATUS NTAPI PoCallDriver(PDEVICE_OBJECT device, PIRP irp) {
  return Kernel::Current().CallDriver(device, irp);
}
PVOID NTAPI MmMapIoSpace(PHYSICAL_ADDRESS physical, SIZE_T length, MEMORY_CACHING_TYPE cache) {
  return Kernel::Current().MapIoSpace(physical, length, cache);
}
VOID NTAPI MmUnmapIoSpace(PVOID address, SIZE_T length) {
  Kernel::Current().UnmapIoSpace(address, length);
}

namespace {
template <typename T>
std::uintptr_t Where(T* address) {
  return reinterpret_cast<std::uintptr_t>(address);
}
}  // namespace

UCHAR NTAPI READ_PORT_UCHAR(PUCHAR port) {
  return static_cast<UCHAR>(Kernel::Current().ReadRegister(false, Where(port), 1));
}
USHORT NTAPI READ_PORT_USHORT(PUSHORT port) {
  return static_cast<USHORT>(Kernel::Current().ReadRegister(false, Where(port), 2));
}
ULONG NTAPI READ_PORT_ULONG(PULONG port) {
  return Kernel::Current().ReadRegister(false, Where(port), 4);
}
VOID NTAPI WRITE_PORT_UCHAR(PUCHAR port, UCHAR value) {
  Kernel::Current().WriteRegister(false, Where(port), 1, value);
}
VOID NTAPI WRITE_PORT_USHORT(PUSHORT port, USHORT value) {
  Kernel::Current().WriteRegister(false, Where(port), 2, value);
}
VOID NTAPI WRITE_PORT_ULONG(PULONG port, ULONG value) {
  Kernel::Current().WriteRegister(false, Where(port), 4, value);
}
UCHAR NTAPI READ_REGISTER_UCHAR(PUCHAR address) {
  return static_cast<UCHAR>(Kernel::Current().ReadRegister(true, Where(address), 1));
}
USHORT NTAPI READ_REGISTER_USHORT(PUSHORT address) {
  return static_cast<USHORT>(Kernel::Current().ReadRegister(true, Where(address), 2));
}
ULONG NTAPI READ_REGISTER_ULONG(PULONG address) {
  return Kernel::Current().ReadRegister(true, Where(address), 4);
}
VOID NTAPI WRITE_REGISTER_UCHAR(PUCHAR address, UCHAR value) {
  Kernel::Current().WriteRegister(true, Where(address), 1, value);
}
VOID NTAPI WRITE_REGISTER_USHORT(PUSHORT address, USHORT value) {
  Kernel::Current().WriteRegister(true, Where(address), 2, value);
}
VOID NTAPI WRITE_REGISTER_ULONG(PULONG address, ULONG value) {
  Kernel::Current().WriteRegister(true, Where(address), 4, value);
}
