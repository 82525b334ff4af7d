#include "child_process.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace tarnex::testing {

int free_tcp_port() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  close(fd);
  if (!ok) throw std::runtime_error("no free port");
  return ntohs(address.sin_port);
}

std::string start_daemon_on_free_port(
    ChildProcess& daemon, const std::function<std::vector<std::string>(const std::string&)>& argv_for,
    std::string& problem) {
  using namespace std::chrono_literals;
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::string endpoint = "tcp://127.0.0.1:" + std::to_string(free_tcp_port());
    start_child(daemon, argv_for(endpoint));
    if (wait_for_output(daemon, "listening on " + endpoint, 15s)) return endpoint;
    const ProcessResult failed = finish_child(daemon, SIGKILL, 5s);
    problem = failed.out + failed.err;
    if (failed.err.find("cannot bind") == std::string::npos) return {};
  }
  return {};
}

}  // namespace tarnex::testing
