#include "process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace tarnex::e2e {
namespace {

using Clock = std::chrono::steady_clock;

std::system_error os_error(const char* what) {
  return std::system_error(errno, std::generic_category(), what);
}

// Both ends close on exec; the child's dup2 copies lose that flag.
std::array<int, 2> make_pipe() {
  std::array<int, 2> ends{};
  if (pipe2(ends.data(), O_CLOEXEC) != 0) throw os_error("pipe2");
  return ends;
}

// In the child after fork: only async-signal-safe calls until exec.
[[noreturn]] void exec_child(const char* program, char* const* argv, const char* directory, int out,
                             int err) {
  int null_fd = open("/dev/null", O_RDONLY);
  if (null_fd < 0 || dup2(null_fd, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 ||
      dup2(err, STDERR_FILENO) < 0 || chdir(directory) != 0) {
    _exit(126);
  }
  execv(program, argv);
  _exit(127);
}

// Waits for the child until `deadline`, killing it when that passes.
void reap(pid_t pid, Clock::time_point deadline, ProcessResult& result) {
  int status = 0;
  for (;;) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) throw os_error("waitpid");
    if (Clock::now() >= deadline) {
      kill(pid, SIGKILL);
      result.timed_out = true;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
}

}  // namespace

ProcessResult run_process(const std::filesystem::path& program, const std::vector<std::string>& argv,
                          const std::filesystem::path& directory, std::chrono::milliseconds limit) {
  // Everything the child needs is prepared before fork.
  std::vector<std::string> args = argv;
  std::vector<char*> arg_pointers;
  arg_pointers.reserve(args.size() + 1);
  for (std::string& arg : args)
    arg_pointers.push_back(arg.data());
  arg_pointers.push_back(nullptr);
  const std::string program_text = program.string();
  const std::string directory_text = directory.string();

  std::array<int, 2> out_pipe = make_pipe();
  std::array<int, 2> err_pipe = make_pipe();
  const Clock::time_point deadline = Clock::now() + limit;

  pid_t pid = fork();
  if (pid < 0) throw os_error("fork");
  if (pid == 0) {
    exec_child(program_text.c_str(), arg_pointers.data(), directory_text.c_str(), out_pipe[1], err_pipe[1]);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);

  ProcessResult result;
  std::array<pollfd, 2> fds{pollfd{out_pipe[0], POLLIN, 0}, pollfd{err_pipe[0], POLLIN, 0}};
  std::array<std::string*, 2> sinks{&result.out, &result.err};
  int open_count = 2;
  while (open_count > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    int ready = poll(fds.data(), fds.size(), static_cast<int>(left));
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw os_error("poll");
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      std::array<char, 4096> buffer{};
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
  reap(pid, deadline, result);
  for (pollfd& entry : fds) {
    if (entry.fd >= 0) close(entry.fd);
  }
  return result;
}

}  // namespace tarnex::e2e
