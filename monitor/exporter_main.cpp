#include <CivetServer.h>
#include <civetweb.h>
#include <signal.h>
#include <cstdlib>

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include <prometheus/exposer.h>

#include "config/discovery.hpp"
#include "monitor/exporter.hpp"

namespace {

// The landing page, written once before the server starts and only read by
// its threads afterwards.
std::string& landing() {
  static std::string page;
  return page;
}

// civetweb asks this first about every request: "/" gets the landing page,
// everything else goes on to the exposer's handlers.
int serve_landing_page(mg_connection* connection) {
  const mg_request_info* request = mg_get_request_info(connection);
  if (request == nullptr || request->local_uri == nullptr || std::strcmp(request->local_uri, "/") != 0)
    return 0;
  const std::string& page = landing();
  mg_send_http_ok(connection, "text/html; charset=utf-8", static_cast<long long>(page.size()));
  mg_write(connection, page.data(), page.size());
  return 200;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tarnex::monitor;
  const std::vector<std::string> args(argv, argv + argc);
  ExporterOptions options;
  const int asked = read_exporter_options(args, &options, stdout, stderr);
  if (asked != exporter_run) return asked;

  std::string error;
  const std::optional<std::string> endpoint =
      find_endpoint(tarnex::program_directory(args.empty() ? "" : args[0], std::getenv("PATH")), &error);
  if (!endpoint) {
    std::fprintf(stderr, "tarnex_exporter: %s\n", error.c_str());
    return 1;
  }

  // The server's threads inherit this mask, so the signals that end the
  // exporter reach only the wait below.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  landing() = landing_page(options.telemetry_path);
  CivetCallbacks callbacks;
  callbacks.begin_request = serve_landing_page;
  const auto transport = daemon_transport();
  const auto collector = std::make_shared<ClusterCollector>(
      Source{transport.get(), *endpoint, options.timeout, Clock::now, std::nullopt});
  std::unique_ptr<prometheus::Exposer> exposer;
  try {
    exposer = std::make_unique<prometheus::Exposer>(server_address(options.listen_address), 2, &callbacks);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "tarnex_exporter: cannot listen on %s: %s\n", shown(options.listen_address).c_str(),
                 failure.what());
    return 1;
  }
  exposer->RegisterCollectable(collector, options.telemetry_path);
  const std::vector<int> ports = exposer->GetListeningPorts();
  std::fprintf(stderr, "tarnex_exporter: listening on port %d, metrics at %s, daemon at %s\n",
               ports.empty() ? 0 : ports[0], shown(options.telemetry_path).c_str(), shown(*endpoint).c_str());
  std::fflush(stderr);

  int signal = 0;
  sigwait(&stop_signals, &signal);
  return 0;
}
