// ruxd-sim: a simulated cluster daemon for trying the client, rehearsing
// failures and testing the client against something that keeps state like a
// cluster would.

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <exception>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <zmq.hpp>

#include "config/cluster_config.hpp"
#include "config/validate.hpp"
#include "sim_cluster.hpp"
#include "sim_options.hpp"

#ifndef RUXD_SIM_DEFAULT_CONFIG
#define RUXD_SIM_DEFAULT_CONFIG "examples/cluster.json"
#endif
#ifndef RUXD_SIM_INSTALLED_EXAMPLE
#define RUXD_SIM_INSTALLED_EXAMPLE "../share/tarnex-viravi/examples/cluster.json"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using tarnex::sim::SimTime;

// The client's requests are a few hundred bytes; anything near this is an
// attack or a mistake, and ZeroMQ drops it before it is read into memory.
constexpr std::int64_t kMaxRequestBytes = 4 << 20;
// Requests larger than this leave memory behind that is handed back at once.
constexpr std::size_t kTrimAfterBytes = 64 << 10;
constexpr auto kInjectTimeout = std::chrono::seconds(5);

volatile std::sig_atomic_t stop_requested = 0;

extern "C" void ruxd_sim_request_stop(int /*signal*/) {
  stop_requested = 1;
  // The loop notices the flag within a tenth of a second; should it be busy
  // for longer, the alarm ends the process a second after the signal.
  alarm(1);
}

extern "C" void ruxd_sim_stop_now(int /*signal*/) {
  static constexpr char text[] = "ruxd-sim: stopped\n";
  const ssize_t written = write(STDOUT_FILENO, text, sizeof text - 1);
  static_cast<void>(written);
  _exit(0);
}

// No SA_RESTART: a blocking ZeroMQ call then fails with EINTR and the loop
// looks at the flag at once.
bool install_stop_handlers() {
  struct sigaction action {};
  action.sa_handler = ruxd_sim_request_stop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  struct sigaction backstop {};
  backstop.sa_handler = ruxd_sim_stop_now;
  sigemptyset(&backstop.sa_mask);
  backstop.sa_flags = 0;
  return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0 &&
         sigaction(SIGALRM, &backstop, nullptr) == 0;
}

// The path of this program, to find the installed example beside it.
std::string own_path(const char* argv0) {
  std::vector<char> buffer(4096);
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length > 0 && static_cast<std::size_t>(length) < buffer.size())
    return std::string(buffer.data(), static_cast<std::size_t>(length));
  const std::string given = argv0 != nullptr ? argv0 : "";
  return given.find('/') != std::string::npos ? given : std::string();
}

// One message off the ROUTER socket: the routing frames up to and including
// the empty delimiter, and the parts of the request after it.
struct Incoming {
  std::vector<std::string> envelope;
  std::vector<zmq::message_t> parts;
};

// A reply on its way back, not to be sent before `due`.
struct Outgoing {
  Clock::time_point due;
  std::vector<std::string> envelope;
  std::string text;
};

std::optional<Incoming> receive_request(zmq::socket_t& socket) {
  Incoming incoming;
  bool in_envelope = true;
  bool more = true;
  while (more) {
    zmq::message_t frame;
    try {
      if (!socket.recv(frame, zmq::recv_flags::dontwait)) return std::nullopt;
    } catch (const zmq::error_t& e) {
      if (e.num() != EINTR) throw;
      if (stop_requested != 0) return std::nullopt;
      continue;
    }
    more = frame.more();
    // A peer that sends no delimiter (a bare DEALER) is routed by its first
    // frame alone; the rest is its request.
    if (in_envelope && (frame.empty() || incoming.envelope.empty())) {
      in_envelope = !frame.empty();
      incoming.envelope.push_back(frame.to_string());
    } else {
      in_envelope = false;
      incoming.parts.push_back(std::move(frame));
    }
  }
  return incoming;
}

void send_reply(zmq::socket_t& socket, const Outgoing& reply) {
  std::size_t sent = 0;
  while (sent <= reply.envelope.size() && stop_requested == 0) {
    const bool last = sent == reply.envelope.size();
    const std::string& frame = last ? reply.text : reply.envelope[sent];
    try {
      socket.send(zmq::buffer(frame), last ? zmq::send_flags::none : zmq::send_flags::sndmore);
      ++sent;
    } catch (const zmq::error_t& e) {
      if (e.num() != EINTR) throw;
    }
  }
}

void release_memory() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
}

// What the daemon's loop keeps besides the cluster: the requests waiting for
// an operation to end, by ticket, and the replies on their way out.
struct Loop {
  zmq::socket_t& socket;
  tarnex::sim::SimCluster& cluster;
  std::chrono::milliseconds delay;
  Clock::time_point started = Clock::now();
  std::uint64_t next_ticket = 1;
  std::unordered_map<std::uint64_t, std::vector<std::string>> waiting;
  std::deque<Outgoing> outgoing;
};

SimTime clock_of(const Loop& loop) {
  return std::chrono::duration_cast<SimTime>(Clock::now() - loop.started);
}

void queue_reply(Loop& loop, std::vector<std::string> envelope, std::string text) {
  loop.outgoing.push_back({Clock::now() + loop.delay, std::move(envelope), std::move(text)});
}

// Until the next thing to do, and never so long that a stop signal waits.
std::chrono::milliseconds wait_time(const Loop& loop, SimTime now) {
  auto wait = std::chrono::milliseconds(100);
  if (const auto next = tarnex::sim::next_operation_end(loop.cluster)) wait = std::min(wait, *next - now);
  if (now < loop.cluster.silent_until) wait = std::min(wait, loop.cluster.silent_until - now);
  if (!loop.outgoing.empty()) {
    wait = std::min(wait,
                    std::chrono::ceil<std::chrono::milliseconds>(loop.outgoing.front().due - Clock::now()));
  }
  return std::max(wait, std::chrono::milliseconds(0));
}

// A request that cannot even be read for want of memory is dropped; its peer
// sees a daemon that does not answer, and the daemon goes on.
void answer_one(Loop& loop) {
  try {
    std::optional<Incoming> incoming = receive_request(loop.socket);
    if (!incoming) return;
    std::size_t size = 0;
    for (const auto& part : incoming->parts)
      size += part.size();
    if (incoming->parts.size() != 1) {
      queue_reply(
          loop, std::move(incoming->envelope),
          tarnex::sim::error_reply(tarnex::sim::kErrorBadRequest, "a request must be a single message part")
              .dump());
    } else {
      const std::uint64_t ticket = loop.next_ticket++;
      auto reply = tarnex::sim::handle_request_text(loop.cluster, incoming->parts.front().to_string_view(),
                                                    clock_of(loop), ticket);
      if (reply) {
        queue_reply(loop, std::move(incoming->envelope), std::move(*reply));
      } else {
        loop.waiting.emplace(ticket, std::move(incoming->envelope));
      }
    }
    incoming.reset();
    if (size > kTrimAfterBytes) release_memory();
  } catch (const std::bad_alloc&) {
    release_memory();
  }
}

// The daemon's loop: requests are read one at a time, but a start or stop
// that takes time holds only its own reply, so that other requests (a status,
// a break) are answered meanwhile.
void serve(Loop& loop) {
  while (stop_requested == 0) {
    const SimTime now = clock_of(loop);
    for (auto& held : tarnex::sim::advance(loop.cluster, now)) {
      const auto waiting = loop.waiting.find(held.ticket);
      if (waiting == loop.waiting.end()) continue;
      queue_reply(loop, std::move(waiting->second),
                  held.reply.dump(-1, ' ', false, tarnex::Json::error_handler_t::replace));
      loop.waiting.erase(waiting);
    }
    while (!loop.outgoing.empty() && loop.outgoing.front().due <= Clock::now()) {
      send_reply(loop.socket, loop.outgoing.front());
      loop.outgoing.pop_front();
    }
    const bool silent = now < loop.cluster.silent_until;
    zmq::pollitem_t items[] = {{loop.socket.handle(), 0, static_cast<short>(silent ? 0 : ZMQ_POLLIN), 0}};
    try {
      if (zmq::poll(items, 1, wait_time(loop, now)) == 0) continue;
    } catch (const zmq::error_t& e) {
      if (e.num() != EINTR) throw;
      continue;
    }
    if ((items[0].revents & ZMQ_POLLIN) != 0) answer_one(loop);
  }
}

// --inject: one control request to the running daemon. 0 when it applied the
// fault, 1 when it refused it or did not answer in time.
int inject(const std::string& endpoint, const std::string& fault) {
  zmq::context_t context;
  zmq::socket_t socket(context, zmq::socket_type::req);
  socket.set(zmq::sockopt::linger, 0);
  socket.set(zmq::sockopt::rcvtimeo, static_cast<int>(std::chrono::milliseconds(kInjectTimeout).count()));
  try {
    socket.connect(endpoint);
  } catch (const zmq::error_t& e) {
    std::fprintf(stderr, "ruxd-sim: cannot connect to %s: %s\n", endpoint.c_str(), e.what());
    return 1;
  }
  socket.send(zmq::buffer(tarnex::sim::fault_request(fault).dump()), zmq::send_flags::none);
  zmq::message_t answer;
  if (!socket.recv(answer, zmq::recv_flags::none)) {
    std::fprintf(stderr, "ruxd-sim: no answer from %s within %lld seconds\n", endpoint.c_str(),
                 static_cast<long long>(kInjectTimeout.count()));
    return 1;
  }
  tarnex::Json reply;
  try {
    reply = tarnex::parse_strict(answer.to_string(), "reply");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ruxd-sim: unreadable answer from %s: %s\n", endpoint.c_str(), e.what());
    return 1;
  }
  static const tarnex::JsonPointer message("/response/message");
  static const tarnex::JsonPointer error_message("/errorMessage");
  if (reply.contains("error")) {
    std::fprintf(stderr, "ruxd-sim: %s\n", tarnex::json_get_string(reply, error_message, "").c_str());
    return 1;
  }
  std::printf("%s\n", tarnex::json_get_string(reply, message, "").c_str());
  return 0;
}

int run(int argc, char** argv) {
  const std::string default_config = tarnex::sim::default_config_path(
      own_path(argc > 0 ? argv[0] : nullptr), RUXD_SIM_INSTALLED_EXAMPLE, RUXD_SIM_DEFAULT_CONFIG);
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
  if (options.inject && options.bind) return inject(*options.bind, *options.inject);

  const char* path = options.config_path.c_str();
  std::string error;
  const std::optional<tarnex::ClusterConfig> loaded =
      tarnex::load_cluster_config(options.config_path, &error);
  if (!loaded) {
    std::fprintf(stderr, "ruxd-sim: cannot load %s: %s\n", path, error.c_str());
    return 1;
  }
  const tarnex::ClusterConfig& config = *loaded;
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
  if (options.inject) return inject(endpoint, *options.inject);

  auto cluster = tarnex::sim::build_sim_cluster(config, std::chrono::milliseconds(options.op_ms));
  if (!install_stop_handlers()) {
    std::perror("ruxd-sim: sigaction");
    return 1;
  }

  try {
    zmq::context_t context;
    zmq::socket_t socket(context, zmq::socket_type::router);
    socket.set(zmq::sockopt::linger, 0);
    socket.set(zmq::sockopt::maxmsgsize, kMaxRequestBytes);
    try {
      socket.bind(endpoint);
    } catch (const zmq::error_t& e) {
      std::fprintf(stderr, "ruxd-sim: cannot bind %s: %s\n", endpoint.c_str(), e.what());
      return 1;
    }
    std::printf("ruxd-sim: listening on %s (%zu nodes, %zu services)\n", endpoint.c_str(),
                cluster.nodes.size(), cluster.services.size());
    std::fflush(stdout);
    Loop loop{socket, cluster, std::chrono::milliseconds(options.delay_ms), Clock::now(), 1, {}, {}};
    serve(loop);
  } catch (const zmq::error_t& e) {
    std::fprintf(stderr, "ruxd-sim: %s\n", e.what());
    return 1;
  }
  alarm(0);
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
