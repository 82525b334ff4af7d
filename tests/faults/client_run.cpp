#include "client_run.hpp"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace tarnex::faults {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uid_t nobody = 65534;

std::system_error os_error(const char* what) {
  return std::system_error(errno, std::generic_category(), what);
}

// In the child: only async-signal-safe calls until exec. The stop signals get
// their default action whatever the test runner inherited (a shell without
// job control starts background jobs with SIGINT ignored).
[[noreturn]] void exec_child(const char* program, char* const* argv, char* const* envp, const char* directory,
                             int out, int err, bool drop) {
  for (int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
    signal(number, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  int null_fd = open("/dev/null", O_RDONLY);
  if (null_fd < 0 || dup2(null_fd, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 ||
      dup2(err, STDERR_FILENO) < 0 || chdir(directory) != 0) {
    _exit(126);
  }
  if (drop && (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0)) {
    _exit(exec_failed_status);
  }
  execve(program, argv, envp);
  _exit(exec_failed_status);
}

}  // namespace

ClientResult run_client(const ClientRun& run) {
  std::vector<std::string> args = run.prefix;
  args.insert(args.end(), run.argv.begin(), run.argv.end());
  std::vector<char*> pointers;
  pointers.reserve(args.size() + 1);
  for (std::string& arg : args)
    pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  std::vector<std::string> environment = run.environment;
  for (char** entry = environ; *entry != nullptr; ++entry)
    environment.emplace_back(*entry);  // the first entry of a name wins
  std::vector<char*> environment_pointers;
  environment_pointers.reserve(environment.size() + 1);
  for (std::string& entry : environment)
    environment_pointers.push_back(entry.data());
  environment_pointers.push_back(nullptr);
  const std::string program = run.prefix.empty() ? run.program.string() : run.prefix.front();
  const std::string directory = run.directory.string();
  const bool drop = run.unprivileged && geteuid() == 0;

  std::array<int, 2> out_pipe{};
  std::array<int, 2> err_pipe{};
  if (pipe2(out_pipe.data(), O_CLOEXEC) != 0 || pipe2(err_pipe.data(), O_CLOEXEC) != 0)
    throw os_error("pipe2");
  const Clock::time_point deadline = Clock::now() + run.limit;

  pid_t pid = fork();
  if (pid < 0) throw os_error("fork");
  if (pid == 0) {
    exec_child(program.c_str(), pointers.data(), environment_pointers.data(), directory.c_str(), out_pipe[1],
               err_pipe[1], drop);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);

  ClientResult result;
  result.privileges_dropped = drop;
  std::optional<Clock::time_point> signalled;
  std::array<pollfd, 2> fds{pollfd{out_pipe[0], POLLIN, 0}, pollfd{err_pipe[0], POLLIN, 0}};
  std::array<std::string*, 2> sinks{&result.process.out, &result.process.err};
  int open_count = 2;
  while (open_count > 0) {
    if (run.signal != 0 && !signalled && result.process.out.find(run.signal_after) != std::string::npos) {
      kill(pid, run.signal);
      signalled = Clock::now();
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    int ready = poll(fds.data(), fds.size(), static_cast<int>(std::min<long long>(left, 20)));
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw os_error("poll");
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      std::array<char, 65536> buffer{};
      ssize_t got = read(fds[i].fd, buffer.data(), buffer.size());
      if (got > 0) {
        sinks[i]->append(buffer.data(), static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }

  int status = 0;
  for (;;) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) throw os_error("waitpid");
    if (Clock::now() >= deadline) {
      kill(pid, SIGKILL);
      result.process.timed_out = true;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (signalled) {
    result.ended_after_signal =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - *signalled);
  }
  for (pollfd& entry : fds) {
    if (entry.fd >= 0) close(entry.fd);
  }
  if (WIFEXITED(status)) {
    result.process.exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.process.signal = WTERMSIG(status);
    result.core_dumped = WCOREDUMP(status);
  }
  return result;
}

bool can_drop_privileges() {
  if (geteuid() != 0) return true;
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) _exit(setgroups(0, nullptr) == 0 && setgid(nobody) == 0 && setuid(nobody) == 0 ? 0 : 1);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void open_up(const std::filesystem::path& dir) {
  namespace fs = std::filesystem;
  const auto dir_perms = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                         fs::perms::others_read | fs::perms::others_exec;
  fs::permissions(dir, dir_perms);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_symlink()) continue;
    if (entry.is_directory() || (entry.is_regular_file() &&
                                 (entry.status().permissions() & fs::perms::owner_exec) != fs::perms::none)) {
      fs::permissions(entry.path(), dir_perms);
    } else if (entry.is_regular_file()) {
      fs::permissions(entry.path(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                        fs::perms::others_read);
    }
  }
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

}  // namespace tarnex::faults
