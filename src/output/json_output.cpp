#include "output/json_output.hpp"

#include <cstddef>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "base/cluster_model.hpp"

#include "base/terminal_text.hpp"

namespace tarnex {

namespace {

// Members are copied as received, whatever their type; scripts see the
// daemon's own values.
Json member_or(const Json& record, const char* key, const Json& fallback) {
  if (!record.is_object()) return fallback;
  const auto member = record.find(key);
  return member == record.end() ? fallback : *member;
}

Json node_object(const Json& record) {
  static const Json null_value;
  Json node(Json::value_t::object);
  node["id"] = member_or(record, "id", null_value);
  node["name"] = member_or(record, "nodename", null_value);
  node["state"] = member_or(record, "state", null_value);
  node["enabled"] = member_or(record, "enabled", null_value);
  return node;
}

Json service_object(const Service& read) {
  static const Json empty_text = "";
  // 1024 is out of the node id range: it stands for "not placed", as does an
  // unreadable run_node, and both reach scripts as -1.
  constexpr std::int64_t not_placed = 1024;
  const std::int64_t node_id = read.run_node == not_placed ? -1 : read.run_node;
  const Json& record = *read.source;

  Json service(Json::value_t::object);
  service["name"] = member_or(record, "name", empty_text);
  service["state"] = member_or(record, "state", empty_text);
  service["enabled"] = member_or(record, "enabled", empty_text);
  service["nodeId"] = node_id;
  return service;
}

// The dump escapes C0 controls itself; DEL, the C1 controls (U+0080 to
// U+009F, two bytes of UTF-8) and the characters that reorder or hide text
// (three bytes) it leaves raw. Outside strings a dump holds only ASCII, so
// every such byte sequence is inside a string, where "\uXXXX" stands for the
// same character. The dump is valid UTF-8: a lead byte has its continuation.
std::string escaped_controls(const std::string& text) {
  std::string shown;
  shown.reserve(text.size());
  char escape[8];
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const auto next = [&](std::size_t n) { return static_cast<unsigned char>(text[i + n]); };
    unsigned code = 0;
    if (byte == 0x7f) {
      code = byte;
    } else if (byte == 0xc2 && i + 1 < text.size() && next(1) >= 0x80 && next(1) <= 0x9f) {
      code = next(1);
      i += 1;
    } else if (byte >= 0xe0 && byte <= 0xef && i + 2 < text.size()) {
      const unsigned three = ((byte & 0x0fU) << 12) | ((next(1) & 0x3fU) << 6) | (next(2) & 0x3fU);
      if (reorders_or_hides(three)) {
        code = three;
        i += 2;
      }
    }
    if (code == 0) {
      shown += text[i];
    } else {
      std::snprintf(escape, sizeof escape, "\\u%04x", code);
      shown += escape;
    }
  }
  return shown;
}

}  // namespace

// The "cluster" member and its lists come into being only with a first
// record: an empty list is left out, and no list at all gives null.
Json build_status_document(const Json& nodes, const Json& services) {
  Json document;
  if (const Json* response = response_list(nodes); response != nullptr && !response->empty()) {
    Json::array_t list;
    list.reserve(response->size());
    for (const Json& record : *response)
      list.push_back(node_object(record));
    document["cluster"]["nodes"] = std::move(list);
  }
  if (const std::vector<Service> read = read_services(services, {}); !read.empty()) {
    Json::array_t list;
    list.reserve(read.size());
    for (const Service& service : read)
      list.push_back(service_object(service));
    document["cluster"]["services"] = std::move(list);
  }
  return document;
}

void print_status_document(const Stream& out, const Json& document) {
  std::string text = document.dump(2, ' ', false, Json::error_handler_t::strict);
  if (out.terminal) text = escaped_controls(text);
  std::fwrite(text.data(), 1, text.size(), out.file);
  std::fputc('\n', out.file);
}

}  // namespace tarnex
