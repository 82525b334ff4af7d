#include "child_process.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace tarnex::testing {

namespace {

using Clock = std::chrono::steady_clock;

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Waits up to `wait_ms` for output and appends what is there; closes a pipe
// at its end of file.
void pump(ChildProcess& child, int wait_ms) {
  pollfd fds[2];
  nfds_t count = 0;
  for (int fd : {child.out_fd, child.err_fd}) {
    if (fd >= 0) fds[count++] = pollfd{fd, POLLIN, 0};
  }
  if (count == 0) return;
  if (poll(fds, count, wait_ms) <= 0) return;
  for (nfds_t i = 0; i < count; ++i) {
    if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    char buffer[4096];
    const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    const bool is_out = fds[i].fd == child.out_fd;
    if (got <= 0) {
      close_fd(is_out ? child.out_fd : child.err_fd);
      continue;
    }
    (is_out ? child.out : child.err).append(buffer, static_cast<std::size_t>(got));
  }
}

int remaining_ms(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (pid > 0) {
    kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  close_fd(out_fd);
  close_fd(err_fd);
}

void start_child(ChildProcess& child, const std::vector<std::string>& argv, const std::string& cwd) {
  if (argv.empty()) throw std::runtime_error("start_child: no program");
  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  if (pipe2(err_pipe, O_CLOEXEC) != 0) {
    close(out_pipe[0]);
    close(out_pipe[1]);
    throw std::runtime_error("pipe2 failed");
  }
  const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  // Everything the child needs is prepared before fork: after it only
  // async-signal-safe calls are made.
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (null_fd >= 0) dup2(null_fd, STDIN_FILENO);
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (null_fd >= 0) close(null_fd);
  if (pid < 0) {
    close(out_pipe[0]);
    close(err_pipe[0]);
    throw std::runtime_error(std::string("fork failed: ") + std::strerror(errno));
  }
  child.pid = pid;
  child.out_fd = out_pipe[0];
  child.err_fd = err_pipe[0];
}

bool wait_for_output(ChildProcess& child, const std::string& needle, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (child.out.find(needle) == std::string::npos) {
    if (child.out_fd < 0 || Clock::now() >= deadline) return false;
    pump(child, std::min(remaining_ms(deadline), 50));
  }
  return true;
}

ProcessResult finish_child(ChildProcess& child, int signal, std::chrono::milliseconds timeout) {
  ProcessResult result;
  const auto deadline = Clock::now() + timeout;
  if (child.pid > 0 && signal != 0) kill(child.pid, signal);
  int status = 0;
  bool reaped = false;
  while (child.pid > 0) {
    const pid_t done = waitpid(child.pid, &status, WNOHANG);
    if (done == child.pid || (done < 0 && errno != EINTR)) {
      reaped = done == child.pid;
      child.pid = -1;
      break;
    }
    if (Clock::now() >= deadline) {
      kill(child.pid, SIGKILL);
      while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
      }
      child.pid = -1;
      reaped = true;
      result.timed_out = true;
      break;
    }
    pump(child, std::min(remaining_ms(deadline), 20));
  }
  // The child is gone; what it wrote is still in the pipes.
  const auto drain_deadline = Clock::now() + std::chrono::seconds(2);
  while ((child.out_fd >= 0 || child.err_fd >= 0) && Clock::now() < drain_deadline)
    pump(child, 20);
  close_fd(child.out_fd);
  close_fd(child.err_fd);
  if (reaped && WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (reaped && WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.out = std::move(child.out);
  result.err = std::move(child.err);
  child.out.clear();
  child.err.clear();
  return result;
}

ProcessResult run_process(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                          const std::string& cwd) {
  ChildProcess child;
  start_child(child, argv, cwd);
  return finish_child(child, 0, timeout);
}

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

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarnex-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::string TempDir::file(const std::string& name, const std::string& text) const {
  std::string full = path + "/" + name;
  std::ofstream stream(full);
  stream << text;
  if (!stream.flush()) throw std::runtime_error("cannot write " + full);
  return full;
}

}  // namespace tarnex::testing
