// A sysfs tree in a temporary folder, laid out the way the kernel lays out USB serial devices:
// <root>/class/tty/<tty> is a relative symlink into <root>/devices/..., and each tty's relative
// `device` link points at the usb-serial port device (ttyUSB) or at the interface (ttyACM).
// Device nodes go into a separate folder, created only on request.
#pragma once

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace vornex::testing {

class SysfsTree {
 public:
  SysfsTree() {
    Make(sys() + "/class/tty");
    Make(dev());
  }

  std::string sys() const { return dir_.path() + "/sys"; }
  std::string dev() const { return dir_.path() + "/dev"; }

  // A USB device on a port path ("1-1.2"); empty product or bcdDevice = no such attribute.
  void AddDevice(const std::string& portPath, const std::string& vendorId,
                 const std::string& productId, const std::string& product = "",
                 const std::string& bcdDevice = "0000") {
    const std::string dir = Make(UsbDir(portPath));
    WriteFile(dir + "/idVendor", vendorId + "\n");
    WriteFile(dir + "/idProduct", productId + "\n");
    if (!bcdDevice.empty()) WriteFile(dir + "/bcdDevice", bcdDevice + "\n");
    if (!product.empty()) WriteFile(dir + "/product", product + "\n");
  }

  // A tty on interface `number` ("00") of the device: usb-serial, or CDC ACM when the name
  // starts with ttyACM. withNumber = false leaves the interface without bInterfaceNumber.
  void AddTty(const std::string& portPath, const std::string& number, const std::string& tty,
              bool withNumber = true) {
    const std::string name = portPath + ":1." + std::to_string(std::stoi(number, nullptr, 16));
    const std::string interface = Make(UsbDir(portPath) + "/" + name);
    if (withNumber) WriteFile(interface + "/bInterfaceNumber", number + "\n");
    const bool acm = tty.starts_with("ttyACM");
    AddClassEntry(tty, (acm ? interface : interface + "/" + tty) + "/tty/" + tty,
                  "../../../" + (acm ? name : tty));
  }

  // A tty whose device directory is `realDir` (below <root>) with the given device link.
  void AddClassEntry(const std::string& tty, const std::string& realDir,
                     const std::string& deviceLink) {
    Make(realDir);
    std::filesystem::create_symlink(deviceLink, realDir + "/device");
    std::filesystem::create_symlink("../../" + std::filesystem::relative(realDir, sys()).string(),
                                    sys() + "/class/tty/" + tty);
  }

  // A device node: a plain file (openable) or a link to a real tty.
  void AddNode(const std::string& tty, const std::string& linkTarget = "") {
    if (linkTarget.empty()) return WriteFile(dev() + "/" + tty, "");
    std::filesystem::create_symlink(linkTarget, dev() + "/" + tty);
  }

  // The folder of the USB device on a port path, holding its attributes.
  std::string UsbDir(const std::string& portPath) const {
    return sys() + "/devices/pci0000:00/0000:00:14.0/usb1/" + portPath;
  }

 private:
  static std::string Make(const std::string& dir) {
    std::filesystem::create_directories(dir);
    return dir;
  }

  TempDir dir_;
};

}  // namespace vornex::testing
