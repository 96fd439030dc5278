#include "libusb_backend.h"

#include <libusb.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace cibridge {

namespace {

constexpr int kAdapterInterface = 0;
constexpr const char* kInterfaceClassSuffix = "#{f4d5a772-3aec-4e57-ae3c-710b7baf8731}";

template <typename T>
T* AsPointer(UsbHandle handle) {
  return reinterpret_cast<T*>(handle);
}

template <typename T>
UsbHandle AsHandle(T* pointer) {
  return reinterpret_cast<UsbHandle>(pointer);
}

bool IsCiAdapter(const libusb_device_descriptor& descriptor) {
  return std::any_of(std::begin(kCiAdapterIds), std::end(kCiAdapterIds), [&](AdapterUsbId id) {
    return id.vendor == descriptor.idVendor && id.product == descriptor.idProduct;
  });
}

// The interface of the adapter's first interface number in the active configuration, with the
// given alternate setting; null when there is none. `config` must be freed by the caller.
const libusb_interface_descriptor* FindSetting(libusb_device_handle* handle,
                                               std::uint8_t alternateSetting,
                                               libusb_config_descriptor** config) {
  *config = nullptr;
  if (libusb_get_active_config_descriptor(libusb_get_device(handle), config) != 0) return nullptr;
  for (int i = 0; i < (*config)->bNumInterfaces; ++i) {
    const libusb_interface& candidate = (*config)->interface[i];
    for (int a = 0; a < candidate.num_altsetting; ++a) {
      const libusb_interface_descriptor& setting = candidate.altsetting[a];
      if (setting.bInterfaceNumber == kAdapterInterface &&
          setting.bAlternateSetting == alternateSetting) {
        return &setting;
      }
    }
  }
  return nullptr;
}

}  // namespace

std::string SynthesiseDevicePath(std::uint16_t vendor, std::uint16_t product, std::uint8_t bus,
                                 const std::uint8_t* ports, int portCount) {
  char ids[32];
  std::snprintf(ids, sizeof ids, "vid_%04x&pid_%04x", vendor, product);
  std::string path = "\\\\?\\usb#";
  path += ids;
  path += '#';
  path += std::to_string(bus);
  for (int i = 0; i < portCount; ++i) {
    path += (i == 0) ? '-' : '.';
    path += std::to_string(ports[i]);
  }
  path += kInterfaceClassSuffix;
  return path;
}

LibusbBackend::~LibusbBackend() {
  for (Interface* iface : interfaces_) {
    ReleaseInterface(*iface);
    delete iface;
  }
  for (DeviceFile* file : files_) {
    libusb_close(file->handle);
    delete file;
  }
  for (DeviceInfoSet* set : sets_) delete set;
  if (context_ != nullptr) libusb_exit(context_);
}

libusb_context* LibusbBackend::Context() {
  // Initialised on first use, so that loading the library touches no USB device.
  if (context_ == nullptr && libusb_init(&context_) != 0) context_ = nullptr;
  return context_;
}

std::vector<std::pair<libusb_device*, std::string>> LibusbBackend::ListAdapters(
    libusb_device*** list) {
  std::vector<std::pair<libusb_device*, std::string>> adapters;
  *list = nullptr;
  libusb_context* context = Context();
  if (context == nullptr) return adapters;
  const ssize_t count = libusb_get_device_list(context, list);
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device* device = (*list)[i];
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != 0 || !IsCiAdapter(descriptor)) {
      continue;
    }
    std::uint8_t ports[8] = {};
    const int portCount = libusb_get_port_numbers(device, ports, sizeof ports);
    adapters.emplace_back(device, SynthesiseDevicePath(descriptor.idVendor, descriptor.idProduct,
                                                       libusb_get_bus_number(device), ports,
                                                       portCount > 0 ? portCount : 0));
  }
  return adapters;
}

LibusbBackend::DeviceInfoSet* LibusbBackend::FindSet(UsbHandle handle) {
  auto* set = AsPointer<DeviceInfoSet>(handle);
  return sets_.count(set) != 0 ? set : nullptr;
}

LibusbBackend::DeviceFile* LibusbBackend::FindFile(UsbHandle handle) {
  auto* file = AsPointer<DeviceFile>(handle);
  return files_.count(file) != 0 ? file : nullptr;
}

LibusbBackend::Interface* LibusbBackend::FindInterface(UsbHandle handle) {
  auto* iface = AsPointer<Interface>(handle);
  return (interfaces_.count(iface) != 0 && iface->file != nullptr) ? iface : nullptr;
}

// --- Finding the adapter ---

UsbHandle LibusbBackend::GetClassDevices(const Guid& interfaceClass) {
  if (Context() == nullptr) return kInvalidHandleValue;
  auto* set = new DeviceInfoSet;
  // Only the CI adapter class has members; any other class gives an empty set.
  if (interfaceClass == GUID_DEVINTERFACE_CI_ADAPTER) {
    libusb_device** list = nullptr;
    for (auto& adapter : ListAdapters(&list)) set->paths.push_back(adapter.second);
    if (list != nullptr) libusb_free_device_list(list, 1);
  }
  sets_.insert(set);
  return AsHandle(set);
}

bool LibusbBackend::EnumDeviceInfo(UsbHandle deviceInfoSet, std::uint32_t memberIndex) {
  DeviceInfoSet* set = FindSet(deviceInfoSet);
  return set != nullptr && memberIndex < set->paths.size();
}

bool LibusbBackend::EnumDeviceInterfaces(UsbHandle deviceInfoSet, const Guid& interfaceClass,
                                         std::uint32_t memberIndex,
                                         DeviceInterfaceData* interfaceData) {
  DeviceInfoSet* set = FindSet(deviceInfoSet);
  if (set == nullptr || interfaceData == nullptr || memberIndex >= set->paths.size()) return false;
  interfaceData->interfaceClass = interfaceClass;
  interfaceData->flags = 1;  // active
  interfaceData->reserved = memberIndex;
  return true;
}

bool LibusbBackend::GetDeviceInterfaceDetail(UsbHandle deviceInfoSet,
                                             const DeviceInterfaceData& interfaceData,
                                             char* pathBuffer, std::uint32_t pathBufferSize,
                                             std::uint32_t* requiredSize) {
  DeviceInfoSet* set = FindSet(deviceInfoSet);
  if (set == nullptr || interfaceData.reserved >= set->paths.size()) return false;
  const std::string& path = set->paths[interfaceData.reserved];
  const auto needed = static_cast<std::uint32_t>(path.size() + 1);
  if (requiredSize != nullptr) *requiredSize = needed;
  if (pathBuffer == nullptr || pathBufferSize < needed) return false;
  std::memcpy(pathBuffer, path.c_str(), needed);
  return true;
}

bool LibusbBackend::DestroyDeviceInfoList(UsbHandle deviceInfoSet) {
  DeviceInfoSet* set = FindSet(deviceInfoSet);
  if (set == nullptr) return false;
  sets_.erase(set);
  delete set;
  return true;
}

// --- The device file ---

UsbHandle LibusbBackend::CreateDeviceFile(const char* devicePath) {
  if (devicePath == nullptr) return kInvalidHandleValue;
  libusb_device** list = nullptr;
  libusb_device_handle* handle = nullptr;
  for (auto& adapter : ListAdapters(&list)) {
    // Windows compares interface paths without regard to case.
    if (strcasecmp(adapter.second.c_str(), devicePath) == 0) {
      if (libusb_open(adapter.first, &handle) != 0) handle = nullptr;
      break;
    }
  }
  if (list != nullptr) libusb_free_device_list(list, 1);
  if (handle == nullptr) return kInvalidHandleValue;
  auto* file = new DeviceFile{handle};
  files_.insert(file);
  return AsHandle(file);
}

bool LibusbBackend::CloseDeviceFile(UsbHandle deviceFile) {
  DeviceFile* file = FindFile(deviceFile);
  if (file == nullptr) return false;
  // An interface still bound to the file loses it; its calls fail from now on.
  for (Interface* iface : interfaces_) {
    if (iface->file == file) {
      ReleaseInterface(*iface);
      iface->file = nullptr;
    }
  }
  libusb_close(file->handle);
  files_.erase(file);
  delete file;
  return true;
}

// --- The interface and its pipes ---

bool LibusbBackend::Initialize(UsbHandle deviceFile, UsbHandle* interfaceHandle) {
  DeviceFile* file = FindFile(deviceFile);
  if (file == nullptr || interfaceHandle == nullptr) return false;
  bool detached = false;
  if (libusb_kernel_driver_active(file->handle, kAdapterInterface) == 1) {
    if (libusb_detach_kernel_driver(file->handle, kAdapterInterface) != 0) return false;
    detached = true;
  }
  if (libusb_claim_interface(file->handle, kAdapterInterface) != 0) {
    if (detached) (void)libusb_attach_kernel_driver(file->handle, kAdapterInterface);
    return false;
  }
  auto* iface = new Interface;
  iface->file = file;
  iface->kernelDriverDetached = detached;
  interfaces_.insert(iface);
  *interfaceHandle = AsHandle(iface);
  return true;
}

void LibusbBackend::ReleaseInterface(Interface& iface) {
  if (iface.file == nullptr) return;
  (void)libusb_release_interface(iface.file->handle, kAdapterInterface);
  if (iface.kernelDriverDetached) {
    (void)libusb_attach_kernel_driver(iface.file->handle, kAdapterInterface);
  }
}

bool LibusbBackend::Free(UsbHandle interfaceHandle) {
  auto* iface = AsPointer<Interface>(interfaceHandle);
  if (interfaces_.count(iface) == 0) return false;
  ReleaseInterface(*iface);
  interfaces_.erase(iface);
  delete iface;
  return true;
}

bool LibusbBackend::QueryInterfaceSettings(UsbHandle interfaceHandle, std::uint8_t alternateSetting,
                                           UsbInterfaceDescriptor* descriptor) {
  Interface* iface = FindInterface(interfaceHandle);
  if (iface == nullptr || descriptor == nullptr) return false;
  libusb_config_descriptor* config = nullptr;
  const libusb_interface_descriptor* setting =
      FindSetting(iface->file->handle, alternateSetting, &config);
  if (setting != nullptr) {
    descriptor->bLength = setting->bLength;
    descriptor->bDescriptorType = setting->bDescriptorType;
    descriptor->bInterfaceNumber = setting->bInterfaceNumber;
    descriptor->bAlternateSetting = setting->bAlternateSetting;
    descriptor->bNumEndpoints = setting->bNumEndpoints;
    descriptor->bInterfaceClass = setting->bInterfaceClass;
    descriptor->bInterfaceSubClass = setting->bInterfaceSubClass;
    descriptor->bInterfaceProtocol = setting->bInterfaceProtocol;
    descriptor->iInterface = setting->iInterface;
  }
  if (config != nullptr) libusb_free_config_descriptor(config);
  return setting != nullptr;
}

bool LibusbBackend::SetCurrentAlternateSetting(UsbHandle interfaceHandle,
                                               std::uint8_t alternateSetting) {
  Interface* iface = FindInterface(interfaceHandle);
  if (iface == nullptr) return false;
  if (libusb_set_interface_alt_setting(iface->file->handle, kAdapterInterface, alternateSetting) !=
      0) {
    return false;
  }
  iface->alternateSetting = alternateSetting;
  for (auto& [id, pipe] : iface->pipes) {
    pipe.pending.clear();
    pipe.pendingOffset = 0;
  }
  return true;
}

bool LibusbBackend::QueryPipe(UsbHandle interfaceHandle, std::uint8_t alternateSetting,
                              std::uint8_t pipeIndex, PipeInformation* pipe) {
  Interface* iface = FindInterface(interfaceHandle);
  if (iface == nullptr || pipe == nullptr) return false;
  libusb_config_descriptor* config = nullptr;
  const libusb_interface_descriptor* setting =
      FindSetting(iface->file->handle, alternateSetting, &config);
  const bool found = setting != nullptr && pipeIndex < setting->bNumEndpoints;
  if (found) {
    const libusb_endpoint_descriptor& endpoint = setting->endpoint[pipeIndex];
    pipe->PipeType = static_cast<UsbPipeType>(endpoint.bmAttributes & 0x03);
    pipe->PipeId = endpoint.bEndpointAddress;
    pipe->MaximumPacketSize = endpoint.wMaxPacketSize;
    pipe->Interval = endpoint.bInterval;
  }
  if (config != nullptr) libusb_free_config_descriptor(config);
  return found;
}

bool LibusbBackend::FindEndpoint(const Interface& iface, std::uint8_t pipeId, Endpoint* endpoint) {
  if (pipeId == 0) return false;
  libusb_config_descriptor* config = nullptr;
  const libusb_interface_descriptor* setting =
      FindSetting(iface.file->handle, iface.alternateSetting, &config);
  bool found = false;
  for (int i = 0; setting != nullptr && i < setting->bNumEndpoints && !found; ++i) {
    const libusb_endpoint_descriptor& candidate = setting->endpoint[i];
    if (candidate.bEndpointAddress == pipeId) {
      endpoint->address = candidate.bEndpointAddress;
      endpoint->type = candidate.bmAttributes & 0x03;
      endpoint->maxPacketSize = candidate.wMaxPacketSize & 0x07FF;
      found = true;
    }
  }
  if (config != nullptr) libusb_free_config_descriptor(config);
  return found;
}

bool LibusbBackend::SetPipePolicy(UsbHandle interfaceHandle, std::uint8_t pipeId,
                                  std::uint32_t policy, std::uint32_t valueLength,
                                  const void* value) {
  Interface* iface = FindInterface(interfaceHandle);
  Endpoint endpoint;
  if (iface == nullptr || value == nullptr || !FindEndpoint(*iface, pipeId, &endpoint)) {
    return false;
  }
  if (valueLength == 0 || valueLength != PipePolicyValueLength(policy)) return false;
  if (policy == PIPE_TRANSFER_TIMEOUT) {
    std::uint32_t timeout = 0;
    std::memcpy(&timeout, value, sizeof timeout);
    iface->pipes[pipeId].timeoutMs = timeout;
  }
  // Reads here always keep the rest of a packet for the next read, and nothing is flushed or
  // cleared behind the caller's back: the behaviour the device layer asks for, whatever the
  // switches say.
  return true;
}

bool LibusbBackend::ResetPipe(UsbHandle interfaceHandle, std::uint8_t pipeId) {
  Interface* iface = FindInterface(interfaceHandle);
  Endpoint endpoint;
  if (iface == nullptr || !FindEndpoint(*iface, pipeId, &endpoint)) return false;
  return libusb_clear_halt(iface->file->handle, pipeId) == 0;
}

bool LibusbBackend::FlushPipe(UsbHandle interfaceHandle, std::uint8_t pipeId) {
  Interface* iface = FindInterface(interfaceHandle);
  Endpoint endpoint;
  if (iface == nullptr || !FindEndpoint(*iface, pipeId, &endpoint)) return false;
  Pipe& pipe = iface->pipes[pipeId];
  pipe.pending.clear();
  pipe.pendingOffset = 0;
  return true;
}

bool LibusbBackend::WritePipe(UsbHandle interfaceHandle, std::uint8_t pipeId,
                              const std::uint8_t* data, std::uint32_t length,
                              std::uint32_t* lengthTransferred) {
  if (lengthTransferred != nullptr) *lengthTransferred = 0;
  Interface* iface = FindInterface(interfaceHandle);
  Endpoint endpoint;
  if (iface == nullptr || data == nullptr || (pipeId & LIBUSB_ENDPOINT_IN) != 0 ||
      !FindEndpoint(*iface, pipeId, &endpoint)) {
    return false;
  }
  const unsigned timeout = iface->pipes[pipeId].timeoutMs;
  int transferred = 0;
  auto* bytes = const_cast<unsigned char*>(data);  // libusb takes one buffer for both directions
  int result = LIBUSB_ERROR_NOT_SUPPORTED;
  if (endpoint.type == LIBUSB_TRANSFER_TYPE_BULK) {
    result = libusb_bulk_transfer(iface->file->handle, pipeId, bytes, static_cast<int>(length),
                                  &transferred, timeout);
  } else if (endpoint.type == LIBUSB_TRANSFER_TYPE_INTERRUPT) {
    result = libusb_interrupt_transfer(iface->file->handle, pipeId, bytes, static_cast<int>(length),
                                       &transferred, timeout);
  }
  if (lengthTransferred != nullptr) *lengthTransferred = static_cast<std::uint32_t>(transferred);
  return result == 0;
}

bool LibusbBackend::ReadPipe(UsbHandle interfaceHandle, std::uint8_t pipeId, std::uint8_t* buffer,
                             std::uint32_t length, std::uint32_t* lengthTransferred) {
  if (lengthTransferred != nullptr) *lengthTransferred = 0;
  Interface* iface = FindInterface(interfaceHandle);
  Endpoint endpoint;
  if (iface == nullptr || buffer == nullptr || lengthTransferred == nullptr ||
      (pipeId & LIBUSB_ENDPOINT_IN) == 0 || !FindEndpoint(*iface, pipeId, &endpoint)) {
    return false;
  }
  Pipe& pipe = iface->pipes[pipeId];
  if (pipe.pendingOffset >= pipe.pending.size()) {
    // Nothing left over: fetch whole packets, enough to cover the request, into the pipe's
    // buffer, so that a device packet longer than the request is never cut off.
    const std::uint32_t packet = endpoint.maxPacketSize != 0 ? endpoint.maxPacketSize : 64;
    const std::uint32_t request = ((length + packet - 1) / packet) * packet;
    pipe.pending.assign(request, 0);
    pipe.pendingOffset = 0;
    int transferred = 0;
    int result = LIBUSB_ERROR_NOT_SUPPORTED;
    if (endpoint.type == LIBUSB_TRANSFER_TYPE_BULK) {
      result = libusb_bulk_transfer(iface->file->handle, pipeId, pipe.pending.data(),
                                    static_cast<int>(request), &transferred, pipe.timeoutMs);
    } else if (endpoint.type == LIBUSB_TRANSFER_TYPE_INTERRUPT) {
      result = libusb_interrupt_transfer(iface->file->handle, pipeId, pipe.pending.data(),
                                         static_cast<int>(request), &transferred, pipe.timeoutMs);
    }
    if (result != 0) {
      pipe.pending.clear();
      return false;
    }
    pipe.pending.resize(static_cast<std::size_t>(transferred));
  }
  const std::size_t available = pipe.pending.size() - pipe.pendingOffset;
  const std::size_t count = std::min<std::size_t>(available, length);
  std::memcpy(buffer, pipe.pending.data() + pipe.pendingOffset, count);
  pipe.pendingOffset += count;
  if (pipe.pendingOffset >= pipe.pending.size()) {
    pipe.pending.clear();
    pipe.pendingOffset = 0;
  }
  *lengthTransferred = static_cast<std::uint32_t>(count);
  return true;
}

bool LibusbBackend::ControlTransfer(UsbHandle interfaceHandle, const SetupPacket& setup,
                                    std::uint8_t* buffer, std::uint32_t length,
                                    std::uint32_t* lengthTransferred) {
  if (lengthTransferred != nullptr) *lengthTransferred = 0;
  Interface* iface = FindInterface(interfaceHandle);
  // The data stage never runs past the caller's buffer.
  if (iface == nullptr || setup.Length > length || (setup.Length > 0 && buffer == nullptr)) {
    return false;
  }
  const int result =
      libusb_control_transfer(iface->file->handle, setup.RequestType, setup.Request, setup.Value,
                              setup.Index, buffer, setup.Length, kControlTimeoutMs);
  if (result < 0) return false;
  if (lengthTransferred != nullptr) *lengthTransferred = static_cast<std::uint32_t>(result);
  return true;
}

}  // namespace cibridge
