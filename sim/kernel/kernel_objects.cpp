// The object manager: device objects, their names and symbolic links, device stacks.
#include "kernel.h"

#include "kernel_internal.h"

namespace sim {

using namespace kernel_internal;

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

void Kernel::FailNextAttach() {
  std::lock_guard lock(mutex_);
  failAttach_ = true;
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

}  // namespace sim
