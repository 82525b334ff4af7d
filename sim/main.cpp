// ruxd-sim: a simulated cluster daemon for trying the client, rehearsing
// failures and testing the client against something that keeps state like a
// cluster would.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "base/stream.hpp"
#include "config/cluster_config.hpp"
#include "config/validate.hpp"
#include "daemon/exchange.hpp"
#include "daemon/message.hpp"
#include "daemon/zmq_transport.hpp"
#include "exit_status.hpp"
#include "sim_options.hpp"
#include "sim_routes.hpp"
#include "sim_server.hpp"

#ifndef RUXD_SIM_DEFAULT_CONFIG
#define RUXD_SIM_DEFAULT_CONFIG "examples/cluster.json"
#endif
#ifndef RUXD_SIM_INSTALLED_EXAMPLE
#define RUXD_SIM_INSTALLED_EXAMPLE "../share/tarnex-viravi/examples/cluster.json"
#endif

namespace {

using namespace tarnex;

// The exit statuses of ruxd-sim besides exit_success (man/ruxd-sim.8).
constexpr int exit_failed = 1;      // unusable configuration or endpoint, fault refused or unanswered
constexpr int exit_bad_option = 2;  // the usage text follows

constexpr auto inject_timeout = std::chrono::seconds(5);

extern "C" void ruxd_sim_request_stop(int /*signal*/) {
  sim::stop_requested = 1;
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

// The configuration at `path`, loaded and valid; nullopt with `*error` set
// (one line, or a line and one indented line for each problem) otherwise.
std::optional<ClusterConfig> load_sim_config(const std::string& path, std::string* error) {
  std::string reason;
  std::optional<ClusterConfig> config = load_cluster_config(path, &reason);
  if (!config) {
    *error = "cannot load " + path + ": " + reason;
    return std::nullopt;
  }
  if (const auto problems = validate_cluster_config(*config); !problems.empty()) {
    *error = "invalid configuration " + path + ":";
    for (const auto& problem : problems)
      *error += "\n  -- " + problem;
    return std::nullopt;
  }
  return config;
}

// --inject: one control request to the running daemon. 0 when it applied the
// fault, 1 when it refused it or did not answer in time. What the daemon
// says is neutralised at a terminal, as the client shows it.
int inject(const std::string& endpoint, const std::string& fault) {
  const Stream out{stdout, isatty(STDOUT_FILENO) != 0};
  const Stream err{stderr, isatty(STDERR_FILENO) != 0};
  ZmqTransport transport;
  ExchangeSettings settings;
  settings.transport = &transport;
  settings.endpoint = endpoint;
  settings.timeout = inject_timeout;
  ExchangeResult result;
  try {
    result = carry_request(settings, sim::fault_request(fault));
  } catch (const std::exception& e) {
    result = {Json(), ExchangeFailure::send_failed, std::string("ZMQ: ") + e.what(), true};
  }
  switch (result.failure) {
    case ExchangeFailure::none:
      break;
    case ExchangeFailure::no_reply:
      print_line(err, {"ruxd-sim: no answer from ", typed(endpoint), " within ",
                       own(std::to_string(inject_timeout.count())), " seconds"});
      return exit_failed;
    case ExchangeFailure::not_json:
      print_line(err, {"ruxd-sim: unreadable answer from ", typed(endpoint), ": ", message(result.text)});
      return exit_failed;
    default:
      print_line(err, {"ruxd-sim: cannot send to ", typed(endpoint), ": ", message(result.text)});
      return exit_failed;
  }
  static const JsonPointer message_pointer("/response/message");
  static const JsonPointer error_message("/errorMessage");
  if (result.reply.contains("error")) {
    print_line(err, {"ruxd-sim: ", message(json_get_string(result.reply, error_message, ""))});
    return exit_failed;
  }
  print_line(out, {message(json_get_string(result.reply, message_pointer, ""))});
  return exit_success;
}

void announce(const std::string& endpoint, const sim::SimCluster& cluster) {
  std::printf("ruxd-sim: listening on %s (%zu nodes, %zu services)\n", endpoint.c_str(), cluster.nodes.size(),
              cluster.services.size());
  std::fflush(stdout);
}

int run(int argc, char** argv) {
  const std::string default_config = sim::default_config_path(
      own_path(argc > 0 ? argv[0] : nullptr), RUXD_SIM_INSTALLED_EXAMPLE, RUXD_SIM_DEFAULT_CONFIG);
  sim::SimOptions options;
  options.config_path = default_config;
  const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  std::string error;
  if (!sim::parse_sim_options(args, &options, &error)) {
    std::fprintf(stderr, "ruxd-sim: %s\n", error.c_str());
    sim::print_sim_usage(stderr, default_config);
    return exit_bad_option;
  }
  if (options.help) {
    sim::print_sim_usage(stdout, default_config);
    return exit_success;
  }
  if (options.inject && options.bind) return inject(*options.bind, *options.inject);

  std::optional<ClusterConfig> config = load_sim_config(options.config_path, &error);
  if (!config) {
    std::fprintf(stderr, "ruxd-sim: %s\n", error.c_str());
    return exit_failed;
  }
  const std::string endpoint = options.bind.value_or(config->cluster.mgmt_url.value_or(""));
  if (endpoint.empty()) {
    std::fprintf(stderr, "ruxd-sim: %s has no \"mgmt-url\" and no --bind was given: nothing to listen on\n",
                 options.config_path.c_str());
    return exit_failed;
  }
  if (options.inject) return inject(endpoint, *options.inject);

  auto cluster = sim::build_sim_cluster(*config, std::chrono::milliseconds(options.op_ms));
  config.reset();
  if (!install_stop_handlers()) {
    std::perror("ruxd-sim: sigaction");
    return exit_failed;
  }
  if (!sim::serve(cluster, endpoint, std::chrono::milliseconds(options.delay_ms),
                  std::chrono::milliseconds(options.greeting_ms), announce, &error)) {
    std::fprintf(stderr, "ruxd-sim: %s\n", error.c_str());
    return exit_failed;
  }
  alarm(0);
  std::printf("ruxd-sim: stopped\n");
  return exit_success;
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
  return exit_failed;
}
