// The ruxd-sim program itself: start-up failures, the socket loop, signals.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <zmq.hpp>

#include "sim_wire.hpp"
#include "support/process.hpp"
#include "support/requests.hpp"
#include "support/temp_dir.hpp"

namespace tarnex::testing {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr const char* kSimPath = RUXD_SIM_PATH;

constexpr const char* kConfig = R"({
  "nodes": [
    {"id": 1, "nodename": "alpha", "internal_addr": "10.0.0.1", "ruxd_port": 1},
    {"id": 2, "nodename": "bravo", "internal_addr": "10.0.0.2", "ruxd_port": 1}
  ],
  "services": [{"name": "db"}]
})";

// Starts ruxd-sim with `config` on a free loopback port; the endpoint, or
// the empty text after a test failure.
std::string start_daemon(ChildProcess& daemon, const std::string& config,
                         const std::vector<std::string>& extra = {}) {
  std::string problem;
  std::string endpoint = start_daemon_on_free_port(
      daemon,
      [&](const std::string& endpoint) {
        std::vector<std::string> argv = {kSimPath, "--config", config, "--bind", endpoint};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return argv;
      },
      problem);
  if (endpoint.empty()) ADD_FAILURE() << "ruxd-sim did not start: " << problem;
  return endpoint;
}

// One request of one or more parts over a fresh REQ socket; nullopt when no
// reply comes in time.
std::optional<std::string> exchange(const std::string& endpoint, const std::vector<std::string>& parts,
                                    int timeout_ms = 5000) {
  zmq::context_t context;
  zmq::socket_t socket(context, zmq::socket_type::req);
  socket.set(zmq::sockopt::rcvtimeo, timeout_ms);
  socket.set(zmq::sockopt::linger, 0);
  socket.connect(endpoint);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    socket.send(zmq::buffer(parts[i]),
                i + 1 < parts.size() ? zmq::send_flags::sndmore : zmq::send_flags::none);
  }
  zmq::message_t reply;
  if (!socket.recv(reply, zmq::recv_flags::none)) return std::nullopt;
  return reply.to_string();
}

Json ask(const std::string& endpoint, const std::string& request) {
  const auto reply = exchange(endpoint, {request});
  if (!reply) return Json("no reply");
  return Json::parse(*reply);
}

TEST(SimProcess, AnswersRequestsKeepsStateAndStopsCleanlyOnSigtermAndSigint) {
  TempDir dir;
  const std::string config = dir.write("cluster.json", kConfig);
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    ChildProcess daemon;
    const std::string endpoint = start_daemon(daemon, config);
    ASSERT_FALSE(endpoint.empty());
    EXPECT_EQ(ask(endpoint, R"({"call":"node","cmd":"disable","id":2})"),
              Json::parse(R"({"response": {"message": "node 2 (bravo) disabled"}})"));
    EXPECT_EQ(ask(endpoint, R"({"call":"node","cmd":"status","id":"bravo"})")["response"][0]["enabled"],
              false);

    const RunResult result = finish_child(daemon, signal, 10s);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out,
              "ruxd-sim: listening on " + endpoint + " (2 nodes, 1 services)\nruxd-sim: stopped\n");
    EXPECT_EQ(result.err, "");
  }
}

TEST(SimProcess, AnswersTextThatIsNotJsonAndMultipartRequestsWithErrorReplies) {
  TempDir dir;
  ChildProcess daemon;
  const std::string endpoint = start_daemon(daemon, dir.write("cluster.json", kConfig));
  ASSERT_FALSE(endpoint.empty());

  const Json not_json = ask(endpoint, "status please");
  EXPECT_EQ(not_json["error"], 1);
  EXPECT_EQ(not_json["errorMessage"].get<std::string>().rfind("request is not valid JSON: ", 0), 0U);

  const auto multipart = exchange(endpoint, {R"({"call":"node",)", R"("cmd":"status"})"});
  ASSERT_TRUE(multipart.has_value());
  EXPECT_EQ(Json::parse(*multipart), Json::parse(R"({"error": 1,
      "errorMessage": "a request must be a single message part"})"));

  // Still serving afterwards.
  EXPECT_EQ(ask(endpoint, node_status_request)["response"].size(), 2U);
  EXPECT_EQ(finish_child(daemon, SIGTERM, 10s).exit_status, 0);
}

TEST(SimProcess, HoldsRepliesForDelayMsYetStopsAtOnceWhileHoldingOne) {
  TempDir dir;
  const std::string config = dir.write("cluster.json", kConfig);
  {
    ChildProcess daemon;
    const std::string endpoint = start_daemon(daemon, config, {"--delay-ms", "400"});
    ASSERT_FALSE(endpoint.empty());
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(ask(endpoint, node_status_request)["response"].size(), 2U);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 400ms);
    EXPECT_EQ(finish_child(daemon, SIGTERM, 10s).exit_status, 0);
  }
  {
    ChildProcess daemon;
    const std::string endpoint = start_daemon(daemon, config, {"--delay-ms", "3600000"});
    ASSERT_FALSE(endpoint.empty());
    EXPECT_FALSE(exchange(endpoint, {node_status_request}, 300).has_value());
    const auto stopping = std::chrono::steady_clock::now();
    const RunResult result = finish_child(daemon, SIGTERM, 10s);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 3s);
  }
}

TEST(SimProcess, EndsAtOnceWithAMessageWhenItCannotStart) {
  TempDir dir;
  const std::string good = dir.write("good.json", kConfig);
  const std::string missing = (dir.path / "missing.json").string();
  const std::string broken = dir.write("broken.json", "{\"nodes\": [");
  const std::string invalid = dir.write("invalid.json", R"({"nodes": [
      {"id": 1, "nodename": "a", "internal_addr": "x", "ruxd_port": 1},
      {"id": 1, "nodename": "", "internal_addr": "y", "ruxd_port": 1}]})");
  const std::string no_url = dir.write("no-url.json", kConfig);

  // A daemon already on the port makes the next bind fail.
  ChildProcess first;
  const std::string taken = start_daemon(first, good);
  ASSERT_FALSE(taken.empty());

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;  // the start of standard error
  };
  const std::vector<Case> cases = {
      {{"--config", missing},
       1,
       "ruxd-sim: cannot load " + missing + ": cannot open config file: " + missing + "\n"},
      {{"--config", broken}, 1, "ruxd-sim: cannot load " + broken + ": [json.exception.parse_error"},
      {{"--config", invalid},
       1,
       "ruxd-sim: invalid configuration " + invalid +
           ":\n  -- nodes[1]: empty nodename\n  -- nodes[1]: duplicate node id 1\n"},
      {{"--config", no_url},
       1,
       "ruxd-sim: " + no_url + " has no \"mgmt-url\" and no --bind was given: nothing to listen on\n"},
      {{"--config", good, "--bind", taken},
       1,
       "ruxd-sim: cannot bind " + taken + ": Address already in use\n"},
      {{"--config", good, "--bind", "127.0.0.1:1"},
       1,
       "ruxd-sim: cannot bind 127.0.0.1:1: Invalid argument\n"},
      {{"--config", good, "--delay-ms", "soon"}, 2, "ruxd-sim: --delay-ms needs a whole number"},
      {{"--verbose"}, 2, "ruxd-sim: unknown option: --verbose\nUsage: ruxd-sim"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    std::vector<std::string> argv = {kSimPath};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const RunResult result = run_process(argv, 10s);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_status, c.status);
    EXPECT_EQ(result.err.substr(0, c.err.size()), c.err) << result.err;
    EXPECT_EQ(result.out, "");
  }
  EXPECT_EQ(finish_child(first, SIGTERM, 10s).exit_status, 0);

  const RunResult help = run_process({kSimPath, "--help"}, 10s);
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_EQ(
      help.out.rfind("Usage: ruxd-sim [--config PATH] [--bind ENDPOINT] [--delay-ms N] [--op-ms N]\n", 0),
      0U);
}

// The largest resident size the process has had, from /proc, in KiB.
long peak_rss_kib(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// Oversized requests are dropped by the transport before they are read, long
// ones refused unparsed, deep ones by the nesting scan; memory stays put, and
// SIGTERM while a large request arrives ends the daemon within a second.
TEST(SimProcess, RefusesOversizedLongAndDeepRequestsWithBoundedMemoryAndStopsDuringOne) {
  TempDir dir;
  ChildProcess daemon;
  const std::string endpoint = start_daemon(daemon, dir.write("cluster.json", kConfig));
  ASSERT_FALSE(endpoint.empty());
  EXPECT_EQ(ask(endpoint, node_status_request)["response"].size(), 2U);
  const long before = peak_rss_kib(daemon.pid);

  EXPECT_FALSE(exchange(endpoint, {std::string(64 << 20, '[')}, 1000).has_value());
  EXPECT_EQ(ask(endpoint, node_status_request)["response"].size(), 2U);
  const long after = peak_rss_kib(daemon.pid);
  std::printf("ruxd-sim peak RSS: %ld KiB before, %ld KiB after a 64 MiB request\n", before, after);
  EXPECT_GT(before, 0);
  EXPECT_LT(after - before, 1 << 10);
  EXPECT_EQ(ask(endpoint, std::string(3 << 20, '['))["errorMessage"],
            "request refused: longer than 65536 bytes");
  EXPECT_EQ(ask(endpoint, std::string(60000, '['))["errorMessage"],
            "request refused: request nested deeper than 512 levels");
  EXPECT_LT(peak_rss_kib(daemon.pid) - before, 8 << 10);

  zmq::context_t context;
  zmq::socket_t sender(context, zmq::socket_type::req);
  sender.set(zmq::sockopt::linger, 0);
  sender.connect(endpoint);
  sender.send(zmq::buffer(std::string(64 << 20, '[')), zmq::send_flags::none);
  const auto stopping = std::chrono::steady_clock::now();
  const RunResult result = finish_child(daemon, SIGTERM, 10s);
  const auto took =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - stopping);
  std::printf("ruxd-sim stopped %lld ms after SIGTERM\n", static_cast<long long>(took.count()));
  EXPECT_LT(took, 1s);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out.substr(result.out.find("ruxd-sim: stopped")), "ruxd-sim: stopped\n");
}

// A DEALER socket whose connection's end is watched.
struct WatchedDealer {
  WatchedDealer(zmq::context_t& context, const std::string& endpoint)
      : socket(context, zmq::socket_type::dealer), events(context, zmq::socket_type::pair) {
    socket.set(zmq::sockopt::linger, 0);
    events.set(zmq::sockopt::linger, 0);
    const std::string address = "inproc://dealer-events-" + std::to_string(++count);
    if (zmq_socket_monitor(socket.handle(), address.c_str(), ZMQ_EVENT_DISCONNECTED) != 0) ADD_FAILURE();
    events.connect(address);
    socket.connect(endpoint);
  }

  // Waits until the daemon closes the connection (true) or answers (false).
  bool closed_by_daemon() {
    zmq::pollitem_t items[] = {{socket.handle(), 0, ZMQ_POLLIN, 0}, {events.handle(), 0, ZMQ_POLLIN, 0}};
    EXPECT_GT(zmq::poll(items, 2, std::chrono::milliseconds(20000)), 0);
    return (items[0].revents & ZMQ_POLLIN) == 0 && (items[1].revents & ZMQ_POLLIN) != 0;
  }

  static inline int count = 0;
  zmq::socket_t socket;
  zmq::socket_t events;
};

// A DEALER may send a request of many parts, each under the 4 MiB limit: the
// daemon closes its connection once the parts come to more than 4 MiB in all,
// holds little of it meanwhile and goes on answering others.
TEST(SimProcess, ClosesAPeerWhoseRequestGrowsTooLargeWithBoundedMemoryAndGoesOnAnswering) {
  TempDir dir;
  ChildProcess daemon;
  const std::string endpoint = start_daemon(daemon, dir.write("cluster.json", kConfig));
  ASSERT_FALSE(endpoint.empty());

  zmq::context_t context;
  WatchedDealer flood(context, endpoint);
  const std::string part(1 << 20, 'x');
  constexpr int parts = 200;
  for (int i = 1; i <= parts; ++i)
    flood.socket.send(zmq::buffer(part), i < parts ? zmq::send_flags::sndmore : zmq::send_flags::none);
  EXPECT_TRUE(flood.closed_by_daemon());

  EXPECT_EQ(ask(endpoint, node_status_request)["response"].size(), 2U);
  const long peak = peak_rss_kib(daemon.pid);
  std::printf("ruxd-sim peak RSS: %ld KiB after a request of %d parts of 1 MiB\n", peak, parts);
  EXPECT_GT(peak, 0);
  EXPECT_LT(peak, 64 << 10);
  EXPECT_EQ(finish_child(daemon, SIGTERM, 10s).exit_status, 0);
}

// Replies held back by --delay-ms: a peer that sends request after request
// without reading is closed after 64.
TEST(SimProcess, ClosesAPeerThatSendsRequestsWithoutReadingTheReplies) {
  TempDir dir;
  ChildProcess daemon;
  const std::string endpoint =
      start_daemon(daemon, dir.write("cluster.json", kConfig), {"--delay-ms", "3600000"});
  ASSERT_FALSE(endpoint.empty());
  zmq::context_t context;
  WatchedDealer eager(context, endpoint);
  for (int i = 0; i < 65; ++i)
    eager.socket.send(zmq::buffer(node_status_request), zmq::send_flags::none);
  EXPECT_TRUE(eager.closed_by_daemon());
  EXPECT_EQ(finish_child(daemon, SIGTERM, 10s).exit_status, 0);
}

// A plain TCP connection to the loopback port of `endpoint`; -1 when none.
int connect_raw(const std::string& endpoint) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(endpoint.substr(endpoint.rfind(':') + 1))));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) close(fd);
  ADD_FAILURE() << "cannot connect to " << endpoint;
  return -1;
}

// Reads what the daemon sends until it closes the connection (true), or
// until `wanted` shows in what came or 20 s pass (false).
bool closed_by_daemon(int fd, const std::string& wanted = {}) {
  std::string got;
  const auto give_up = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < give_up) {
    pollfd item{fd, POLLIN, 0};
    if (poll(&item, 1, 100) <= 0) continue;
    char buffer[4096];
    const ssize_t size = read(fd, buffer, sizeof buffer);
    if (size <= 0) return true;
    got.append(buffer, static_cast<std::size_t>(size));
    if (!wanted.empty() && got.find(wanted) != std::string::npos) return false;
  }
  ADD_FAILURE() << "the daemon neither closed the connection nor sent " << wanted;
  return false;
}

// Connections left half open cannot pile up: a peer that does not send its
// whole greeting within --greeting-ms is closed, never before; one that
// greeted stays, however long it is quiet, and is answered.
TEST(SimProcess, ClosesAPeerThatHasNotGreetedInTime) {
  TempDir dir;
  ChildProcess daemon;
  const std::string endpoint =
      start_daemon(daemon, dir.write("cluster.json", kConfig), {"--greeting-ms", "1000"});
  ASSERT_FALSE(endpoint.empty());
  const std::string hello = sim::zmtp_hello();
  const int greeted = connect_raw(endpoint);
  const auto opened = std::chrono::steady_clock::now();
  const int silent = connect_raw(endpoint);
  const int partial = connect_raw(endpoint);
  ASSERT_TRUE(greeted >= 0 && silent >= 0 && partial >= 0);
  ASSERT_EQ(write(greeted, hello.data(), hello.size()), static_cast<ssize_t>(hello.size()));
  ASSERT_EQ(write(partial, hello.data(), 63), 63);

  EXPECT_TRUE(closed_by_daemon(silent));
  EXPECT_TRUE(closed_by_daemon(partial));
  EXPECT_GE(std::chrono::steady_clock::now() - opened, 1s);
  const std::string request = sim::zmtp_reply(false, node_status_request);
  ASSERT_EQ(write(greeted, request.data(), request.size()), static_cast<ssize_t>(request.size()));
  EXPECT_FALSE(closed_by_daemon(greeted, "alpha"));
  for (const int fd : {greeted, silent, partial})
    close(fd);
  EXPECT_EQ(finish_child(daemon, SIGTERM, 10s).exit_status, 0);
}

}  // namespace
}  // namespace tarnex::testing
