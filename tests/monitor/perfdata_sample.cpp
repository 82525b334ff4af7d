// The plugin's whole output for the arguments given, against a scripted
// daemon (three nodes, one OFFLINE; three enabled services, one FAILED):
// what perfdata_test.pl hands to Monitoring::Plugin.

#include <cstdio>
#include <string>
#include <vector>

#include "monitor/check.hpp"
#include "support/scripted_transport.hpp"

int main(int argc, char** argv) {
  using namespace tarnex;
  testing::ScriptedTransport transport(
      testing::answers({R"({"response":[{"id":1,"nodename":"a","state":"ONLINE","enabled":true},)"
                        R"({"id":2,"nodename":"b","state":"OFFLINE","enabled":true},)"
                        R"({"id":3,"nodename":"c","state":"ONLINE","enabled":true}]})",
                        R"({"response":[{"name":"db","run_node":1,"state":"FAILED","enabled":true},)"
                        R"({"name":"mail","run_node":3,"state":"ONLINE","enabled":true},)"
                        R"({"name":"web","run_node":3,"state":"ONLINE","enabled":true}]})"}));
  std::vector<std::string> args(argv, argv + argc);
  args.insert(args.begin() + 1, {"-E", "tcp://127.0.0.1:7"});
  return monitor::run_check(
      args,
      {stdout, &transport, {}, [&transport] { return monitor::Clock::time_point(transport.waited); }, {}});
}
