#pragma once

#include <chrono>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "monitor/snapshot.hpp"

namespace tarnex::monitor {

// One metric family as its collector declares it, once: name, help line and
// type.
struct Descriptor {
  const char* name;
  const char* help;
  const char* type;
};

// A label's name and its value, already made from a daemon name by
// label_value().
using Label = std::pair<std::string_view, std::string_view>;

// The text exposition format, appended to a page of pieces of about 64 KiB:
// a family's HELP and TYPE lines, then its samples.
class Exposition {
 public:
  explicit Exposition(std::vector<std::string>& pieces);
  void family(const Descriptor& descriptor);
  void sample(const Descriptor& descriptor, std::initializer_list<Label> labels, double value);

 private:
  std::string& page();
  std::vector<std::string>& pieces_;
};

// What one scrape shows: the cluster, or nothing when the daemon did not
// answer, and how long the exchange took.
struct Scrape {
  const Snapshot* snapshot = nullptr;
  std::chrono::nanoseconds duration{0};
};

// One concern's metrics over the scrape's snapshot (the exporter itself,
// nodes, services, pools), as node_exporter splits its collectors: the
// families it declares and the function that emits their samples.
struct Collector {
  const char* concern;
  std::span<const Descriptor* const> families;
  void (*collect)(const Scrape& scrape, Exposition& out);
};

// The collectors in the order their families appear on the page.
std::span<const Collector> collectors();

// The page of one scrape: the exporter's own families, then, when the daemon
// answered, the cluster's.
// The page comes in pieces to be sent one after the other.
std::vector<std::string> exposition_page(const Scrape& scrape);

// A daemon name as a label value: every backslash doubled, then every
// control character as "\x" and two hex digits, so that two different names
// never give one value.
std::string label_value(std::string_view name);

}  // namespace tarnex::monitor
