#pragma once

#include <string>

#include "daemon/message.hpp"

namespace tarnex {

// Finds the node record that `key` names (by id text, then by node name) in
// a node status reply. Returns a pointer into `reply`, or nullptr.
const Json* lookup_node(const Json& reply, const std::string& key);

}  // namespace tarnex
