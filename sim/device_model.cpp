// Device memory: firmware installation with its wipe, digests, and the factory state.
#include "sim/device_model.h"

#include <algorithm>

#include "sim/nv_catalog.h"
#include "sim/sha256.h"

namespace vornex::sim {
namespace {

constexpr std::size_t kFactoryImageBytes = 4096;
constexpr std::size_t kNvFilledBytesMax = 24;

// splitmix64: a small, well-mixed sequence from one salt.
class TSequence {
 public:
  explicit TSequence(std::uint64_t salt) : state_(salt) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

 private:
  std::uint64_t state_;
};

std::uint64_t SeedOf(std::string_view text) {
  std::uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a
  for (const char c : text) {
    hash ^= static_cast<std::uint8_t>(c);
    hash *= 0x100000001B3ull;
  }
  return hash;
}

std::string HexText(std::uint64_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i) {
    text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    value >>= 4;
  }
  return text;
}

}  // namespace

void TDeviceModel::Count(std::string_view name) {
  ++commandCounts[std::string(name)];
}

void TDeviceModel::InstallFirmware(TByteVector image) {
  flash = std::move(image);
  flashSha256 = Sha256Hex(flash.data(), flash.size());
  firmwareVersion = ImageTag(flash);
  identity = TIdentity{"", "", kBlankTestFlag};
  for (auto& [item, data] : nvItems) data.fill(0);
  firmwareErased = false;
  ++flashCount;
}

void TDeviceModel::EraseFirmware() {
  flash.clear();
  flashSha256 = Sha256Hex(flash.data(), flash.size());
  firmwareVersion.clear();
  firmwareErased = true;
}

std::string TDeviceModel::NvDigest() const {
  TSha256 hash;
  for (const auto& [item, data] : nvItems) {
    const std::uint8_t number[2] = {static_cast<std::uint8_t>(item & 0xFF),
                                    static_cast<std::uint8_t>(item >> 8)};
    hash.Update(number, 2);
    hash.Update(data.data(), data.size());
  }
  return DigestHex(hash.Finish());
}

std::string ImageTag(const TByteVector& image) {
  const std::size_t from = image.size() > kImageTagBytes ? image.size() - kImageTagBytes : 0;
  auto first = image.begin() + static_cast<std::ptrdiff_t>(from);
  auto last = std::find(first, image.end(), std::uint8_t{0xFF});
  last = std::find(first, last, std::uint8_t{0x00});
  return std::string(first, last);
}

TDeviceModel MakeFactoryDevice(std::string_view key, std::string_view firmwareVersion,
                               int generation) {
  // The first device keeps the key alone as its seed, so that its values stay as they were.
  const std::string seed =
      generation == 0 ? std::string(key) : std::string(key) + "/" + std::to_string(generation);
  TSequence random(SeedOf(seed));
  TDeviceModel model;

  // Firmware: synthetic code bytes, then the version as the tag, padded with erased flash.
  TByteVector image(kFactoryImageBytes);
  for (std::uint8_t& byte : image) byte = static_cast<std::uint8_t>(random.Next());
  const std::size_t tagLength = std::min(firmwareVersion.size(), kImageTagBytes);
  std::fill(image.end() - kImageTagBytes, image.end(), std::uint8_t{0xFF});
  std::copy_n(firmwareVersion.begin(), tagLength, image.end() - kImageTagBytes);
  model.flash = std::move(image);
  model.flashSha256 = Sha256Hex(model.flash.data(), model.flash.size());
  model.firmwareVersion = std::string(firmwareVersion);

  // A braced list evaluates in order: the serial number draws from the sequence before the MEID.
  model.identity = TIdentity{
      .serialNumber = "VX" + std::to_string(1000000000ull + random.Next() % 900000000ull),
      .meid = "A1000049" + HexText(random.Next(), 6),
      .testFlag = std::to_string(generation + 1),
  };

  // NV data: a short device-specific head (never all zeros), the rest zeros.
  for (const std::uint16_t item : FactoryNvItems()) {
    TNvData data{};
    const std::size_t filled = 1 + random.Next() % kNvFilledBytesMax;
    for (std::size_t i = 0; i < filled; ++i) data[i] = static_cast<std::uint8_t>(random.Next());
    data[0] = static_cast<std::uint8_t>(data[0] | 0x01);
    model.nvItems.emplace(item, data);
  }
  return model;
}

}  // namespace vornex::sim
