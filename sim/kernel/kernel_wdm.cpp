// The WDM routines of <ddk/wdm.h>: each hands its call to the running sim::Kernel.
#include "kernel.h"

#include <cstring>
#include <cwchar>
#include <string>

#include "kernel_internal.h"

using sim::Kernel;

KIRQL KeGetCurrentIrql() {
  return sim::kernel_internal::t_irql;
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
