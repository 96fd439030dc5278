#include "usbdevfs_adapter.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace bridge_test {

namespace {

// Device descriptor and configuration of the adapter running its program: interface 0 with
// alternate setting 0 (no endpoints) and 1 (bulk OUT 0x04, interrupt IN 0x88, 512 bytes).
constexpr const char* kAdapterDescriptors =
    "12010002000000400d1b105f000001020001"
    "0902290001010080fa"
    "0904000000ff000000"
    "0904000102ff000000"
    "07050402000200"
    "07058803000201";

}  // namespace

UsbdevfsAdapter::UsbdevfsAdapter(std::string kernelDriver)
    : kernelDriver_(std::move(kernelDriver)) {
  testbed_ = umockdev_testbed_new();
  handler_ = umockdev_ioctl_base_new();
  g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&UsbdevfsAdapter::OnIoctl), this);
  umockdev_testbed_attach_ioctl(testbed_, kDevNode, handler_, nullptr);

  umockdev_testbed_add_from_string(
      testbed_,
      "P: /devices/usb1\n"
      "N: bus/usb/001/001\n"
      "E: SUBSYSTEM=usb\n"
      "E: DEVTYPE=usb_device\n"
      "E: BUSNUM=001\n"
      "E: DEVNUM=001\n"
      "E: DEVNAME=/dev/bus/usb/001/001\n"
      "A: busnum=1\\n\n"
      "A: devnum=1\\n\n"
      "A: bConfigurationValue=1\\n\n"
      "A: speed=480\\n\n"
      "H: descriptors=12010002090001406b1d020006050302010109021900010100e000"
      "0904000001090000000705810304000c\n",
      nullptr);
  const std::string adapter = std::string(
                                  "P: /devices/usb1/1-4\n"
                                  "N: bus/usb/001/002\n"
                                  "E: SUBSYSTEM=usb\n"
                                  "E: DEVTYPE=usb_device\n"
                                  "E: BUSNUM=001\n"
                                  "E: DEVNUM=002\n"
                                  "E: DEVNAME=/dev/bus/usb/001/002\n"
                                  "A: busnum=1\\n\n"
                                  "A: devnum=2\\n\n"
                                  "A: bConfigurationValue=1\\n\n"
                                  "A: speed=480\\n\n"
                                  "H: descriptors=") +
                              kAdapterDescriptors + "\n";
  umockdev_testbed_add_from_string(testbed_, adapter.c_str(), nullptr);
}

UsbdevfsAdapter::~UsbdevfsAdapter() {
  for (UMockdevIoctlData* data : waitingIn_) g_object_unref(data);
  for (UMockdevIoctlData* data : completed_) g_object_unref(data);
  g_clear_object(&handler_);
  g_clear_object(&testbed_);
}

void UsbdevfsAdapter::AddForeignDevice() {
  umockdev_testbed_add_from_string(
      testbed_,
      "P: /devices/usb1/1-2\n"
      "N: bus/usb/001/003\n"
      "E: SUBSYSTEM=usb\n"
      "E: DEVTYPE=usb_device\n"
      "E: BUSNUM=001\n"
      "E: DEVNUM=003\n"
      "E: DEVNAME=/dev/bus/usb/001/003\n"
      "A: busnum=1\\n\n"
      "A: devnum=3\\n\n"
      "A: bConfigurationValue=1\\n\n"
      "A: speed=480\\n\n"
      "H: descriptors=12010002000000403412785600000102000109021200010100"
      "80fa0904000000ff000000\n",
      nullptr);
}

void UsbdevfsAdapter::ScriptReply(std::vector<Packet> packets) {
  std::lock_guard lock(mutex_);
  script_.push_back(std::move(packets));
}

void UsbdevfsAdapter::Unplug() {
  {
    std::lock_guard lock(mutex_);
    gone_ = true;
    for (UMockdevIoctlData* urbData : waitingIn_) {
      reinterpret_cast<usbdevfs_urb*>(urbData->data)->status = -ENODEV;
      reinterpret_cast<usbdevfs_urb*>(urbData->data)->actual_length = 0;
      completed_.push_back(urbData);
    }
    waitingIn_.clear();
  }
  umockdev_testbed_uevent(testbed_, kSysPath, "remove");
  umockdev_testbed_remove_device(testbed_, kSysPath);
}

void UsbdevfsAdapter::RefuseClaim(int error) {
  std::lock_guard lock(mutex_);
  claimError_ = error;
}

void UsbdevfsAdapter::Stall(std::uint8_t endpoint) {
  std::lock_guard lock(mutex_);
  stalled_.push_back(endpoint);
}

std::string UsbdevfsAdapter::NodeFile() const {
  gchar* root = umockdev_testbed_get_root_dir(testbed_);
  std::string file = std::string(root) + kDevNode;
  g_free(root);
  return file;
}

std::vector<Packet> UsbdevfsAdapter::Frames() {
  std::lock_guard lock(mutex_);
  return frames_;
}
std::vector<ControlRecord> UsbdevfsAdapter::ControlTransfers() {
  std::lock_guard lock(mutex_);
  return controls_;
}
std::vector<unsigned long> UsbdevfsAdapter::Requests() {
  std::lock_guard lock(mutex_);
  return requests_;
}
int UsbdevfsAdapter::ClaimedInterface() {
  std::lock_guard lock(mutex_);
  return claimed_;
}
int UsbdevfsAdapter::AlternateSetting() {
  std::lock_guard lock(mutex_);
  return alternateSetting_;
}
int UsbdevfsAdapter::InUrbsSubmitted() {
  std::lock_guard lock(mutex_);
  return inUrbs_;
}
int UsbdevfsAdapter::ClearedHalts() {
  std::lock_guard lock(mutex_);
  return clearedHalts_;
}
bool UsbdevfsAdapter::DriverDetached() {
  std::lock_guard lock(mutex_);
  return detached_;
}
bool UsbdevfsAdapter::DriverReattached() {
  std::lock_guard lock(mutex_);
  return reattached_;
}

gboolean UsbdevfsAdapter::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
  return static_cast<UsbdevfsAdapter*>(self)->HandleIoctl(client);
}

// Moves queued reply packets into waiting IN URBs, one packet per URB.
void UsbdevfsAdapter::CompleteWaitingIn() {
  while (!waitingIn_.empty() && !inQueue_.empty()) {
    UMockdevIoctlData* urbData = waitingIn_.front();
    waitingIn_.erase(waitingIn_.begin());
    auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
    UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
        urbData, G_STRUCT_OFFSET(usbdevfs_urb, buffer), urb->buffer_length, nullptr);
    const Packet& packet = inQueue_.front();
    const int count = std::min<int>(static_cast<int>(packet.size()), urb->buffer_length);
    std::memcpy(buffer->data, packet.data(), static_cast<std::size_t>(count));
    g_object_unref(buffer);
    urb->actual_length = count;
    urb->status = 0;
    inQueue_.pop_front();
    completed_.push_back(urbData);
  }
}

gboolean UsbdevfsAdapter::HandleIoctl(UMockdevIoctlClient* client) {
  std::lock_guard lock(mutex_);
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  requests_.push_back(request);
  // Reaping still hands out the URBs that the removal ended, as the kernel does.
  const bool reap = request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY;
  if (gone_ && !(reap && !completed_.empty())) {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return TRUE;
  }

  switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
      UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
      *reinterpret_cast<guint32*>(caps->data) =
          USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
      g_object_unref(caps);
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    }
    case USBDEVFS_GETDRIVER: {
      if (kernelDriver_.empty() || detached_) {
        umockdev_ioctl_client_complete(client, -1, ENODATA);
        return TRUE;
      }
      UMockdevIoctlData* driver =
          umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), nullptr);
      auto* info = reinterpret_cast<usbdevfs_getdriver*>(driver->data);
      std::snprintf(info->driver, sizeof info->driver, "%s", kernelDriver_.c_str());
      g_object_unref(driver);
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    }
    case USBDEVFS_IOCTL: {
      UMockdevIoctlData* command =
          umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), nullptr);
      const int code = reinterpret_cast<usbdevfs_ioctl*>(command->data)->ioctl_code;
      g_object_unref(command);
      if (code == static_cast<int>(USBDEVFS_DISCONNECT)) {
        detached_ = true;
      } else if (code == static_cast<int>(USBDEVFS_CONNECT)) {
        reattached_ = true;
      }
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    }
    case USBDEVFS_CLAIMINTERFACE: {
      if (claimError_ != 0) {
        umockdev_ioctl_client_complete(client, -1, claimError_);
        return TRUE;
      }
      UMockdevIoctlData* number =
          umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned int), nullptr);
      claimed_ = static_cast<int>(*reinterpret_cast<unsigned int*>(number->data));
      g_object_unref(number);
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    }
    case USBDEVFS_SETINTERFACE: {
      UMockdevIoctlData* setting =
          umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_setinterface), nullptr);
      alternateSetting_ =
          static_cast<int>(reinterpret_cast<usbdevfs_setinterface*>(setting->data)->altsetting);
      g_object_unref(setting);
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    }
    case USBDEVFS_CLEAR_HALT: {
      UMockdevIoctlData* endpoint =
          umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned int), nullptr);
      // The adapter program empties the reply endpoint when its halt is cleared, so a reply
      // that was never fetched (the second reply to a configuration write) goes with it.
      const unsigned int address = *reinterpret_cast<unsigned int*>(endpoint->data);
      if (address == 0x88) inQueue_.clear();
      std::erase(stalled_, static_cast<std::uint8_t>(address));
      g_object_unref(endpoint);
      ++clearedHalts_;
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    }
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_RESET:
    case USBDEVFS_RESETEP:
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    case USBDEVFS_SUBMITURB: {
      UMockdevIoctlData* urbData =
          umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
      auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
      UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
          urbData, G_STRUCT_OFFSET(usbdevfs_urb, buffer), urb->buffer_length, nullptr);
      if (std::find(stalled_.begin(), stalled_.end(), urb->endpoint) != stalled_.end()) {
        urb->status = -EPIPE;
        urb->actual_length = 0;
        completed_.push_back(urbData);
      } else if ((urb->endpoint & 0x80) != 0 && urb->type != USBDEVFS_URB_TYPE_CONTROL) {
        ++inUrbs_;
        waitingIn_.push_back(urbData);  // keeps the reference
        CompleteWaitingIn();
      } else {
        if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
          // The setup packet and the data stage travel in one buffer; nothing is read back.
          urb->actual_length = urb->buffer_length > 8 ? urb->buffer_length - 8 : 0;
          ControlRecord record;
          record.requestType = buffer->data[0];
          record.request = buffer->data[1];
          record.value = static_cast<std::uint16_t>(buffer->data[2] | (buffer->data[3] << 8));
          if ((buffer->data[0] & 0x80) == 0 && urb->buffer_length > 8) {
            record.data.assign(buffer->data + 8, buffer->data + urb->buffer_length);
          }
          controls_.push_back(std::move(record));
          if ((buffer->data[0] & 0x80) != 0 && urb->buffer_length > 8) {
            std::memset(buffer->data + 8, 0x12, static_cast<std::size_t>(urb->buffer_length - 8));
          }
        } else {
          frames_.emplace_back(buffer->data, buffer->data + urb->buffer_length);
          urb->actual_length = urb->buffer_length;
          if (!script_.empty()) {
            for (Packet& packet : script_.front()) inQueue_.push_back(std::move(packet));
            script_.pop_front();
          }
        }
        urb->status = 0;
        completed_.push_back(urbData);
        CompleteWaitingIn();
      }
      g_object_unref(buffer);
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    }
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: {
      if (completed_.empty()) {
        umockdev_ioctl_client_complete(client, -1, EAGAIN);
        return TRUE;
      }
      UMockdevIoctlData* urbData = completed_.front();
      completed_.pop_front();
      UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), nullptr);
      umockdev_ioctl_data_set_ptr(pointer, 0, urbData);
      g_object_unref(pointer);
      g_object_unref(urbData);
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    }
    case USBDEVFS_DISCARDURB: {
      const gulong address = reinterpret_cast<gulong>(*reinterpret_cast<void**>(arg->data));
      for (auto it = waitingIn_.begin(); it != waitingIn_.end(); ++it) {
        if ((*it)->client_addr == address) {
          reinterpret_cast<usbdevfs_urb*>((*it)->data)->status = -ENOENT;
          reinterpret_cast<usbdevfs_urb*>((*it)->data)->actual_length = 0;
          completed_.push_back(*it);
          waitingIn_.erase(it);
          umockdev_ioctl_client_complete(client, 0, 0);
          return TRUE;
        }
      }
      umockdev_ioctl_client_complete(client, -1, EINVAL);
      return TRUE;
    }
    default:
      umockdev_ioctl_client_complete(client, -1, ENOTTY);
      return TRUE;
  }
}

}  // namespace bridge_test

// The umockdev preload library comes before the sanitizer runtime in the library list of these
// test programs; AddressSanitizer is told not to insist on being first.
extern "C" const char* __asan_default_options() {
  return "verify_asan_link_order=0";
}
