// A stand-in for the NT kernel, as far as the register driver uses it: driver and device
// objects, the object namespace (device names, symbolic links, opening by name), IRPs with
// stack locations and completion, the I/O manager's buffered device control, remove locks,
// events, the PnP manager's start/stop/removal requests with raw and translated resources,
// power requests, MmMapIoSpace over simulated physical windows, and the port and register
// routines reaching those windows, in which a card (a BusCard: the simulated CI module) may
// sit.
//
// It also checks what the platform's verifier would: every request completed exactly once and
// never with STATUS_PENDING, remove-lock acquisitions balanced, no register access to a window
// after it was released, Information never larger than the caller's output buffer, every
// mapping unmapped. Check Violations() at the end of a test.
//
// One Kernel exists at a time: the WDM routines of <ddk/wdm.h> reach it through Current().
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <ddk/wdm.h>

#include "bus_card.h"

namespace sim {

// One resource descriptor as the PnP manager hands it to a start, in raw and translated form.
struct ResourceDescriptor {
  UCHAR rawType = CmResourceTypeNull;
  UCHAR translatedType = CmResourceTypeNull;
  std::uint64_t rawStart = 0;
  std::uint64_t translatedStart = 0;
  ULONG length = 0;

  static ResourceDescriptor Port(std::uint32_t firstPort, ULONG length);
  // A port range that the bus translates into memory space at `physical`.
  static ResourceDescriptor PortAsMemory(std::uint32_t firstPort, std::uint64_t physical,
                                         ULONG length);
  static ResourceDescriptor Memory(std::uint64_t physical, ULONG length);
  static ResourceDescriptor Interrupt(ULONG vector);
  static ResourceDescriptor Dma(ULONG channel);
  static ResourceDescriptor DevicePrivate();
  // Any other type, in both forms.
  static ResourceDescriptor OfType(UCHAR type);
};

struct ResourceSet {
  std::vector<ResourceDescriptor> descriptors;
  bool rawAbsent = false;         // no AllocatedResources
  bool translatedAbsent = false;  // no AllocatedResourcesTranslated
  ULONG translatedShortBy = 0;    // the translated list counts this many descriptors fewer
};

// One register access that reached the hardware (address: port number or physical address).
struct RegisterAccess {
  bool memory = false;
  std::uint64_t address = 0;
  int width = 1;
  bool write = false;
  std::uint32_t value = 0;
  bool operator==(const RegisterAccess&) const = default;
};

struct Mapping {
  std::uintptr_t virtualAddress = 0;
  std::uint64_t physical = 0;
  std::size_t length = 0;
  MEMORY_CACHING_TYPE cache = MmNonCached;
  bool live = false;
};

// How the bus driver below the function driver answers a start request.
struct LowerStart {
  NTSTATUS status = STATUS_SUCCESS;
  bool pending = false;  // answer STATUS_PENDING and complete later from another thread
};

// The access an open asks for, and who asks.
struct OpenAccess {
  bool read = true;
  bool write = true;
  bool administrator = true;
};

struct ControlResult {
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  ULONG_PTR information = 0;
  bool operator==(const ControlResult&) const = default;
};

class Kernel {
 public:
  using Handle = std::intptr_t;
  using AdapterId = int;
  static constexpr Handle kInvalidHandle = -1;

  Kernel();
  ~Kernel();
  Kernel(const Kernel&) = delete;
  Kernel& operator=(const Kernel&) = delete;

  static Kernel& Current();

  // --- The machine: register windows on the bus. Bytes 0..3 of a window reach the registers
  // 0..3 of `card` when one is given; every other byte is a plain latch. Unclaimed addresses
  // read 0xFF.
  void AddPortWindow(std::uint32_t firstPort, std::uint32_t length, BusCard* card = nullptr);
  void AddMemoryWindow(std::uint64_t physical, std::uint32_t length, BusCard* card = nullptr);

  // --- Driver loading ---
  NTSTATUS LoadDriver(PDRIVER_INITIALIZE entry);
  // Calls the unload routine; refused (false) while the driver still has devices.
  bool UnloadDriver();

  // --- The PnP manager ---
  // A new adapter on the bus: creates its physical device object and calls AddDevice.
  AdapterId PlugAdapter();
  NTSTATUS AddDeviceStatus(AdapterId adapter) const;
  // The function device attached above the adapter's physical device object, or null.
  PDEVICE_OBJECT FunctionDevice(AdapterId adapter) const;
  void SetLowerStart(AdapterId adapter, LowerStart behaviour);
  NTSTATUS Start(AdapterId adapter, const ResourceSet& resources);
  NTSTATUS SurpriseRemove(AdapterId adapter);
  // The removal request; the adapter's resources are released once it returns.
  NTSTATUS Remove(AdapterId adapter);
  // Any other PnP request (query/cancel/stop, capabilities, ...).
  NTSTATUS SendPnp(AdapterId adapter, UCHAR minorFunction);
  NTSTATUS SendPower(AdapterId adapter, UCHAR minorFunction);
  NTSTATUS SendSystemControl(AdapterId adapter);
  int StartNextPowerCalls() const;

  // --- The I/O manager: "\\.\NAME[\rest]" is looked up as the link "\DosDevices\NAME".
  NTSTATUS Open(const std::string& path, OpenAccess access, Handle* handle);
  ControlResult Control(Handle handle, ULONG code, const void* input, ULONG inputLength,
                        void* output, ULONG outputLength);
  NTSTATUS Close(Handle handle);
  bool LinkExists(const std::wstring& linkName) const;
  bool DeviceNameExists(const std::wstring& deviceName) const;
  // A symbolic link owned by someone else.
  void CreateForeignLink(const std::wstring& linkName, const std::wstring& target);

  // --- Failure knobs ---
  void FailMapIoSpace(int count = 1);
  void FailNextAttach();

  // --- What happened ---
  std::vector<RegisterAccess> Accesses() const;
  void ClearAccesses();
  // Whether register accesses are kept for Accesses() (on by default); a long run that never
  // asks turns it off rather than keep every access of a whole update.
  void RecordAccesses(bool record);
  std::vector<Mapping> Mappings() const;
  // Runs in the requesting thread just before each register access reaches the hardware.
  void SetAccessHook(std::function<void(const RegisterAccess&)> hook);
  // Blocks (up to a few seconds of real time) until a thread waits in
  // IoReleaseRemoveLockAndWaitEx; false if none came.
  bool WaitForRemovalWaiter();
  std::vector<std::string> Violations() const;
  // Joins the kernel's threads and runs the checks that need the end of the run (mappings
  // left, remove-lock acquisitions never released, devices never deleted).
  void Shutdown();

  // --- Entry points of the WDM routines (called through <ddk/wdm.h>) ---
  void Report(const std::string& violation);
  NTSTATUS CreateDevice(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name,
                        DEVICE_TYPE type, ULONG characteristics, PDEVICE_OBJECT* device);
  void DeleteDevice(PDEVICE_OBJECT device);
  NTSTATUS CreateSymbolicLink(PUNICODE_STRING link, PUNICODE_STRING target);
  NTSTATUS DeleteSymbolicLink(PUNICODE_STRING link);
  PDEVICE_OBJECT AttachDevice(PDEVICE_OBJECT source, PDEVICE_OBJECT target);
  void DetachDevice(PDEVICE_OBJECT target);
  NTSTATUS CallDriver(PDEVICE_OBJECT device, PIRP irp);
  void CompleteRequest(PIRP irp);
  void InitializeEvent(PKEVENT event, EVENT_TYPE type, BOOLEAN state);
  LONG SetEvent(PKEVENT event);
  NTSTATUS WaitForEvent(PKEVENT event);
  void InitializeRemoveLock(PIO_REMOVE_LOCK lock, ULONG tag, ULONG size);
  NTSTATUS AcquireRemoveLock(PIO_REMOVE_LOCK lock, PVOID tag, PCSTR file, ULONG size);
  void ReleaseRemoveLock(PIO_REMOVE_LOCK lock, PVOID tag, ULONG size);
  void ReleaseRemoveLockAndWait(PIO_REMOVE_LOCK lock, PVOID tag, ULONG size);
  void StartNextPowerIrp(PIRP irp);
  PVOID MapIoSpace(PHYSICAL_ADDRESS physical, SIZE_T length, MEMORY_CACHING_TYPE cache);
  void UnmapIoSpace(PVOID address, SIZE_T length);
  std::uint32_t ReadRegister(bool memory, std::uintptr_t address, int width);
  void WriteRegister(bool memory, std::uintptr_t address, int width, std::uint32_t value);

 private:
  struct Window {
    bool memory = false;
    std::uint64_t start = 0;
    std::uint32_t length = 0;
    BusCard* card = nullptr;
    std::vector<std::uint8_t> latches;
  };
  struct DeviceRecord {
    std::unique_ptr<DEVICE_OBJECT> object;
    std::unique_ptr<std::uint64_t[]> extension;
    std::size_t extensionSize = 0;
    std::wstring name;
    bool deleted = false;
    bool physical = false;
    int openHandles = 0;
    PDEVICE_OBJECT lowerDevice = nullptr;  // what this device is attached to
  };
  struct AdapterRecord {
    PDEVICE_OBJECT pdo = nullptr;
    NTSTATUS addDeviceStatus = STATUS_UNSUCCESSFUL;
    LowerStart lowerStart;
    std::vector<ResourceDescriptor> assigned;
    bool resourcesAssigned = false;
  };
  enum class IrpState { kInProgress, kCompleted };
  struct IrpRecord {
    IRP irp{};
    std::vector<IO_STACK_LOCATION> stack;
    IrpState state = IrpState::kInProgress;
  };
  struct FileRecord {
    std::unique_ptr<FILE_OBJECT> file;
    PDEVICE_OBJECT device = nullptr;  // the named device
    OpenAccess access;
  };
  struct RemoveLockRecord {
    std::multiset<PVOID> holders;
  };

  static NTSTATUS NTAPI InvalidRequest(PDEVICE_OBJECT device, PIRP irp);
  static NTSTATUS NTAPI BusDispatchPnp(PDEVICE_OBJECT device, PIRP irp);
  static NTSTATUS NTAPI BusDispatchPower(PDEVICE_OBJECT device, PIRP irp);
  static NTSTATUS NTAPI BusDispatchOther(PDEVICE_OBJECT device, PIRP irp);

  std::unique_ptr<IrpRecord> NewIrp(PDEVICE_OBJECT target);
  NTSTATUS SendAndWait(PDEVICE_OBJECT target, IrpRecord& record, const char* what);
  // Sends a request of `major`/`minor` to the top of the adapter's stack and waits for its
  // answer; `what` names it in the verifier's reports.
  NTSTATUS SendToAdapter(AdapterId adapter, UCHAR major, UCHAR minor, const char* what,
                         PCM_RESOURCE_LIST raw = nullptr, PCM_RESOURCE_LIST translated = nullptr);
  PDEVICE_OBJECT TopOf(PDEVICE_OBJECT device) const;
  DeviceRecord* RecordOf(PDEVICE_OBJECT device) const;
  AdapterRecord* AdapterOf(PDEVICE_OBJECT pdo);
  void FreeDeviceIfUnused(PDEVICE_OBJECT device);
  bool PortAssigned(std::uint64_t port, int width) const;
  Window* WindowAt(bool memory, std::uint64_t address, std::size_t& offset);
  std::uint8_t MachineRead(bool memory, std::uint64_t address);
  void MachineWrite(bool memory, std::uint64_t address, std::uint8_t value);
  std::uint64_t PhysicalOf(std::uintptr_t address, int width, bool& ok);
  // The hook runs before the access, without the kernel's lock held.
  void RunAccessHook(const RegisterAccess& access);
  // With the lock held: checks the IRQL and where the access goes; false when it reaches no
  // mapped window (the access then does not happen).
  bool AccessTarget(const RegisterAccess& access, std::uint64_t& target);
  void CheckNothingLeftAfterRemoval(AdapterRecord& adapter);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  mutable std::mutex violationsMutex_;
  std::vector<std::string> violations_;

  std::unique_ptr<DRIVER_OBJECT> driver_;
  std::unique_ptr<DRIVER_EXTENSION> driverExtension_;
  bool driverUnloaded_ = false;
  std::unique_ptr<DRIVER_OBJECT> busDriver_;

  std::map<PDEVICE_OBJECT, std::unique_ptr<DeviceRecord>> devices_;
  std::map<std::wstring, PDEVICE_OBJECT> names_;
  std::map<std::wstring, std::wstring> links_;
  std::vector<AdapterRecord> adapters_;
  std::map<PIRP, IrpRecord*> irps_;
  std::map<Handle, FileRecord> files_;
  Handle nextHandle_ = 0x40;
  std::map<PIO_REMOVE_LOCK, RemoveLockRecord> removeLocks_;
  int removalWaiters_ = 0;
  int eventWaiters_ = 0;
  int startNextPowerCalls_ = 0;

  std::vector<Window> windows_;
  std::vector<Mapping> mappings_;
  std::uintptr_t nextVirtual_ = 0x40000000u;
  int failMaps_ = 0;
  bool failAttach_ = false;
  std::vector<RegisterAccess> accesses_;
  bool recordAccesses_ = true;
  std::function<void(const RegisterAccess&)> accessHook_;

  std::vector<std::thread> workers_;
};

}  // namespace sim
