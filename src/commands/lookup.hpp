#pragma once

#include <string>

#include "base/json.hpp"
#include "base/stream.hpp"

namespace tarnex {

// Finds the node record that `key` names (by id text, then by node name) in
// a node status reply. Returns a pointer into `reply`, or nullptr.
const Json* lookup_node(const Json& reply, const std::string& key);

// The record of another node whose id reads as `key`, when `picked` (what
// lookup_node found for `key`) matched by its name alone and `key` is all
// digits: a reference that is one node's name and another's id. nullptr
// otherwise.
const Json* node_id_clash(const Json& reply, const Json& picked, const std::string& key);

// Writes that the node the operator named (as typed) is not in the reply;
// returns the exit status of that failure.
int report_node_not_found(const Stream& err, const std::string& node);

}  // namespace tarnex
