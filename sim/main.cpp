// ruxd-sim: a simulated cluster daemon for trying the client and testing it
// against something that keeps state like a cluster would.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <zmq.hpp>

#include "config/cluster_config.hpp"
#include "config/validate.hpp"
#include "sim_cluster.hpp"
#include "sim_options.hpp"

#ifndef RUXD_SIM_DEFAULT_CONFIG
#define RUXD_SIM_DEFAULT_CONFIG "examples/cluster.json"
#endif

namespace {

volatile std::sig_atomic_t stop_requested = 0;

extern "C" void ruxd_sim_request_stop(int /*signal*/) {
  stop_requested = 1;
}

// No SA_RESTART: a blocking ZeroMQ call then fails with EINTR and the loop
// looks at the flag at once.
bool install_stop_handlers() {
  struct sigaction action {};
  action.sa_handler = ruxd_sim_request_stop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

// Sleeps in short steps so that a stop signal is never held up by --delay-ms.
void hold_reply(int delay_ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(delay_ms);
  while (stop_requested == 0) {
    const auto now = Clock::now();
    if (now >= deadline) return;
    std::this_thread::sleep_for(std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(50)));
  }
}

// Receives every part of one request; a request is expected to be one part.
// Returns nullopt when a stop signal interrupted the receive.
std::optional<std::vector<std::string>> receive_request(zmq::socket_t& socket) {
  std::vector<std::string> parts;
  bool more = true;
  while (more) {
    zmq::message_t part;
    try {
      if (!socket.recv(part, zmq::recv_flags::none)) continue;
    } catch (const zmq::error_t& e) {
      if (e.num() != EINTR) throw;
      if (stop_requested != 0) return std::nullopt;
      continue;
    }
    parts.emplace_back(static_cast<const char*>(part.data()), part.size());
    more = part.more();
  }
  return parts;
}

void send_reply(zmq::socket_t& socket, const std::string& reply) {
  while (stop_requested == 0) {
    try {
      socket.send(zmq::buffer(reply), zmq::send_flags::none);
      return;
    } catch (const zmq::error_t& e) {
      if (e.num() != EINTR) throw;
    }
  }
}

// One reply per request until a stop signal. The poll time-out bounds how
// long a signal can go unnoticed.
void serve(zmq::socket_t& socket, tarnex::sim::SimCluster& cluster, int delay_ms) {
  while (stop_requested == 0) {
    zmq::pollitem_t items[] = {{socket.handle(), 0, ZMQ_POLLIN, 0}};
    try {
      if (zmq::poll(items, 1, std::chrono::milliseconds(200)) == 0) continue;
    } catch (const zmq::error_t& e) {
      if (e.num() != EINTR) throw;
      continue;
    }
    const auto parts = receive_request(socket);
    if (!parts) return;
    const std::string reply = parts->size() == 1
                                  ? tarnex::sim::handle_request_text(cluster, parts->front())
                                  : tarnex::sim::error_reply(tarnex::sim::kErrorBadRequest,
                                                             "a request must be a single message part")
                                        .dump();
    hold_reply(delay_ms);
    send_reply(socket, reply);
  }
}

int run(int argc, char** argv) {
  const std::string default_config = RUXD_SIM_DEFAULT_CONFIG;
  tarnex::sim::SimOptions options;
  options.config_path = default_config;
  const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  if (const auto problem = tarnex::sim::parse_sim_options(args, options); !problem.empty()) {
    std::fprintf(stderr, "ruxd-sim: %s\n", problem.c_str());
    tarnex::sim::print_sim_usage(stderr, default_config);
    return 2;
  }
  if (options.help) {
    tarnex::sim::print_sim_usage(stdout, default_config);
    return 0;
  }

  const char* path = options.config_path.c_str();
  tarnex::ClusterConfig config;
  try {
    config = tarnex::load_cluster_config(options.config_path);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ruxd-sim: cannot load %s: %s\n", path, e.what());
    return 1;
  }
  if (const auto problems = tarnex::validate_cluster_config(config); !problems.empty()) {
    std::fprintf(stderr, "ruxd-sim: invalid configuration %s:\n", path);
    for (const auto& problem : problems)
      std::fprintf(stderr, "  -- %s\n", problem.c_str());
    return 1;
  }
  const std::string endpoint = options.bind.value_or(config.cluster.mgmt_url.value_or(""));
  if (endpoint.empty()) {
    std::fprintf(stderr, "ruxd-sim: %s has no \"mgmt-url\" and no --bind was given: nothing to listen on\n",
                 path);
    return 1;
  }
  auto cluster = tarnex::sim::build_sim_cluster(config);
  if (!install_stop_handlers()) {
    std::perror("ruxd-sim: sigaction");
    return 1;
  }

  try {
    zmq::context_t context;
    zmq::socket_t socket(context, zmq::socket_type::rep);
    socket.set(zmq::sockopt::linger, 0);
    try {
      socket.bind(endpoint);
    } catch (const zmq::error_t& e) {
      std::fprintf(stderr, "ruxd-sim: cannot bind %s: %s\n", endpoint.c_str(), e.what());
      return 1;
    }
    std::printf("ruxd-sim: listening on %s (%zu nodes, %zu services)\n", endpoint.c_str(),
                cluster.nodes.size(), cluster.services.size());
    std::fflush(stdout);
    serve(socket, cluster, options.delay_ms);
  } catch (const zmq::error_t& e) {
    std::fprintf(stderr, "ruxd-sim: %s\n", e.what());
    return 1;
  }
  std::printf("ruxd-sim: stopped\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ruxd-sim: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "ruxd-sim: unknown exception\n");
  }
  return 1;
}
