#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/cluster_model.hpp"
#include "daemon/transport.hpp"

namespace tarnex::monitor {

// The monitoring programs' one view of the cluster: what the two requests of
// `cluster status` bring back, read by the cluster model as the client's
// tables read them. This file and snapshot.cpp are the only places the
// monitors touch the client's libraries: the model and the one exchange.

using NodeRecord = Node;
using PoolRecord = Pool;
using ServiceRecord = Service;

// Nodes ascending by id, one per id (the first record wins); services
// ascending by name, one per name (the first record gives the row, every
// record of the name adds its pools and, in more_states, its state).
struct Snapshot {
  std::vector<NodeRecord> nodes;
  std::vector<ServiceRecord> services;
  std::chrono::nanoseconds took{0};  // from the first request to the last reply
};

using Clock = std::chrono::steady_clock;
using Now = std::function<Clock::time_point()>;

// Where the daemon is and how long one snapshot may take.
struct Source {
  Transport* transport = nullptr;
  std::string endpoint;
  std::chrono::milliseconds bound{5000};
  Now now = Clock::now;
  // When the bound began; the first request when unset.
  std::optional<Clock::time_point> since;
};

// A number as the programs' options take it: a plain decimal ("2", "0.5"),
// finite, no exponent; nothing for any other text.
std::optional<double> parse_decimal(const std::string& text);

// The transport the programs use: ZeroMQ, a fresh connection per request.
std::unique_ptr<Transport> daemon_transport();

// The daemon's endpoint from the client's settings search ("tarnex-viravi"
// beside `program_dir`, then /usr/local/etc and /etc, never the working
// directory) and the daemon configuration it names; nothing, with the
// reasons in *error (one per line), when there is none to use, a settings
// file that cannot be used among them.
std::optional<std::string> find_endpoint(const std::filesystem::path& program_dir, std::string* error);

// Sends the node and the service status requests on fresh connections, both
// within `source.bound`, and reads their replies. Nothing, with the reason
// in *error, when the exchange fails, runs out of time, a reply is not JSON,
// holds an error or has no "response" array; *silent, when given, says
// whether it failed because no reply came within the bound. Never throws for
// anything the daemon or the transport does.
std::optional<Snapshot> take_snapshot(const Source& source, std::string* error, bool* silent = nullptr);

// The records of two parsed replies, as take_snapshot reads them.
bool read_replies(const std::string& nodes_reply, const std::string& services_reply, Snapshot* snapshot,
                  std::string* error);

// The -V/--version line of a monitoring program: its package's version and
// the build of the client whose libraries read the cluster for it.
std::string version_line(std::string_view program);

// A text from the daemon or a file as a terminal would show it: no control
// character left.
std::string shown(std::string_view text);

}  // namespace tarnex::monitor
