// What the system says about a port's device node: who owns it and who may open it, for the
// station's system check.
#pragma once

#include <string>

namespace vornex {

struct TNodeFacts {
  bool present = false;
  std::string owner;  // user name, or the number when the system has no name for it
  std::string group;  // group name, or the number
  std::string mode;   // as a listing shows it: "crw-rw----"
};

// The facts of the node at `path` (links followed); present = false when there is none.
TNodeFacts DescribeNode(const std::string& path);

}  // namespace vornex
