// The process-wide settings of a run, as a test sets them: the pacing clock's time scale, the
// discovery backend and the COM resolver's entries. A front-end sets them once for its run
// (PrepareRun); a test sets them through a RunScope, which puts back what was there before when
// it ends, also when the test failed or threw.
//
// A scope puts back only what it was asked to set, latest first. In a fixture the scope is the
// first member, so that it ends after the threads of the other members (a coordinator, a bench,
// a window) have stopped.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "discovery/port_enumeration.h"
#include "foundation/pacing.h"
#include "serial/com_resolver.h"

namespace vornex::testing {

class RunScope {
 public:
  RunScope() = default;
  ~RunScope() {
    for (auto undo = undo_.rbegin(); undo != undo_.rend(); ++undo) (*undo)();
  }
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;

  // Every pause and limit of the pacing clock at this scale.
  RunScope& TimeScale(double scale) {
    undo_.push_back([previous = pacing::TimeScale()] { pacing::SetTimeScale(previous); });
    pacing::SetTimeScale(scale);
    return *this;
  }

  // Enumerations list through this backend (a null one lists nothing). The COM numbers they
  // register are forgotten again at the end (SaveComTtys).
  RunScope& Discovery(std::unique_ptr<TPortBackend> backend) {
    SaveComTtys();
    auto previous =
        std::make_shared<std::unique_ptr<TPortBackend>>(UseDiscoveryBackend(std::move(backend)));
    undo_.push_back([previous] { UseDiscoveryBackend(std::move(*previous)); });
    return *this;
  }
  RunScope& BenchDiscovery(std::string folder) {
    return Discovery(MakeBenchBackend(std::move(folder)));
  }
  RunScope& SystemDiscovery() { return Discovery(MakeSystemBackend()); }
  RunScope& NoDiscovery() { return Discovery(nullptr); }

  // A port opened by the number `com` alone opens `tty`.
  RunScope& ComTty(std::int32_t com, std::string tty) {
    SaveComTtys();
    com_resolver::Register(com, std::move(tty));
    return *this;
  }
  // No port opens by its number alone until a number is registered.
  RunScope& NoComTtys() {
    SaveComTtys();
    com_resolver::Clear();
    return *this;
  }
  // The COM resolver's entries come back as they are now: numbers registered meanwhile, by
  // enumerations or by helpers that register ports as an enumeration would, are forgotten.
  RunScope& SaveComTtys() {
    if (comTtysSaved_) return *this;
    comTtysSaved_ = true;
    undo_.push_back([saved = com_resolver::Entries()] { com_resolver::Replace(saved); });
    return *this;
  }

 private:
  std::vector<std::function<void()>> undo_;
  bool comTtysSaved_ = false;
};

}  // namespace vornex::testing
