#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/program.hpp"
#include "daemon/zmq_transport.hpp"

namespace {

// A standard descriptor the program was started without is opened on
// /dev/null before any library opens one, so that no descriptor of
// ZeroMQ's can take its number and receive the program's output. Standard
// output is opened for reading only: writing to it then fails, and the run
// says so instead of losing its output without a word.
void open_missing_standard_descriptors() {
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int flags = fd == STDERR_FILENO ? O_WRONLY : O_RDONLY;
    const int opened = open("/dev/null", flags);
    if (opened != fd && opened >= 0) close(opened);
  }
}

}  // namespace

int main(int argc, char** argv) {
  open_missing_standard_descriptors();
  tarnex::ZmqTransport transport;
  tarnex::ProgramIo io;
  io.out = {stdout, isatty(STDOUT_FILENO) == 1};
  io.err = {stderr, isatty(STDERR_FILENO) == 1};
  io.transport = &transport;
  return tarnex::run_program(std::vector<std::string>(argv, argv + argc), io);
}
