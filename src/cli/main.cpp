#include <cstdio>
#include <string>
#include <vector>

#include "cli/program.hpp"
#include "daemon/zmq_transport.hpp"

int main(int argc, char** argv) {
  tarnex::ZmqTransport transport;
  tarnex::ProgramIo io;
  io.out = stdout;
  io.err = stderr;
  io.transport = &transport;
  return tarnex::run_program(std::vector<std::string>(argv, argv + argc), io);
}
