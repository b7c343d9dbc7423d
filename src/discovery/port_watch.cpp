// The portable port-change sources: the bench registry folder and the periodic fallback.
#include "discovery/port_watch.h"

#include <filesystem>
#include <map>

#include "discovery/bench_registry.h"
#include "foundation/pacing.h"
#include "foundation/paths.h"

namespace vornex {
namespace {

namespace fs = std::filesystem;

class TBenchWatch : public TPortWatch {
 public:
  explicit TBenchWatch(std::string folder) : folder_(std::move(folder)) { listing_ = Listing(); }

  bool Poll() override {
    auto now = Listing();
    if (now == listing_) return false;
    listing_ = std::move(now);
    return true;
  }

 private:
  // Port file names with their modification times: a device that went and came back under
  // the same number between two looks still shows as a change.
  std::map<std::string, fs::file_time_type> Listing() const {
    std::map<std::string, fs::file_time_type> names;
    std::error_code ec;
    for (fs::directory_iterator it(paths::LiteralFsPath(folder_), ec), end; !ec && it != end;
         it.increment(ec)) {
      const std::string name = paths::Utf8Path(it->path().filename());
      if (!name.ends_with(bench::kPortFileSuffix)) continue;
      std::error_code timeError;
      names[name] = it->last_write_time(timeError);
    }
    return names;
  }

  std::string folder_;
  std::map<std::string, fs::file_time_type> listing_;
};

class TPeriodicWatch : public TPortWatch {
 public:
  explicit TPeriodicWatch(std::uint32_t periodMs)
      : period_(pacing::Scaled(periodMs)), next_(pacing::TClock::now() + period_) {}

  bool Poll() override {
    const auto now = pacing::TClock::now();
    if (now < next_) return false;
    next_ = now + period_;
    return true;
  }

 private:
  pacing::TClock::duration period_;
  pacing::TClock::time_point next_;
};

}  // namespace

std::unique_ptr<TPortWatch> MakeBenchWatch(std::string folder) {
  return std::make_unique<TBenchWatch>(std::move(folder));
}

std::unique_ptr<TPortWatch> MakePeriodicWatch(std::uint32_t periodMs) {
  return std::make_unique<TPeriodicWatch>(periodMs);
}

std::unique_ptr<TPortWatch> PeriodicWatchInstead(const std::string& problem, std::string* note) {
  if (note != nullptr) {
    *note = "Port notifications unavailable (" + problem + "): checking for devices every " +
            std::to_string(kPortRecheckPeriodMs / 1000) + " s instead.";
  }
  return MakePeriodicWatch(kPortRecheckPeriodMs);
}

bool IsUsbPortChange(std::string_view action, std::string_view devicePath, bool hasUsbParent) {
  if (action != "add" && action != "remove") return false;
  if (hasUsbParent) return true;
  // A path component that names a USB bus: "usb" followed by its number.
  std::size_t at = 0;
  while ((at = devicePath.find("/usb", at)) != std::string_view::npos) {
    const std::size_t digit = at + 4;
    if (digit < devicePath.size() && devicePath[digit] >= '0' && devicePath[digit] <= '9') {
      return true;
    }
    at = digit;
  }
  return false;
}

}  // namespace vornex
