#include "commands/lookup.hpp"

#include <algorithm>

#include "base/cluster_model.hpp"
#include "exit_status.hpp"

namespace tarnex {

// Exact byte comparison only: the key 07 must not find the node 7, so no
// numeric interpretation of either side.
const Json* lookup_node(const Json& reply, const std::string& key) {
  static const JsonPointer id_pointer{"/id"};
  static const JsonPointer name_pointer{"/nodename"};
  static const std::string empty;

  const Json* response = response_list(reply);
  if (response == nullptr) return nullptr;
  for (const Json& node : *response) {
    if (json_get_string(node, id_pointer, empty) == key) return &node;
    if (json_get_string(node, name_pointer, empty) == key) return &node;
  }
  return nullptr;
}

const Json* node_id_clash(const Json& reply, const Json& picked, const std::string& key) {
  static const JsonPointer id_pointer{"/id"};
  static const std::string empty;

  const bool digits =
      !key.empty() && std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!digits || json_get_string(picked, id_pointer, empty) == key) return nullptr;
  const Json* response = response_list(reply);
  if (response == nullptr) return nullptr;
  for (const Json& node : *response) {
    if (&node != &picked && json_get_string(node, id_pointer, empty) == key) return &node;
  }
  return nullptr;
}

int report_node_not_found(const Stream& err, const std::string& node) {
  print_line(err, {"Error: node can not be found: ", typed(node)});
  return exit_request_failed;
}

}  // namespace tarnex
