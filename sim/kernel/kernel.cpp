// The kernel stand-in: its life, and the loading of the driver. The managers live one to a
// file: objects and names (kernel_objects.cpp), I/O and requests (kernel_io.cpp), plug and play
// and power (kernel_pnp.cpp), HAL and mapping (kernel_hal.cpp), the verifier's end-of-run
// checks (kernel_verifier.cpp), and the WDM routines of <ddk/wdm.h> (kernel_wdm.cpp).
#include "kernel.h"

#include <cstdio>
#include <cstdlib>

#include "kernel_internal.h"

namespace sim {
namespace {

Kernel* g_current = nullptr;

}  // namespace

using namespace kernel_internal;

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

}  // namespace sim
