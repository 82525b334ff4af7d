#include <malloc.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/discovery.hpp"
#include "monitor/exporter.hpp"

int main(int argc, char** argv) {
  using namespace tarnex::monitor;
  const std::vector<std::string> args(argv, argv + argc);
  ExporterOptions options;
  const int asked = read_exporter_options(args, &options, stdout, stderr);
  if (asked != exporter_run) return asked;
  // One exchange runs at a time, on whichever connection's thread asked for
  // it: one heap for all threads keeps what one exchange freed for the next.
  mallopt(M_ARENA_MAX, 1);

  // The threads started below inherit this mask, so the signals that end
  // the exporter reach only the wait at the end.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  const std::string program_dir = tarnex::program_directory(args.empty() ? "" : args[0], std::getenv("PATH"));
  FindEndpoint find = [&options, program_dir](std::string* error) -> std::optional<std::string> {
    if (!options.endpoint.empty()) return options.endpoint;
    return find_endpoint(program_dir, error);
  };
  const auto transport = daemon_transport();
  Scrapes scrapes(transport.get(), find, Clock::now, stderr);
  HttpServer server(
      [&](const HttpRequest& request, const std::function<bool()>& gone) {
        return answer(request, options, scrapes, gone);
      },
      options.max_requests, std::chrono::seconds(10));
  std::string error;
  if (!server.listen(options.listen_address, &error)) {
    std::fprintf(stderr, "tarnex_exporter: cannot listen on %s: %s\n", shown(options.listen_address).c_str(),
                 error.c_str());
    return 1;
  }
  server.start();
  std::fprintf(stderr, "tarnex_exporter: listening on port %d, metrics at %s\n", server.port(),
               shown(options.telemetry_path).c_str());
  std::fflush(stderr);

  // Threads may still wait on the daemon: the process ends here, without
  // waiting for them.
  int signal = 0;
  sigwait(&stop_signals, &signal);
  std::fflush(stderr);
  std::_Exit(0);
}
