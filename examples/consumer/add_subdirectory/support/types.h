// This project's own basic types. The name matches an internal header of
// veldan on purpose: were veldan's source root on this project's include
// path, the two would collide.
#pragma once

#include <string>

namespace circuit_tool {

struct idx_t {
  std::string name;
  int net = 0;
};

}  // namespace circuit_tool

#define CIRCUIT_TOOL_SUPPORT_TYPES 1
