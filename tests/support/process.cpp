#include "support/process.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace tarnex::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uid_t nobody = 65534;

std::system_error os_error(const char* what) {
  return std::system_error(errno, std::generic_category(), what);
}

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// The strings stay where they are for as long as the pointers are used.
std::vector<char*> pointers_to(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  pointers.reserve(texts.size() + 1);
  for (std::string& text : texts)
    pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

bool drop_privileges() {
  return setgroups(0, nullptr) == 0 && setgid(nobody) == 0 && setuid(nobody) == 0;
}

// In the child after fork: only async-signal-safe calls until exec. The stop
// signals get their default action whatever the test runner inherited (a
// shell without job control starts background jobs with SIGINT ignored).
// `directory` is null to stay where the test runs.
[[noreturn]] void exec_child(const char* program, char* const* argv, char* const* envp, const char* directory,
                             int out, int err, bool drop) {
  for (int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
    signal(number, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  // A negative descriptor: the program starts with that one closed.
  const auto place = [](int fd, int target) { return fd < 0 ? close(target) : dup2(fd, target); };
  if (null_fd < 0 || dup2(null_fd, STDIN_FILENO) < 0 || place(out, STDOUT_FILENO) < 0 ||
      place(err, STDERR_FILENO) < 0 || (directory != nullptr && chdir(directory) != 0)) {
    _exit(126);
  }
  if (drop && !drop_privileges()) _exit(exec_failed_status);
  execve(program, argv, envp);
  _exit(exec_failed_status);
}

// A pipe, or a pseudo-terminal that passes bytes through unchanged (raw), as
// {read end, write end}, both closed on exec.
bool open_channel(std::array<int, 2>& fds, bool terminal) {
  if (!terminal) return pipe2(fds.data(), O_CLOEXEC) == 0;
  if (openpty(&fds[0], &fds[1], nullptr, nullptr, nullptr) != 0) return false;
  termios raw{};
  if (tcgetattr(fds[1], &raw) == 0) {
    cfmakeraw(&raw);
    tcsetattr(fds[1], TCSANOW, &raw);
  }
  for (const int fd : fds)
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  return true;
}

int remaining_ms(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// Waits up to `wait_ms` for output and appends what is there; closes a pipe
// at its end of file. With both pipes closed it only waits.
void pump(ChildProcess& child, int wait_ms) {
  std::array<pollfd, 2> fds{};
  nfds_t count = 0;
  for (int fd : {child.out_fd, child.err_fd}) {
    if (fd >= 0) fds[count++] = pollfd{fd, POLLIN, 0};
  }
  if (count == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(wait_ms, 5)));
    return;
  }
  if (poll(fds.data(), count, wait_ms) <= 0) return;  // EINTR included: the caller comes back
  for (nfds_t i = 0; i < count; ++i) {
    if (fds[i].revents == 0) continue;
    std::array<char, 65536> buffer;  // filled by read, so left as it is
    const ssize_t got = read(fds[i].fd, buffer.data(), buffer.size());
    const bool is_out = fds[i].fd == child.out_fd;
    if (got > 0) {
      (is_out ? child.out : child.err).append(buffer.data(), static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      close_fd(is_out ? child.out_fd : child.err_fd);
    }
  }
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

void start_child(ChildProcess& child, const ProcessRun& run) {
  // Everything the child needs is prepared before fork.
  std::vector<std::string> args = run.prefix;
  args.insert(args.end(), run.argv.begin(), run.argv.end());
  if (args.empty()) throw std::invalid_argument("start_child: no argv");
  std::vector<char*> arg_pointers = pointers_to(args);
  std::vector<std::string> environment = run.environment;
  for (char** entry = environ; *entry != nullptr; ++entry)
    environment.emplace_back(*entry);  // the first entry of a name wins
  std::vector<char*> environment_pointers = pointers_to(environment);
  const std::string program = run.prefix.empty() ? run.program.string() : run.prefix.front();
  const std::string directory = run.directory.string();
  const bool drop = run.unprivileged && geteuid() == 0;

  std::array<int, 2> out_pipe{-1, -1};
  std::array<int, 2> err_pipe{-1, -1};
  if (!open_channel(out_pipe, run.out_terminal) || !open_channel(err_pipe, run.err_terminal)) {
    const std::system_error error = os_error("pipe2");
    for (int& fd : out_pipe)
      close_fd(fd);
    throw error;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    exec_child(program.c_str(), arg_pointers.data(), environment_pointers.data(),
               directory.empty() ? nullptr : directory.c_str(), run.closed_stdout ? -1 : out_pipe[1],
               run.closed_stderr ? -1 : err_pipe[1], drop);
  }
  if (pid < 0) {
    const std::system_error error = os_error("fork");
    for (int& fd : out_pipe)
      close_fd(fd);
    for (int& fd : err_pipe)
      close_fd(fd);
    throw error;
  }
  close_fd(out_pipe[1]);
  close_fd(err_pipe[1]);
  child.pid = pid;
  child.out_fd = out_pipe[0];
  child.err_fd = err_pipe[0];
}

bool wait_for_output(ChildProcess& child, const std::string& needle, std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  std::size_t from = 0;  // a match not found yet ends in text still to come
  while (child.out.find(needle, from) == std::string::npos) {
    if (child.out_fd < 0 || Clock::now() >= deadline) return false;
    from = child.out.size() >= needle.size() ? child.out.size() - needle.size() + 1 : 0;
    pump(child, std::min(remaining_ms(deadline), 50));
  }
  return true;
}

bool wait_until(ChildProcess& child, const std::function<bool()>& condition,
                std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  while (!condition()) {
    if (child.out_fd < 0 || Clock::now() >= deadline) return false;
    pump(child, std::min(remaining_ms(deadline), 10));
  }
  return true;
}

RunResult finish_child(ChildProcess& child, int signal, std::chrono::milliseconds timeout) {
  RunResult result;
  const Clock::time_point deadline = Clock::now() + timeout;
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
  // The child is gone; what it wrote last is still in the pipes. Only a
  // process it left behind holding them open makes this wait at all.
  const Clock::time_point drain_deadline = Clock::now() + std::chrono::seconds(2);
  while ((child.out_fd >= 0 || child.err_fd >= 0) && Clock::now() < drain_deadline)
    pump(child, 20);
  close_fd(child.out_fd);
  close_fd(child.err_fd);
  if (reaped && WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (reaped && WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
    result.core_dumped = WCOREDUMP(status);
  }
  result.out = std::move(child.out);
  result.err = std::move(child.err);
  child.out.clear();
  child.err.clear();
  return result;
}

RunResult run_process(const ProcessRun& run) {
  const Clock::time_point deadline = Clock::now() + run.limit;
  auto left = [&] { return std::chrono::milliseconds(remaining_ms(deadline)); };
  ChildProcess child;
  start_child(child, run);
  std::optional<Clock::time_point> signalled;
  const auto ready = [&] {
    return run.signal_when ? wait_until(child, run.signal_when, left())
                           : wait_for_output(child, run.signal_after, left());
  };
  if (run.signal != 0 && ready()) {
    kill(child.pid, run.signal);
    signalled = Clock::now();
  }
  RunResult result = finish_child(child, 0, left());
  if (signalled) {
    result.ended_after_signal =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - *signalled);
  }
  return result;
}

RunResult run_process(const std::filesystem::path& program, const std::vector<std::string>& argv,
                      const std::filesystem::path& directory, std::chrono::milliseconds limit) {
  ProcessRun run;
  run.program = program;
  run.argv = argv;
  run.directory = directory;
  run.limit = limit;
  return run_process(run);
}

ProcessRun plain_run(const std::vector<std::string>& argv, const std::filesystem::path& directory) {
  ProcessRun run;
  run.program = argv.at(0);
  run.argv = argv;
  run.directory = directory;
  return run;
}

void start_child(ChildProcess& child, const std::vector<std::string>& argv,
                 const std::filesystem::path& directory) {
  start_child(child, plain_run(argv, directory));
}

RunResult run_process(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
                      const std::filesystem::path& directory) {
  ProcessRun run = plain_run(argv, directory);
  run.limit = limit;
  return run_process(run);
}

int free_tcp_port() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw os_error("socket");
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
    start_child(daemon, plain_run(argv_for(endpoint)));
    if (wait_for_output(daemon, "listening on " + endpoint, 15s)) return endpoint;
    const RunResult failed = finish_child(daemon, SIGKILL, 5s);
    problem = failed.out + failed.err;
    if (failed.err.find("cannot bind") == std::string::npos) return {};
  }
  return {};
}

bool can_drop_privileges() {
  if (geteuid() != 0) return true;
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) _exit(drop_privileges() ? 0 : 1);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::filesystem::path find_on_path(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    std::filesystem::path candidate = std::filesystem::path(dir) / name;
    if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

}  // namespace tarnex::testing
