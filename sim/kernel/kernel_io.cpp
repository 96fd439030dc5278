// The I/O manager: requests and their stack locations, completion, opening by name, buffered
// device control, and the events and remove locks that drivers wait on.
#include "kernel.h"

#include <algorithm>
#include <cstring>

#include "kernel_internal.h"

namespace sim {

using namespace kernel_internal;

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
