// cibus.sys: a stand-in PC Card bus for Wine's kernel-driver host. Root-enumerated (installed on a
// ROOT\ device by its INF), it reports up to two children that carry the host adapter's hardware
// IDs, so that plug and play binds the function driver of cicard.inf to them, and it answers
// their start as the physical device object does on a real bus: with the raw and translated
// resource lists of the card's register window. The card behind the window is a model in a
// user-mode DLL loaded into the same process (card_model.h), which also takes over the driver's
// register accesses.
//
// Wine sends IRP_MN_START_DEVICE with both resource lists NULL. The function driver copies its
// stack location to ours and reads the lists from its own location once we have completed, so
// the child's start handler writes them into every location above its own.
//
// A control device, \\.\MorvaneCiBus, takes one buffered request: a command text in, a reply
// text out ("card <options>", "none", "status"; see sim/windows/cibus-control.cpp).
//
// Freestanding C++ like the driver it hosts: no run-time library, no global constructors. The
// two user-mode routines it needs come from kernelbase.dll: an image that imports kernel32.dll
// is started like a DLL by Wine, not as a driver.
#include <ddk/wdm.h>

#include "card_model.h"

extern "C" {
__declspec(dllimport) void* __stdcall LoadLibraryW(const wchar_t* name);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);
NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);
}

#define CIBUS_CONTROL_CODE CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS)

namespace {

enum DeviceKind : ULONG { kControl = 0x4C525443, kBus = 0x20535542, kCard = 0x44524143 };
constexpr ULONG kSlots = 2;
constexpr ULONG kPoolTag = 0x43627553;  // "SubC"

struct ControlExtension {
  ULONG Kind;
};

struct BusExtension {
  ULONG Kind;
  PDEVICE_OBJECT Physical;  // the root device Wine made for our ROOT\ instance
  PDEVICE_OBJECT Lower;
};

struct CardExtension {
  ULONG Kind;
  ULONG Slot;
  BOOLEAN Reported;  // in the bus's last answer to the bus relations query
  BOOLEAN Started;
  CM_RESOURCE_LIST Raw;  // one full descriptor with one partial descriptor each
  CM_RESOURCE_LIST Translated;
};

// The one bus of the process and what it reports; written by the control requests and read by
// the plug-and-play requests, which Wine sends from its own thread.
PDEVICE_OBJECT g_bus = NULL;
PDEVICE_OBJECT g_cards[kSlots] = {NULL, NULL};
volatile LONG g_wanted = 0;
MORVANE_CARD_PLAN g_plan;
KEVENT g_relationsChanged;

MORVANE_CARD_CONFIGURE g_configure = NULL;
MORVANE_CARD_STARTED g_started = NULL;
MORVANE_CARD_GONE g_gone = NULL;
MORVANE_CARD_STATUS g_status = NULL;

ULONG KindOf(PDEVICE_OBJECT device) {
  return *static_cast<ULONG*>(device->DeviceExtension);
}

NTSTATUS Complete(PIRP Irp, NTSTATUS status) {
  Irp->IoStatus.Status = status;
  IofCompleteRequest(Irp, IO_NO_INCREMENT);
  return status;
}

NTSTATUS PassDown(PDEVICE_OBJECT lower, PIRP Irp) {
  IoSkipCurrentIrpStackLocation(Irp);
  return IofCallDriver(lower, Irp);
}

// Wine's plug-and-play manager enumerates the bus again whenever we say its children changed.
// The call is made from a thread of our own: a card pulled by the model in the middle of a
// register access must not wait for its own removal in the thread that holds that request.
VOID NTAPI RelationsWorker(PVOID) {
  for (;;) {
    KeWaitForSingleObject(&g_relationsChanged, Executive, KernelMode, FALSE, NULL);
    BusExtension* bus = g_bus ? static_cast<BusExtension*>(g_bus->DeviceExtension) : NULL;
    if (bus != NULL) IoInvalidateDeviceRelations(bus->Physical, BusRelations);
  }
}

VOID __stdcall Unplug() {
  InterlockedExchange(&g_wanted, 0);
  KeSetEvent(&g_relationsChanged, IO_NO_INCREMENT, FALSE);
}

// --- Text helpers (no run-time library). ---
SIZE_T Length(const char* text) {
  SIZE_T n = 0;
  while (text[n] != 0) ++n;
  return n;
}
BOOLEAN StartsWith(const char* text, const char* prefix) {
  for (; *prefix != 0; ++text, ++prefix) {
    if (*text != *prefix) return FALSE;
  }
  return TRUE;
}
void Append(char* out, SIZE_T size, SIZE_T* used, const char* text) {
  for (; *text != 0 && *used + 1 < size; ++text) out[(*used)++] = *text;
  out[*used] = 0;
}

BOOLEAN LoadModel() {
  if (g_configure != NULL) return TRUE;
  void* model = LoadLibraryW(L"morvane_card.dll");
  if (model == NULL) return FALSE;
  g_started = reinterpret_cast<MORVANE_CARD_STARTED>(GetProcAddress(model, "MorvaneCardStarted"));
  g_gone = reinterpret_cast<MORVANE_CARD_GONE>(GetProcAddress(model, "MorvaneCardGone"));
  g_status = reinterpret_cast<MORVANE_CARD_STATUS>(GetProcAddress(model, "MorvaneCardStatus"));
  MORVANE_CARD_CONFIGURE configure =
      reinterpret_cast<MORVANE_CARD_CONFIGURE>(GetProcAddress(model, "MorvaneCardConfigure"));
  if (g_started == NULL || g_gone == NULL || g_status == NULL || configure == NULL) return FALSE;
  g_configure = configure;
  return TRUE;
}

// One command of the control device; the reply is a line of text.
void Command(const char* command, char* reply, SIZE_T size) {
  SIZE_T used = 0;
  reply[0] = 0;
  if (StartsWith(command, "card")) {
    if (!LoadModel()) {
      Append(reply, size, &used, "error: morvane_card.dll did not load");
      return;
    }
    if (g_wanted != 0) {
      Append(reply, size, &used, "error: a card is in the slot");
      return;
    }
    MORVANE_CARD_PLAN plan;
    if (!g_configure(command + 4, &plan, Unplug, reply, static_cast<ULONG>(size))) return;
    g_plan = plan;
    InterlockedExchange(&g_wanted, static_cast<LONG>(plan.Cards));
    KeSetEvent(&g_relationsChanged, IO_NO_INCREMENT, FALSE);
  } else if (StartsWith(command, "none")) {
    Unplug();
    Append(reply, size, &used, "ok");
  } else if (StartsWith(command, "status")) {
    Append(reply, size, &used, g_bus ? "bus=started" : "bus=absent");
    for (ULONG slot = 0; slot < kSlots; ++slot) {
      PDEVICE_OBJECT card = g_cards[slot];
      Append(reply, size, &used, slot == 0 ? " child0=" : " child1=");
      if (card == NULL) {
        Append(reply, size, &used, "none");
      } else {
        // A child whose function driver's add-device failed has nothing attached.
        const CardExtension* extension = static_cast<CardExtension*>(card->DeviceExtension);
        Append(reply, size, &used,
               card->AttachedDevice == NULL ? "no-driver"
               : extension->Started         ? "started"
                                            : "attached");
      }
    }
    if (g_status != NULL) {
      Append(reply, size, &used, " ");
      g_status(reply + used, static_cast<ULONG>(size - used));
    }
  } else {
    Append(reply, size, &used, "error: commands are card, none, status");
  }
}

NTSTATUS ControlRequest(PIRP Irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  Irp->IoStatus.Information = 0;
  if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL) return Complete(Irp, STATUS_SUCCESS);
  const ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
  if (stack->Parameters.DeviceIoControl.IoControlCode != CIBUS_CONTROL_CODE || in == 0 ||
      in > 1024 || out < 2)
    return Complete(Irp, STATUS_INVALID_PARAMETER);
  char command[1025];
  const char* buffer = static_cast<const char*>(Irp->AssociatedIrp.SystemBuffer);
  for (ULONG i = 0; i < in; ++i) command[i] = buffer[i];
  command[in] = 0;
  char* reply = static_cast<char*>(Irp->AssociatedIrp.SystemBuffer);
  Command(command, reply, out);
  Irp->IoStatus.Information = Length(reply) + 1;
  return Complete(Irp, STATUS_SUCCESS);
}

// --- The children. ---

// A multi-string of `text` in pool memory, which the plug-and-play manager frees.
WCHAR* PoolMultiString(const WCHAR* text, SIZE_T characters) {
  WCHAR* copy =
      static_cast<WCHAR*>(ExAllocatePoolWithTag(PagedPool, characters * sizeof(WCHAR), kPoolTag));
  if (copy != NULL) {
    for (SIZE_T i = 0; i < characters; ++i) copy[i] = text[i];
  }
  return copy;
}

NTSTATUS QueryId(CardExtension* card, PIRP Irp, PIO_STACK_LOCATION stack) {
  const WCHAR* hardwareIds = g_plan.HardwareIds;  // ends in two NULs
  SIZE_T idsLength = 0;
  while (hardwareIds[idsLength] != 0 || hardwareIds[idsLength + 1] != 0) ++idsLength;
  idsLength += 2;
  static const WCHAR noIds[] = L"\0";
  WCHAR instance[] = L"0\0";
  instance[0] = static_cast<WCHAR>(L'0' + card->Slot);
  WCHAR* id = NULL;
  switch (stack->Parameters.QueryId.IdType) {
    case BusQueryDeviceID: {
      SIZE_T n = 0;
      while (hardwareIds[n] != 0) ++n;
      id = PoolMultiString(hardwareIds, n + 1);
      break;
    }
    case BusQueryHardwareIDs:
      id = PoolMultiString(hardwareIds, idsLength);
      break;
    case BusQueryCompatibleIDs:
      id = PoolMultiString(noIds, 2);
      break;
    case BusQueryInstanceID:
      id = PoolMultiString(instance, 2);
      break;
    default:
      return Complete(Irp, Irp->IoStatus.Status);
  }
  if (id == NULL) return Complete(Irp, STATUS_INSUFFICIENT_RESOURCES);
  Irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(id);
  return Complete(Irp, STATUS_SUCCESS);
}

void FillLists(CardExtension* card) {
  const MORVANE_CARD_PLAN& plan = g_plan;
  CM_RESOURCE_LIST* lists[2] = {&card->Raw, &card->Translated};
  for (ULONG i = 0; i < 2; ++i) {
    CM_RESOURCE_LIST* list = lists[i];
    list->Count = 1;
    list->List[0].InterfaceType = PCMCIABus;
    list->List[0].BusNumber = 0;
    list->List[0].PartialResourceList.Version = 1;
    list->List[0].PartialResourceList.Revision = 1;
    list->List[0].PartialResourceList.Count = 1;
    CM_PARTIAL_RESOURCE_DESCRIPTOR* d = &list->List[0].PartialResourceList.PartialDescriptors[0];
    d->ShareDisposition = CmResourceShareDeviceExclusive;
    const BOOLEAN port = plan.Window == MORVANE_WINDOW_PORT ||
                         (plan.Window == MORVANE_WINDOW_PORT_AS_MEMORY && i == 0);
    if (port) {
      d->Type = CmResourceTypePort;
      d->Flags = CM_RESOURCE_PORT_IO;
      d->u.Port.Start.QuadPart = plan.Port;
      d->u.Port.Length = plan.Length;
    } else {
      d->Type = CmResourceTypeMemory;
      d->Flags = CM_RESOURCE_MEMORY_READ_WRITE;
      d->u.Memory.Start.QuadPart = static_cast<LONGLONG>(plan.Memory);
      d->u.Memory.Length = plan.Length;
    }
  }
}

// The child's start: hands the window to every driver above (their stack locations lie above
// ours in the request) and lets the model take over the function driver's window routines.
NTSTATUS StartCard(PDEVICE_OBJECT device, CardExtension* card, PIRP Irp) {
  FillLists(card);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  for (CHAR location = Irp->CurrentLocation + 1; location <= Irp->StackCount; ++location) {
    PIO_STACK_LOCATION upper = stack + (location - Irp->CurrentLocation);
    upper->Parameters.StartDevice.AllocatedResources = &card->Raw;
    upper->Parameters.StartDevice.AllocatedResourcesTranslated = &card->Translated;
  }
  PDEVICE_OBJECT function = device->AttachedDevice;
  if (function != NULL && g_started != NULL)
    g_started(card->Slot, function->DriverObject->DriverStart);
  card->Started = TRUE;
  return Complete(Irp, STATUS_SUCCESS);
}

NTSTATUS CardPnp(PDEVICE_OBJECT device, PIRP Irp) {
  CardExtension* card = static_cast<CardExtension*>(device->DeviceExtension);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
      return StartCard(device, card, Irp);
    case IRP_MN_QUERY_ID:
      return QueryId(card, Irp, stack);
    case IRP_MN_QUERY_CAPABILITIES: {
      DEVICE_CAPABILITIES* caps = stack->Parameters.DeviceCapabilities.Capabilities;
      caps->Removable = TRUE;
      caps->SurpriseRemovalOK = TRUE;
      caps->UniqueID = FALSE;
      caps->Address = card->Slot;
      caps->UINumber = card->Slot;
      return Complete(Irp, STATUS_SUCCESS);
    }
    case IRP_MN_SURPRISE_REMOVAL:
      card->Started = FALSE;
      if (g_gone != NULL) g_gone(card->Slot);
      return Complete(Irp, STATUS_SUCCESS);
    case IRP_MN_REMOVE_DEVICE:
      card->Started = FALSE;
      Complete(Irp, STATUS_SUCCESS);
      // Still reported: the device stays (a real bus keeps a PDO until its card goes).
      if (!card->Reported) {
        if (g_cards[card->Slot] == device) g_cards[card->Slot] = NULL;
        IoDeleteDevice(device);
      }
      return STATUS_SUCCESS;
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
      return Complete(Irp, STATUS_SUCCESS);
    default:
      return Complete(Irp, Irp->IoStatus.Status);
  }
}

// --- The bus. ---

NTSTATUS ReportChildren(PDEVICE_OBJECT device, PIRP Irp) {
  BusExtension* bus = static_cast<BusExtension*>(device->DeviceExtension);
  const ULONG wanted = static_cast<ULONG>(g_wanted);
  ULONG count = 0;
  for (ULONG slot = 0; slot < kSlots; ++slot) {
    if (slot >= wanted) {
      // Gone from the bus: the plug-and-play manager removes it; a new card is a new device.
      if (g_cards[slot] != NULL) {
        static_cast<CardExtension*>(g_cards[slot]->DeviceExtension)->Reported = FALSE;
        g_cards[slot] = NULL;
      }
      continue;
    }
    if (g_cards[slot] == NULL) {
      PDEVICE_OBJECT child = NULL;
      if (!NT_SUCCESS(IoCreateDevice(device->DriverObject, sizeof(CardExtension), NULL,
                                     FILE_DEVICE_BUS_EXTENDER, FILE_AUTOGENERATED_DEVICE_NAME,
                                     FALSE, &child)))
        continue;
      CardExtension* card = static_cast<CardExtension*>(child->DeviceExtension);
      card->Kind = kCard;
      card->Slot = slot;
      card->Started = FALSE;
      child->Flags &= ~DO_DEVICE_INITIALIZING;
      g_cards[slot] = child;
    }
    static_cast<CardExtension*>(g_cards[slot]->DeviceExtension)->Reported = TRUE;
    ++count;
  }
  const SIZE_T size = sizeof(DEVICE_RELATIONS) + kSlots * sizeof(PDEVICE_OBJECT);
  DEVICE_RELATIONS* relations =
      static_cast<DEVICE_RELATIONS*>(ExAllocatePoolWithTag(PagedPool, size, kPoolTag));
  if (relations == NULL) return Complete(Irp, STATUS_INSUFFICIENT_RESOURCES);
  relations->Count = 0;
  for (ULONG slot = 0; slot < kSlots; ++slot) {
    if (g_cards[slot] == NULL) continue;
    ObfReferenceObject(g_cards[slot]);
    relations->Objects[relations->Count++] = g_cards[slot];
  }
  (void)count;
  Irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(relations);
  Irp->IoStatus.Status = STATUS_SUCCESS;
  return PassDown(bus->Lower, Irp);
}

NTSTATUS NTAPI StartCompletion(PDEVICE_OBJECT, PIRP, PVOID Context) {
  KeSetEvent(static_cast<PKEVENT>(Context), IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS BusPnp(PDEVICE_OBJECT device, PIRP Irp) {
  BusExtension* bus = static_cast<BusExtension*>(device->DeviceExtension);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE: {
      KEVENT event;
      KeInitializeEvent(&event, NotificationEvent, FALSE);
      IoCopyCurrentIrpStackLocationToNext(Irp);
      IoSetCompletionRoutine(Irp, StartCompletion, &event, TRUE, TRUE, TRUE);
      if (IofCallDriver(bus->Lower, Irp) == STATUS_PENDING)
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, NULL);
      // The root device of Wine may leave the start unanswered: the bus itself needs nothing.
      return Complete(Irp, STATUS_SUCCESS);
    }
    case IRP_MN_QUERY_DEVICE_RELATIONS:
      if (stack->Parameters.QueryDeviceRelations.Type == BusRelations)
        return ReportChildren(device, Irp);
      return PassDown(bus->Lower, Irp);
    case IRP_MN_REMOVE_DEVICE: {
      Irp->IoStatus.Status = STATUS_SUCCESS;
      const NTSTATUS status = PassDown(bus->Lower, Irp);
      g_bus = NULL;
      IoDetachDevice(bus->Lower);
      IoDeleteDevice(device);
      return status;
    }
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
      Irp->IoStatus.Status = STATUS_SUCCESS;
      return PassDown(bus->Lower, Irp);
    default:
      return PassDown(bus->Lower, Irp);
  }
}

NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT device, PIRP Irp) {
  switch (KindOf(device)) {
    case kBus:
      return BusPnp(device, Irp);
    case kCard:
      return CardPnp(device, Irp);
    default:
      return Complete(Irp, STATUS_INVALID_DEVICE_REQUEST);
  }
}

NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT device, PIRP Irp) {
  PoStartNextPowerIrp(Irp);
  if (KindOf(device) == kBus) {
    IoSkipCurrentIrpStackLocation(Irp);
    return PoCallDriver(static_cast<BusExtension*>(device->DeviceExtension)->Lower, Irp);
  }
  return Complete(Irp, KindOf(device) == kCard ? STATUS_SUCCESS : STATUS_INVALID_DEVICE_REQUEST);
}

NTSTATUS NTAPI DispatchOther(PDEVICE_OBJECT device, PIRP Irp) {
  switch (KindOf(device)) {
    case kControl:
      return ControlRequest(Irp);
    case kBus:
      return PassDown(static_cast<BusExtension*>(device->DeviceExtension)->Lower, Irp);
    default:
      return Complete(Irp, Irp->IoStatus.Status);
  }
}

NTSTATUS NTAPI AddBus(PDRIVER_OBJECT driver, PDEVICE_OBJECT physical) {
  if (g_bus != NULL) return STATUS_OBJECT_NAME_COLLISION;  // one bus per process
  PDEVICE_OBJECT device = NULL;
  NTSTATUS status = IoCreateDevice(driver, sizeof(BusExtension), NULL, FILE_DEVICE_BUS_EXTENDER, 0,
                                   FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  BusExtension* bus = static_cast<BusExtension*>(device->DeviceExtension);
  bus->Kind = kBus;
  bus->Physical = physical;
  bus->Lower = IoAttachDeviceToDeviceStack(device, physical);
  if (bus->Lower == NULL) {
    IoDeleteDevice(device);
    return STATUS_NO_SUCH_DEVICE;
  }
  device->Flags |= DO_POWER_PAGABLE;
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  g_bus = device;
  return STATUS_SUCCESS;
}

VOID NTAPI Unload(PDRIVER_OBJECT) {}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING) {
  KeInitializeEvent(&g_relationsChanged, SynchronizationEvent, FALSE);
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, L"\\Device\\MorvaneCiBus");
  PDEVICE_OBJECT control = NULL;
  NTSTATUS status = IoCreateDevice(DriverObject, sizeof(ControlExtension), &name,
                                   FILE_DEVICE_UNKNOWN, 0, FALSE, &control);
  if (!NT_SUCCESS(status)) return status;
  static_cast<ControlExtension*>(control->DeviceExtension)->Kind = kControl;
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, L"\\DosDevices\\MorvaneCiBus");
  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(control);
    return status;
  }
  control->Flags &= ~DO_DEVICE_INITIALIZING;

  HANDLE worker = NULL;
  status =
      PsCreateSystemThread(&worker, THREAD_ALL_ACCESS, NULL, NULL, NULL, RelationsWorker, NULL);
  if (!NT_SUCCESS(status)) return status;
  ZwClose(worker);

  for (ULONG i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i)
    DriverObject->MajorFunction[i] = DispatchOther;
  DriverObject->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
  DriverObject->MajorFunction[IRP_MJ_POWER] = DispatchPower;
  DriverObject->DriverExtension->AddDevice = AddBus;
  DriverObject->DriverUnload = Unload;
  return STATUS_SUCCESS;
}
