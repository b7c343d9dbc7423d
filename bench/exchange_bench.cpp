// How much the station's framed exchange costs on top of the bare serial round trip.
//
// A peer thread on the master side of a pseudo-terminal answers every stream-write sized frame
// (a 1024-byte block in, a 4-byte reply out) at once. The station side runs TUsbDevice::Exchange
// through its real TSerialPort (building and stuffing the frame every time, as the image
// download does); the baseline writes the same stuffed bytes and reads the reply with plain
// write()/read() on the same pty. Prints the time per exchange of both, their ratio with no
// pause, and the time per exchange with the 3 ms pause of the streaming download.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "bench/immediate_peer.h"
#include "foundation/pacing.h"
#include "protocols/usb_device.h"
#include "serial/com_resolver.h"

namespace {

using TClock = std::chrono::steady_clock;
using vornex::TByteVector;
using vornex::TPacket;

constexpr int kCom = 60;
constexpr std::size_t kBlockBytes = 1024;

TByteVector StreamWriteFrame(std::uint32_t offset) {
  TByteVector payload;
  vornex::AppendU32(payload, offset, false);
  for (std::size_t i = 0; i < kBlockBytes; ++i) payload.push_back(static_cast<std::uint8_t>(i * 7));
  TPacket packet = TPacket::Build(0x07, &payload, vornex::PROTOCOL_STREAMING);
  packet.Escape();
  return packet.Bytes();
}

double RawRoundTripUs(const std::string& slave, const TByteVector& frame, int rounds) {
  const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(fd, TCSANOW, &tio);
  std::uint8_t reply[64];
  const auto start = TClock::now();
  for (int r = 0; r < rounds; ++r) {
    if (::write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) std::abort();
    bool done = false;
    while (!done) {
      const ssize_t n = ::read(fd, reply, sizeof reply);
      if (n <= 0) std::abort();
      done = reply[n - 1] == 0x7E;
    }
  }
  const double us = std::chrono::duration<double, std::micro>(TClock::now() - start).count();
  ::close(fd);
  return us / rounds;
}

double ExchangeUs(vornex::TUsbDevice& device, vornex::TSerialPort& port, std::uint32_t pauseMs,
                  int rounds) {
  TByteVector payload;
  const auto start = TClock::now();
  for (int r = 0; r < rounds; ++r) {
    TByteVector data;
    vornex::AppendU32(data, static_cast<std::uint32_t>(r) * kBlockBytes, false);
    for (std::size_t i = 0; i < kBlockBytes; ++i) data.push_back(static_cast<std::uint8_t>(i * 7));
    TPacket request = TPacket::Build(0x07, &data, vornex::PROTOCOL_STREAMING);
    request.Escape();
    if (device.Exchange(&port, std::move(request), pauseMs, &payload) != 1) std::abort();
  }
  return std::chrono::duration<double, std::micro>(TClock::now() - start).count() / rounds;
}

}  // namespace

int main() {
  vornex::pacing::SetTimeScale(1.0);
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return 1;
  termios tio{};
  ::tcgetattr(master, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(master, TCSANOW, &tio);
  const std::string slave = ::ptsname(master);

  TPacket ack = TPacket::Build(0x08, nullptr, vornex::PROTOCOL_STREAMING);
  ack.Escape();
  vornex::bench::ImmediatePeer peer(master, ack.Bytes());
  const TByteVector frame = StreamWriteFrame(0);

  vornex::com_resolver::Register(kCom, slave);
  vornex::TSerialPort port(kCom);
  port.SetTimeLimits(2000, 5000);
  if (!port.Open()) {
    std::fprintf(stderr, "open failed: %s\n", port.LastError().c_str());
    return 1;
  }
  vornex::TUsbDevice device(250);

  constexpr int kTrials = 7;
  constexpr int kRounds = 1000;
  double raw = 1e18;
  double exchange = 1e18;
  double paced = 1e18;
  for (int t = 0; t < kTrials; ++t) {
    port.Close();
    raw = std::min(raw, RawRoundTripUs(slave, frame, kRounds));
    if (!port.Open()) return 1;
    exchange = std::min(exchange, ExchangeUs(device, port, 0, kRounds));
    paced = std::min(paced, ExchangeUs(device, port, 3, kRounds / 10));
  }
  const double pacedLimit = 3000.0 + 1.3 * raw;

  std::printf("stream-write exchange: %zu bytes out (stuffed), %zu bytes back; best of %d x %d\n",
              frame.size(), ack.Bytes().size(), kTrials, kRounds);
  std::printf("raw write/read round trip   %8.1f us\n", raw);
  std::printf("Exchange, pause 0           %8.1f us   ratio %.2f (target <= 1.30)\n", exchange,
              exchange / raw);
  std::printf("Exchange, pause 3 ms        %8.1f us   limit 3 ms + 1.3 x raw = %.1f us (%s)\n",
              paced, pacedLimit, paced <= pacedLimit ? "within" : "over");
  ::close(master);
  return 0;
}
