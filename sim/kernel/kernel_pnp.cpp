// The PnP manager and the bus driver below the function device: adapters plugged in, their
// resources in raw and translated form, start, stop and removal, and power requests.
#include "kernel.h"

#include <algorithm>
#include <cstddef>

#include "kernel_internal.h"

namespace sim {

using namespace kernel_internal;

namespace {

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

// --- Power ----------------------------------------------------------------------------------

void Kernel::StartNextPowerIrp(PIRP) {
  std::lock_guard lock(mutex_);
  ++startNextPowerCalls_;
}

int Kernel::StartNextPowerCalls() const {
  std::lock_guard lock(mutex_);
  return startNextPowerCalls_;
}

}  // namespace sim
