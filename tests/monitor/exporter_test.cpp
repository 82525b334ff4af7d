// The exporter's metric set, one golden text per scenario, read from a
// scripted daemon in virtual time.

#include "monitor/exporter.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <prometheus/text_serializer.h>

#include "support/scripted_transport.hpp"

namespace tarnex::testing {
namespace {

using namespace std::chrono_literals;
using monitor::Clock;

struct Scrapes {
  explicit Scrapes(std::vector<Reply> replies)
      : transport(std::move(replies)),
        collector(monitor::Source{&transport, "tcp://127.0.0.1:7", 5s,
                                  [this] { return Clock::time_point(transport.waited + pause); },
                                  std::nullopt}) {}

  std::string scrape() const { return prometheus::TextSerializer().Serialize(collector.Collect()); }

  ScriptedTransport transport;
  std::chrono::milliseconds pause{0};  // time between scrapes
  monitor::ClusterCollector collector;
};

const std::string build_info =
    "# HELP tarnex_build_info The exporter's version, as a label; always 1.\n"
    "# TYPE tarnex_build_info gauge\n"
    "tarnex_build_info{version=\"" TARNEX_MONITOR_VERSION "\"} 1\n";

TEST(TarnexExporter, MetricsOfACluster) {
  // A state no list knows joins its state set; a pool listed twice gives one
  // set of series; quotes and backslashes in names are escaped.
  Scrapes scrapes(answers({
      R"({"response":[{"id":2,"nodename":"b","state":"OFFLINE","enabled":true},)"
      R"({"id":1,"nodename":"a\u0007","state":"MAINTENANCE","enabled":false}]})",
      R"({"response":[{"name":"web\"\\","run_node":2,"state":"FAILED","enabled":true,)"
      R"("pools":[{"name":"p","state":"DEGRADED"},{"name":"p","state":"ONLINE"}]},)"
      R"({"name":"old","run_node":-1,"state":"STOPPED","enabled":false}]})",
  }));
  EXPECT_EQ(scrapes.scrape(),
            "# HELP tarnex_up 1 when the daemon answered both status requests, else 0.\n"
            "# TYPE tarnex_up gauge\n"
            "tarnex_up 1\n"
            "# HELP tarnex_scrape_duration_seconds How long the status requests of this scrape took.\n"
            "# TYPE tarnex_scrape_duration_seconds gauge\n"
            "tarnex_scrape_duration_seconds 0\n" +
                build_info +
                "# HELP tarnex_node_state 1 for the node's current state, 0 for the others.\n"
                "# TYPE tarnex_node_state gauge\n"
                "tarnex_node_state{node=\"a\\\\x07\",id=\"1\",state=\"MAINTENANCE\"} 1\n"
                "tarnex_node_state{node=\"a\\\\x07\",id=\"1\",state=\"OFFLINE\"} 0\n"
                "tarnex_node_state{node=\"a\\\\x07\",id=\"1\",state=\"ONLINE\"} 0\n"
                "tarnex_node_state{node=\"b\",id=\"2\",state=\"MAINTENANCE\"} 0\n"
                "tarnex_node_state{node=\"b\",id=\"2\",state=\"OFFLINE\"} 1\n"
                "tarnex_node_state{node=\"b\",id=\"2\",state=\"ONLINE\"} 0\n"
                "# HELP tarnex_node_enabled 1 when the node is enabled, else 0.\n"
                "# TYPE tarnex_node_enabled gauge\n"
                "tarnex_node_enabled{node=\"a\\\\x07\",id=\"1\"} 0\n"
                "tarnex_node_enabled{node=\"b\",id=\"2\"} 1\n"
                "# HELP tarnex_service_state 1 for the service's current state, 0 for the others.\n"
                "# TYPE tarnex_service_state gauge\n"
                "tarnex_service_state{service=\"old\",state=\"FAILED\"} 0\n"
                "tarnex_service_state{service=\"old\",state=\"ONLINE\"} 0\n"
                "tarnex_service_state{service=\"old\",state=\"STARTING\"} 0\n"
                "tarnex_service_state{service=\"old\",state=\"STOPPED\"} 1\n"
                "tarnex_service_state{service=\"old\",state=\"STOPPING\"} 0\n"
                "tarnex_service_state{service=\"web\\\"\\\\\",state=\"FAILED\"} 1\n"
                "tarnex_service_state{service=\"web\\\"\\\\\",state=\"ONLINE\"} 0\n"
                "tarnex_service_state{service=\"web\\\"\\\\\",state=\"STARTING\"} 0\n"
                "tarnex_service_state{service=\"web\\\"\\\\\",state=\"STOPPED\"} 0\n"
                "tarnex_service_state{service=\"web\\\"\\\\\",state=\"STOPPING\"} 0\n"
                "# HELP tarnex_service_enabled 1 when the service is enabled, else 0.\n"
                "# TYPE tarnex_service_enabled gauge\n"
                "tarnex_service_enabled{service=\"old\"} 0\n"
                "tarnex_service_enabled{service=\"web\\\"\\\\\"} 1\n"
                "# HELP tarnex_service_placed 1 for the node the service is placed on; no series when it is "
                "placed nowhere.\n"
                "# TYPE tarnex_service_placed gauge\n"
                "tarnex_service_placed{service=\"web\\\"\\\\\",node=\"b\",id=\"2\"} 1\n"
                "# HELP tarnex_pool_state 1 for the pool's current state, 0 for the others.\n"
                "# TYPE tarnex_pool_state gauge\n"
                "tarnex_pool_state{pool=\"p\",service=\"web\\\"\\\\\",state=\"DEGRADED\"} 1\n"
                "tarnex_pool_state{pool=\"p\",service=\"web\\\"\\\\\",state=\"EXPORTED\"} 0\n"
                "tarnex_pool_state{pool=\"p\",service=\"web\\\"\\\\\",state=\"EXPORTING\"} 0\n"
                "tarnex_pool_state{pool=\"p\",service=\"web\\\"\\\\\",state=\"IMPORTING\"} 0\n"
                "tarnex_pool_state{pool=\"p\",service=\"web\\\"\\\\\",state=\"ONLINE\"} 0\n");
}

// A daemon that stops answering is a value, not a failed scrape; every
// scrape asks again, within its own bound.
TEST(TarnexExporter, EveryScrapeAsksAndASilentDaemonIsDown) {
  Scrapes scrapes(
      {{R"({"response":[]})"}, {R"({"response":[]})", 1500ms}, {R"({"response":[]})"}, stay_silent()});
  const std::string down =
      "# HELP tarnex_up 1 when the daemon answered both status requests, else 0.\n"
      "# TYPE tarnex_up gauge\n"
      "tarnex_up 0\n"
      "# HELP tarnex_scrape_duration_seconds How long the status requests of this scrape took.\n"
      "# TYPE tarnex_scrape_duration_seconds gauge\n"
      "tarnex_scrape_duration_seconds 5\n" +
      build_info;
  EXPECT_NE(scrapes.scrape().find("tarnex_scrape_duration_seconds 1.5\n"), std::string::npos);
  scrapes.pause += 1s;
  EXPECT_EQ(scrapes.scrape(), down);
  EXPECT_EQ(scrapes.transport.requests.size(), 4U);
}

}  // namespace
}  // namespace tarnex::testing
