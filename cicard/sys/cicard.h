// cicard: the register driver for PCMCIA/CI host adapters. It takes the adapter's one I/O port
// or memory window at start and offers single 8-, 16- and 32-bit register reads and writes in
// it through six buffered device control codes on "\Device\DOV_ID0" ("\\.\DOV_IDDev").
//
// The same source builds as the real driver against the kernel headers (mingw-w64 ddk) and,
// for the tests, against the kernel stand-in of the simulation, which provides its own
// <ddk/wdm.h>. The build picks one by the include path.
#pragma once

#include <ddk/wdm.h>

// Device type of the device object and of the control codes.
#define CI_DEVICE_TYPE 40001u

// Buffered control codes: function numbers 0x900.. read, 0x910.. write.
#define IOCTL_CI_READ_UCHAR CTL_CODE(CI_DEVICE_TYPE, 0x900, METHOD_BUFFERED, FILE_READ_ACCESS)
#define IOCTL_CI_READ_USHORT CTL_CODE(CI_DEVICE_TYPE, 0x901, METHOD_BUFFERED, FILE_READ_ACCESS)
#define IOCTL_CI_READ_ULONG CTL_CODE(CI_DEVICE_TYPE, 0x902, METHOD_BUFFERED, FILE_READ_ACCESS)
#define IOCTL_CI_WRITE_UCHAR CTL_CODE(CI_DEVICE_TYPE, 0x910, METHOD_BUFFERED, FILE_WRITE_ACCESS)
#define IOCTL_CI_WRITE_USHORT CTL_CODE(CI_DEVICE_TYPE, 0x911, METHOD_BUFFERED, FILE_WRITE_ACCESS)
#define IOCTL_CI_WRITE_ULONG CTL_CODE(CI_DEVICE_TYPE, 0x912, METHOD_BUFFERED, FILE_WRITE_ACCESS)

// Allocation tag of the remove lock: the bytes "PORT" in memory order.
#define CI_REMOVE_LOCK_TAG 0x54524F50
#define CI_REMOVE_LOCK_MINUTES 1
#define CI_REMOVE_LOCK_HIGH_WATERMARK 5

#define CI_DEVICE_NAME L"\\Device\\DOV_ID0"
#define CI_LINK_NAME L"\\DosDevices\\DOV_IDDev"

// The device context, in the device object's extension.
typedef struct _CI_DEVICE_EXTENSION {
  ULONG_PTR Base;              // first port number, or the mapped system address of a memory window
  ULONG Length;                // window length in bytes
  ULONG AddressSpace;          // 1 = port space, 0 = memory space
  PDEVICE_OBJECT Self;         // our own device object
  PDEVICE_OBJECT LowerDevice;  // where requests are passed down
  UCHAR Started;               // requests from the application are served only while TRUE
  UCHAR Removed;               // a surprise removal or removal has been handled
  UCHAR Mapped;                // Base holds a mapping that must be unmapped
  IO_REMOVE_LOCK RemoveLock;   // held around every request; removal waits for it to drain
} CI_DEVICE_EXTENSION, *PCI_DEVICE_EXTENSION;

#ifdef __cplusplus
extern "C" {
#endif

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);

#ifdef __cplusplus
}
#endif

NTSTATUS NTAPI CiAddDevice(PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT PhysicalDeviceObject);
VOID NTAPI CiUnload(PDRIVER_OBJECT DriverObject);
NTSTATUS NTAPI CiDispatchIo(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS NTAPI CiDispatchPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS NTAPI CiDispatchPower(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS NTAPI CiDispatchSystemControl(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS NTAPI CiStartCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context);
NTSTATUS CiStartDevice(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS CiReadRegister(PCI_DEVICE_EXTENSION Extension, PIRP Irp, PIO_STACK_LOCATION Stack,
                        ULONG IoControlCode);
NTSTATUS CiWriteRegister(PCI_DEVICE_EXTENSION Extension, PIRP Irp, PIO_STACK_LOCATION Stack,
                         ULONG IoControlCode);
