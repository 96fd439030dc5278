// cicard: WDM function driver that lends the application single register accesses in the
// host adapter's one I/O port or memory window.
//
// Freestanding C++: no exceptions, no RTTI, no run-time library, no global constructors. The
// entry routine lives in discardable initialisation code; the completion routine and the power
// routine are resident (they may run at raised IRQL); everything else is pageable.
#include "cicard.h"

#if defined(CICARD_KERNEL_BUILD)
#define CI_INIT_CODE __attribute__((section("INIT")))
#define CI_PAGED_CODE __attribute__((section("PAGE")))
#else
// The kernel stand-in of the tests has no pageable sections; PAGED_CODE() still checks the
// IRQL there.
#define CI_INIT_CODE
#define CI_PAGED_CODE
#endif

// Source name that the remove lock records with each acquisition.
#define CI_SOURCE_NAME "cicard"

namespace {

inline PCI_DEVICE_EXTENSION CiExtension(PDEVICE_OBJECT DeviceObject) {
  return static_cast<PCI_DEVICE_EXTENSION>(DeviceObject->DeviceExtension);
}

// --- Register access. The port and register routines go through these wrappers so that one
// place decides how the window is reached (on x64 the kernel headers inline the port routines).

CI_PAGED_CODE __attribute__((noinline)) UCHAR CiPortReadUchar(ULONG_PTR Address) {
  return READ_PORT_UCHAR(reinterpret_cast<PUCHAR>(Address));
}
CI_PAGED_CODE __attribute__((noinline)) USHORT CiPortReadUshort(ULONG_PTR Address) {
  return READ_PORT_USHORT(reinterpret_cast<PUSHORT>(Address));
}
CI_PAGED_CODE __attribute__((noinline)) ULONG CiPortReadUlong(ULONG_PTR Address) {
  return READ_PORT_ULONG(reinterpret_cast<PULONG>(Address));
}
CI_PAGED_CODE __attribute__((noinline)) VOID CiPortWriteUchar(ULONG_PTR Address, UCHAR Value) {
  WRITE_PORT_UCHAR(reinterpret_cast<PUCHAR>(Address), Value);
}
CI_PAGED_CODE __attribute__((noinline)) VOID CiPortWriteUshort(ULONG_PTR Address, USHORT Value) {
  WRITE_PORT_USHORT(reinterpret_cast<PUSHORT>(Address), Value);
}
CI_PAGED_CODE __attribute__((noinline)) VOID CiPortWriteUlong(ULONG_PTR Address, ULONG Value) {
  WRITE_PORT_ULONG(reinterpret_cast<PULONG>(Address), Value);
}
CI_PAGED_CODE __attribute__((noinline)) UCHAR CiMemoryReadUchar(ULONG_PTR Address) {
  return READ_REGISTER_UCHAR(reinterpret_cast<PUCHAR>(Address));
}
CI_PAGED_CODE __attribute__((noinline)) USHORT CiMemoryReadUshort(ULONG_PTR Address) {
  return READ_REGISTER_USHORT(reinterpret_cast<PUSHORT>(Address));
}
CI_PAGED_CODE __attribute__((noinline)) ULONG CiMemoryReadUlong(ULONG_PTR Address) {
  return READ_REGISTER_ULONG(reinterpret_cast<PULONG>(Address));
}
CI_PAGED_CODE __attribute__((noinline)) VOID CiMemoryWriteUchar(ULONG_PTR Address, UCHAR Value) {
  WRITE_REGISTER_UCHAR(reinterpret_cast<PUCHAR>(Address), Value);
}
CI_PAGED_CODE __attribute__((noinline)) VOID CiMemoryWriteUshort(ULONG_PTR Address, USHORT Value) {
  WRITE_REGISTER_USHORT(reinterpret_cast<PUSHORT>(Address), Value);
}
CI_PAGED_CODE __attribute__((noinline)) VOID CiMemoryWriteUlong(ULONG_PTR Address, ULONG Value) {
  WRITE_REGISTER_ULONG(reinterpret_cast<PULONG>(Address), Value);
}

// Width in bytes of the access a control code asks for; 0 for a code that is not ours.
CI_PAGED_CODE ULONG CiAccessWidth(ULONG IoControlCode) {
  switch (IoControlCode) {
    case IOCTL_CI_READ_UCHAR:
    case IOCTL_CI_WRITE_UCHAR:
      return 1;
    case IOCTL_CI_READ_USHORT:
    case IOCTL_CI_WRITE_USHORT:
      return 2;
    case IOCTL_CI_READ_ULONG:
    case IOCTL_CI_WRITE_ULONG:
      return 4;
    default:
      return 0;
  }
}

// The access lies wholly inside the window and its absolute address is a multiple of its
// width. Written so that no sum can wrap: Offset < Length leaves room for the subtraction.
CI_PAGED_CODE BOOLEAN CiWindowAllows(PCI_DEVICE_EXTENSION Extension, ULONG Offset, ULONG Width) {
  if (Offset >= Extension->Length) return FALSE;
  if (Width > Extension->Length - Offset) return FALSE;
  if ((Extension->Base + Offset) % Width != 0) return FALSE;
  return TRUE;
}

CI_PAGED_CODE VOID CiUnmapWindow(PCI_DEVICE_EXTENSION Extension) {
  if (!Extension->Mapped) return;
  MmUnmapIoSpace(reinterpret_cast<PVOID>(Extension->Base), Extension->Length);
  Extension->Mapped = FALSE;
  Extension->Base = 0;
  Extension->Length = 0;
}

// Maps a memory window non-cached and makes it the register window, giving back a mapping
// that an earlier descriptor of the same list had taken. A failed mapping leaves no window.
CI_PAGED_CODE BOOLEAN CiMapWindow(PCI_DEVICE_EXTENSION Extension, PHYSICAL_ADDRESS Start,
                                  ULONG Length) {
  CiUnmapWindow(Extension);
  PVOID address = MmMapIoSpace(Start, Length, MmNonCached);
  Extension->AddressSpace = 0;
  if (address == NULL) {
    Extension->Base = 0;
    Extension->Length = 0;
    return FALSE;
  }
  Extension->Base = reinterpret_cast<ULONG_PTR>(address);
  Extension->Length = Length;
  Extension->Mapped = TRUE;
  return TRUE;
}

CI_PAGED_CODE VOID CiTakePortWindow(PCI_DEVICE_EXTENSION Extension,
                                    PCM_PARTIAL_RESOURCE_DESCRIPTOR Translated) {
  CiUnmapWindow(Extension);
  Extension->Base = Translated->u.Port.Start.LowPart;
  Extension->Length = Translated->u.Port.Length;
  Extension->AddressSpace = 1;
  Extension->Mapped = FALSE;
}

// Ends the service of requests and withdraws the user-mode name. A mapped memory window stays
// mapped: a request that passed its checks just before may still be using it, so removal
// gives it back once the remove lock has drained.
CI_PAGED_CODE VOID CiReleaseWindow(PCI_DEVICE_EXTENSION Extension) {
  Extension->Removed = TRUE;
  Extension->Started = FALSE;
  UNICODE_STRING linkName;
  RtlInitUnicodeString(&linkName, CI_LINK_NAME);
  IoDeleteSymbolicLink(&linkName);
}

CI_PAGED_CODE VOID CiPassDown(PCI_DEVICE_EXTENSION Extension, PIRP Irp, NTSTATUS* Status) {
  IoSkipCurrentIrpStackLocation(Irp);
  *Status = IofCallDriver(Extension->LowerDevice, Irp);
}

CI_PAGED_CODE NTSTATUS CiHandleStart(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PCI_DEVICE_EXTENSION extension = CiExtension(DeviceObject);
  KEVENT event;
  IoCopyCurrentIrpStackLocationToNext(Irp);
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IoSetCompletionRoutine(Irp, CiStartCompletion, &event, TRUE, TRUE, TRUE);
  NTSTATUS status = IofCallDriver(extension->LowerDevice, Irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, NULL);
    status = Irp->IoStatus.Status;
  }
  // A lower driver whose returned status and request status disagree is taken at its worst.
  if (NT_SUCCESS(status) && !NT_SUCCESS(Irp->IoStatus.Status)) status = Irp->IoStatus.Status;
  if (NT_SUCCESS(status)) {
    status = CiStartDevice(DeviceObject, Irp);
    if (NT_SUCCESS(status)) {
      extension->Started = TRUE;
      extension->Removed = FALSE;
    }
  }
  Irp->IoStatus.Status = status;
  IofCompleteRequest(Irp, IO_NO_INCREMENT);
  return status;
}

CI_PAGED_CODE NTSTATUS CiHandleRemove(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PCI_DEVICE_EXTENSION extension = CiExtension(DeviceObject);
  if (!extension->Removed) CiReleaseWindow(extension);
  IoReleaseRemoveLockAndWaitEx(&extension->RemoveLock, Irp, sizeof(IO_REMOVE_LOCK));
  // No request holds the lock any more and none can acquire it: the window is free to go.
  CiUnmapWindow(extension);
  Irp->IoStatus.Status = STATUS_SUCCESS;
  NTSTATUS status;
  CiPassDown(extension, Irp, &status);
  IoDetachDevice(extension->LowerDevice);
  IoDeleteDevice(DeviceObject);
  return status;
}

}  // namespace

extern "C" CI_INIT_CODE NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject,
                                                   PUNICODE_STRING RegistryPath) {
  (void)RegistryPath;
  DriverObject->MajorFunction[IRP_MJ_CREATE] = CiDispatchIo;
  DriverObject->MajorFunction[IRP_MJ_CLOSE] = CiDispatchIo;
  DriverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = CiDispatchIo;
  DriverObject->MajorFunction[IRP_MJ_PNP] = CiDispatchPnp;
  DriverObject->MajorFunction[IRP_MJ_POWER] = CiDispatchPower;
  DriverObject->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = CiDispatchSystemControl;
  DriverObject->DriverExtension->AddDevice = CiAddDevice;
  DriverObject->DriverUnload = CiUnload;
  return STATUS_SUCCESS;
}

CI_PAGED_CODE NTSTATUS NTAPI CiAddDevice(PDRIVER_OBJECT DriverObject,
                                         PDEVICE_OBJECT PhysicalDeviceObject) {
  PAGED_CODE();
  UNICODE_STRING deviceName;
  RtlInitUnicodeString(&deviceName, CI_DEVICE_NAME);
  PDEVICE_OBJECT device = NULL;
  // Secure open: opens of names below the device ("\\.\DOV_IDDev\x") are checked against the
  // device's security like opens of the device itself.
  NTSTATUS status = IoCreateDevice(DriverObject, sizeof(CI_DEVICE_EXTENSION), &deviceName,
                                   CI_DEVICE_TYPE, FILE_DEVICE_SECURE_OPEN, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;

  UNICODE_STRING linkName;
  RtlInitUnicodeString(&linkName, CI_LINK_NAME);
  status = IoCreateSymbolicLink(&linkName, &deviceName);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    return status;
  }

  PCI_DEVICE_EXTENSION extension = CiExtension(device);
  extension->LowerDevice = IoAttachDeviceToDeviceStack(device, PhysicalDeviceObject);
  if (extension->LowerDevice == NULL) {
    IoDeleteSymbolicLink(&linkName);
    IoDeleteDevice(device);
    return STATUS_NO_SUCH_DEVICE;
  }

  IoInitializeRemoveLockEx(&extension->RemoveLock, CI_REMOVE_LOCK_TAG, CI_REMOVE_LOCK_MINUTES,
                           CI_REMOVE_LOCK_HIGH_WATERMARK, sizeof(IO_REMOVE_LOCK));
  device->Flags |= DO_POWER_PAGABLE;
  extension->Self = device;
  extension->Removed = FALSE;
  extension->Started = FALSE;
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  extension->AddressSpace = 1;
  return STATUS_SUCCESS;
}

CI_PAGED_CODE VOID NTAPI CiUnload(PDRIVER_OBJECT DriverObject) {
  PAGED_CODE();
  // Every device has been cleaned up at its removal.
  (void)DriverObject;
}

CI_PAGED_CODE NTSTATUS NTAPI CiDispatchIo(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PAGED_CODE();
  PCI_DEVICE_EXTENSION extension = CiExtension(DeviceObject);
  Irp->IoStatus.Information = 0;
  NTSTATUS status = IoAcquireRemoveLockEx(&extension->RemoveLock, Irp, CI_SOURCE_NAME, __LINE__,
                                          sizeof(IO_REMOVE_LOCK));
  if (!NT_SUCCESS(status)) {
    Irp->IoStatus.Status = status;
    IofCompleteRequest(Irp, IO_NO_INCREMENT);
    return status;
  }

  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  if (!extension->Started) {
    status = STATUS_DEVICE_NOT_READY;
  } else {
    switch (stack->MajorFunction) {
      case IRP_MJ_CREATE:
      case IRP_MJ_CLOSE:
        status = STATUS_SUCCESS;
        break;
      case IRP_MJ_DEVICE_CONTROL: {
        const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
        switch (code) {
          case IOCTL_CI_READ_UCHAR:
          case IOCTL_CI_READ_USHORT:
          case IOCTL_CI_READ_ULONG:
            status = CiReadRegister(extension, Irp, stack, code);
            break;
          case IOCTL_CI_WRITE_UCHAR:
          case IOCTL_CI_WRITE_USHORT:
          case IOCTL_CI_WRITE_ULONG:
            status = CiWriteRegister(extension, Irp, stack, code);
            break;
          default:
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        break;
      }
      default:
        status = STATUS_INVALID_PARAMETER;
        break;
    }
  }
  if (!NT_SUCCESS(status)) Irp->IoStatus.Information = 0;
  Irp->IoStatus.Status = status;
  IofCompleteRequest(Irp, IO_NO_INCREMENT);
  IoReleaseRemoveLockEx(&extension->RemoveLock, Irp, sizeof(IO_REMOVE_LOCK));
  return status;
}

CI_PAGED_CODE NTSTATUS CiReadRegister(PCI_DEVICE_EXTENSION Extension, PIRP Irp,
                                      PIO_STACK_LOCATION Stack, ULONG IoControlCode) {
  PAGED_CODE();
  const ULONG width = CiAccessWidth(IoControlCode);
  if (width == 0) return STATUS_INVALID_PARAMETER;
  if (Stack->Parameters.DeviceIoControl.InputBufferLength != sizeof(ULONG) ||
      Stack->Parameters.DeviceIoControl.OutputBufferLength < width)
    return STATUS_INVALID_PARAMETER;

  PUCHAR buffer = static_cast<PUCHAR>(Irp->AssociatedIrp.SystemBuffer);
  const ULONG offset = *reinterpret_cast<PULONG>(buffer);
  if (!CiWindowAllows(Extension, offset, width)) return STATUS_ACCESS_VIOLATION;

  const ULONG_PTR address = Extension->Base + offset;
  const BOOLEAN ports = Extension->AddressSpace != 0;
  switch (width) {
    case 1:
      *buffer = ports ? CiPortReadUchar(address) : CiMemoryReadUchar(address);
      break;
    case 2:
      *reinterpret_cast<PUSHORT>(buffer) =
          ports ? CiPortReadUshort(address) : CiMemoryReadUshort(address);
      break;
    default:
      *reinterpret_cast<PULONG>(buffer) =
          ports ? CiPortReadUlong(address) : CiMemoryReadUlong(address);
      break;
  }
  Irp->IoStatus.Information = width;
  return STATUS_SUCCESS;
}

CI_PAGED_CODE NTSTATUS CiWriteRegister(PCI_DEVICE_EXTENSION Extension, PIRP Irp,
                                       PIO_STACK_LOCATION Stack, ULONG IoControlCode) {
  PAGED_CODE();
  Irp->IoStatus.Information = 0;
  const ULONG width = CiAccessWidth(IoControlCode);
  if (width == 0) return STATUS_INVALID_PARAMETER;
  if (Stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(ULONG) + width)
    return STATUS_INVALID_PARAMETER;

  PUCHAR buffer = static_cast<PUCHAR>(Irp->AssociatedIrp.SystemBuffer);
  const ULONG offset = *reinterpret_cast<PULONG>(buffer);
  if (!CiWindowAllows(Extension, offset, width)) return STATUS_ACCESS_VIOLATION;

  const ULONG_PTR address = Extension->Base + offset;
  const BOOLEAN ports = Extension->AddressSpace != 0;
  PUCHAR value = buffer + sizeof(ULONG);
  switch (width) {
    case 1:
      if (ports)
        CiPortWriteUchar(address, *value);
      else
        CiMemoryWriteUchar(address, *value);
      break;
    case 2:
      if (ports)
        CiPortWriteUshort(address, *reinterpret_cast<PUSHORT>(value));
      else
        CiMemoryWriteUshort(address, *reinterpret_cast<PUSHORT>(value));
      break;
    default:
      if (ports)
        CiPortWriteUlong(address, *reinterpret_cast<PULONG>(value));
      else
        CiMemoryWriteUlong(address, *reinterpret_cast<PULONG>(value));
      break;
  }
  // A write reports its width as transferred. The I/O manager copies that many bytes of the
  // system buffer back into an output buffer the caller gave, so the count never exceeds a
  // shorter one.
  const ULONG outputLength = Stack->Parameters.DeviceIoControl.OutputBufferLength;
  Irp->IoStatus.Information = (outputLength != 0 && outputLength < width) ? outputLength : width;
  return STATUS_SUCCESS;
}

CI_PAGED_CODE NTSTATUS NTAPI CiDispatchPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PAGED_CODE();
  PCI_DEVICE_EXTENSION extension = CiExtension(DeviceObject);
  NTSTATUS status = IoAcquireRemoveLockEx(&extension->RemoveLock, Irp, CI_SOURCE_NAME, __LINE__,
                                          sizeof(IO_REMOVE_LOCK));
  if (!NT_SUCCESS(status)) {
    Irp->IoStatus.Status = status;
    IofCompleteRequest(Irp, IO_NO_INCREMENT);
    return status;
  }

  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
      status = CiHandleStart(DeviceObject, Irp);
      break;
    case IRP_MN_REMOVE_DEVICE:
      // Releases the lock taken above itself and never touches the device afterwards.
      return CiHandleRemove(DeviceObject, Irp);
    case IRP_MN_QUERY_STOP_DEVICE:
      // Refused, so that the assigned resources are never rebalanced.
      status = STATUS_UNSUCCESSFUL;
      Irp->IoStatus.Status = status;
      IofCompleteRequest(Irp, IO_NO_INCREMENT);
      break;
    case IRP_MN_SURPRISE_REMOVAL:
      CiReleaseWindow(extension);
      Irp->IoStatus.Status = STATUS_SUCCESS;
      CiPassDown(extension, Irp, &status);
      break;
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
      Irp->IoStatus.Status = STATUS_SUCCESS;
      CiPassDown(extension, Irp, &status);
      break;
    default:
      CiPassDown(extension, Irp, &status);
      break;
  }
  IoReleaseRemoveLockEx(&extension->RemoveLock, Irp, sizeof(IO_REMOVE_LOCK));
  return status;
}

NTSTATUS NTAPI CiStartCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context) {
  (void)DeviceObject;
  (void)Irp;
  // The start handling waits for this event and then completes the request itself with a
  // final status, so the request is not marked pending here: a request marked pending must be
  // answered with STATUS_PENDING by the dispatch routine.
  KeSetEvent(static_cast<PKEVENT>(Context), IO_NO_INCREMENT, FALSE);
  // The request comes back to the start handling, which completes it once more.
  return STATUS_MORE_PROCESSING_REQUIRED;
}

CI_PAGED_CODE NTSTATUS CiStartDevice(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PAGED_CODE();
  PCI_DEVICE_EXTENSION extension = CiExtension(DeviceObject);
  if (extension->Removed) return STATUS_DELETE_PENDING;

  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  PCM_RESOURCE_LIST raw = stack->Parameters.StartDevice.AllocatedResources;
  PCM_RESOURCE_LIST translated = stack->Parameters.StartDevice.AllocatedResourcesTranslated;
  if (raw == NULL || translated == NULL || raw->Count == 0 || translated->Count == 0)
    return STATUS_INSUFFICIENT_RESOURCES;

  PCM_PARTIAL_RESOURCE_LIST rawList = &raw->List[0].PartialResourceList;
  PCM_PARTIAL_RESOURCE_LIST translatedList = &translated->List[0].PartialResourceList;
  NTSTATUS result = STATUS_SUCCESS;
  for (ULONG i = 0; i < rawList->Count; ++i) {
    // A raw descriptor without a translated partner cannot be used (and is not read past).
    if (i >= translatedList->Count) {
      result = STATUS_UNSUCCESSFUL;
      break;
    }
    PCM_PARTIAL_RESOURCE_DESCRIPTOR rawDescriptor = &rawList->PartialDescriptors[i];
    PCM_PARTIAL_RESOURCE_DESCRIPTOR translatedDescriptor = &translatedList->PartialDescriptors[i];
    switch (rawDescriptor->Type) {
      case CmResourceTypePort:
        switch (translatedDescriptor->Type) {
          case CmResourceTypePort:
            CiTakePortWindow(extension, translatedDescriptor);
            break;
          case CmResourceTypeMemory:
            if (!CiMapWindow(extension, translatedDescriptor->u.Memory.Start,
                             translatedDescriptor->u.Memory.Length))
              result = STATUS_INSUFFICIENT_RESOURCES;
            break;
          case CmResourceTypeInterrupt:
          case CmResourceTypeDevicePrivate:
            break;
          default:
            result = STATUS_UNSUCCESSFUL;
            break;
        }
        break;
      case CmResourceTypeMemory:
        if (!CiMapWindow(extension, translatedDescriptor->u.Memory.Start,
                         translatedDescriptor->u.Memory.Length))
          result = STATUS_INSUFFICIENT_RESOURCES;
        break;
      case CmResourceTypeInterrupt:
      case CmResourceTypeDevicePrivate:
        break;
      default:
        result = STATUS_UNSUCCESSFUL;
        break;
    }
  }
  return result;
}

NTSTATUS NTAPI CiDispatchPower(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PCI_DEVICE_EXTENSION extension = CiExtension(DeviceObject);
  PoStartNextPowerIrp(Irp);
  if (extension->Removed) {
    Irp->IoStatus.Status = STATUS_DELETE_PENDING;
    IofCompleteRequest(Irp, IO_NO_INCREMENT);
    return STATUS_DELETE_PENDING;
  }
  IoSkipCurrentIrpStackLocation(Irp);
  return PoCallDriver(extension->LowerDevice, Irp);
}

CI_PAGED_CODE NTSTATUS NTAPI CiDispatchSystemControl(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PAGED_CODE();
  IoSkipCurrentIrpStackLocation(Irp);
  return IofCallDriver(CiExtension(DeviceObject)->LowerDevice, Irp);
}
