// Connecting a device object to a port group: the modem port with the diagnostic interface
// switched on, and the diagnostic port whose answering software layer is found by probing.
#include "foundation/pacing.h"
#include "protocols/connection_flags.h"
#include "protocols/protocol_limits.h"
#include "protocols/usb_device.h"

namespace vornex {
namespace {

constexpr const char* kDiagOnCommand = "AT+MDPARA=DIAG,ON";
constexpr const char* kNoPortMessage =
    "Fail to connect usb port. Please check usb connection, and whether installed usb driver.";

}  // namespace

std::unique_ptr<TSerialPort> TUsbDevice::MakePort(const TPortInfo& info,
                                                  std::uint32_t openTimeoutMs,
                                                  std::uint32_t readLimitMs, std::int32_t portId) {
  auto port = std::make_unique<TSerialPort>(info.com);
  // The port opens the tty of the record it was listed with, not whatever its COM number means
  // at the time of some later open: reopens after a mode switch go to the same tty.
  if (!info.ttyPath.empty()) port->SetDevicePath(info.ttyPath);
  port->SetOpenBudget(openTimeoutMs);
  port->SetTimeLimits(kPortWriteLimitMs, readLimitMs);
  port->SetReceiveNotify(&TUsbDevice::ReceiveRelay, this, portId);
  return port;
}

std::uint8_t TUsbDevice::ConnectUSB(TUsbGroup group, std::uint32_t openTimeoutMs) {
  std::uint8_t flags = 0;
  Trace("ConnectUSB in");
  const int portCount = std::min<int>(group.portCount, kMaxGroupPorts);

  Trace("ConnectUSB Open Modem Port");
  for (int i = 0; i < portCount; ++i) {
    const TPortInfo& info = group.ports[static_cast<std::size_t>(i)];
    if (info.portClass != kPortClassModem) continue;
    auto port = MakePort(info, openTimeoutMs, kModemReadLimitMs, kModemPortId);
    Trace("ConnectUSB Modem COM%d", static_cast<int>(info.com));
    Trace("ConnectUSB Modem <%s>", info.path.c_str());
    if (!port->OpenRetry()) continue;
    Trace("ConnectUSB connect Modem Port OK");
    modemPort_ = std::move(port);
    const std::int32_t on = SendAtCommand(nullptr, kDiagOnCommand, 0);
    Trace("Open diag port %s", on != 0 ? "OK" : "FAILED");
    flags |= kFlagModemOpen;
    break;
  }

  Trace("ConnectUSB Open Diag Port.");
  for (int i = 0; i < portCount; ++i) {
    const TPortInfo& info = group.ports[static_cast<std::size_t>(i)];
    if (!IsDiagnosticPort(info)) continue;
    auto port = MakePort(info, openTimeoutMs, kDiagReadLimitMs, kDiagPortId);
    Trace("ConnectUSB Diag COM%d", static_cast<int>(info.com));
    Trace("ConnectUSB Diag <%s>", info.path.c_str());
    if (!port->OpenRetry()) continue;
    Trace("ConnectUSB connect diag OK");

    std::int32_t hello = SayHelloToFirmwareLayer(port.get());
    std::uint8_t layer = kFlagFirmwareAnswered;
    if (hello == 0) {
      Trace("ConnectUSB diag SayHelloToFirmwareLayer FAILED");
      layer = kFlagDownloadAnswered;
      hello = SayHelloToHexLayer(port.get());
      if (hello == 0) {
        Trace("ConnectUSB diag SayHelloToHexLayer FAILED");
        hello = SayHelloToDownloadLayer(port.get());
      }
    }
    Trace("ConnectUSB diag Say Hello(%d)", hello);
    if (hello != 0) {
      flags |= layer;
      diagPort_ = std::move(port);
      break;
    }
    port->Close();
  }

  if (!modemPort_ && !diagPort_) {
    NotifyMessage(kNoPortMessage);
  } else {
    group_ = group;
  }
  return flags;
}

std::uint8_t TUsbDevice::ClosePorts() {
  std::uint8_t flags = 0;
  if (modemPort_) {
    modemPort_->Close();
    modemPort_.reset();
    flags |= kClosedModem;
  }
  if (diagPort_) {
    diagPort_->Close();
    diagPort_.reset();
    flags |= kClosedDiag;
  }
  group_ = TUsbGroup{};
  return flags;
}

}  // namespace vornex
