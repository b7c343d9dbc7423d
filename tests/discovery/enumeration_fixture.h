// A port table to enumerate into, and a backend that lists what the test gives it; the process's
// choices are undone after each test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "discovery/port_enumeration.h"
#include "foundation/paths.h"
#include "support/run_scope.h"

namespace vornex {

class FakeBackend final : public TPortBackend {
 public:
  std::vector<TPortInfo> ListPorts(TDiscoveryNotes&) override { return ports; }
  std::vector<TPortInfo> ports;
};

class EnumerationTest : public ::testing::Test {
 protected:
  void TearDown() override { paths::OverrideExeFolder(""); }
  std::int32_t Enumerate() { return EnumeratePorts(*table_); }
  const TPortInfo& At(int i) const { return (*table_)[static_cast<std::size_t>(i)]; }

  testing::RunScope run_;
  std::unique_ptr<TPortTable> table_ = std::make_unique<TPortTable>();
};

}  // namespace vornex
