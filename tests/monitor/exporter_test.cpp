// The exporter in this process: its pages as golden texts from a scripted
// daemon in virtual time, the sharing of exchanges between scrapes, its
// options, and its HTTP server over a loopback socket.

#include "monitor/exporter.hpp"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <future>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "monitor/exporter_metrics.hpp"
#include "support/scripted_transport.hpp"

namespace tarnex::testing {
namespace {

using namespace std::chrono_literals;
using monitor::Clock;

std::string joined(const std::shared_ptr<const monitor::Body>& body) {
  std::string text;
  for (const std::string& piece : *body)
    text += piece;
  return text;
}

// Lines of `page` that start with `prefix`.
std::string lines_of(const std::string& page, const std::string& prefix) {
  std::istringstream in(page);
  std::string result;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix, 0) == 0) result += line + "\n";
  }
  return result;
}

struct Exporter {
  explicit Exporter(std::vector<Reply> replies)
      : transport(std::move(replies)),
        scrapes(
            &transport, [](std::string*) { return std::optional<std::string>("tcp://127.0.0.1:7"); },
            [this] { return Clock::time_point(transport.waited + pause); }, stderr) {}

  std::string scrape(std::optional<double> header = std::nullopt) {
    const Clock::time_point now = Clock::time_point(transport.waited + pause);
    return joined(scrapes.page(now, monitor::scrape_bound(5s, header), [] { return false; }));
  }

  ScriptedTransport transport;
  std::chrono::milliseconds pause{0};  // time between scrapes
  monitor::Scrapes scrapes;
};

const std::string head_up =
    "# HELP tarnex_up 1 when the daemon answered both status requests, else 0.\n"
    "# TYPE tarnex_up gauge\n";
const std::string head_duration =
    "# HELP tarnex_scrape_duration_seconds How long the status requests of this scrape took.\n"
    "# TYPE tarnex_scrape_duration_seconds gauge\n";
const std::string build_info =
    "# HELP tarnex_build_info The exporter's version, as a label; always 1.\n"
    "# TYPE tarnex_build_info gauge\n"
    "tarnex_build_info{version=\"" TARNEX_PACKAGE_VERSION "\"} 1\n";

TEST(TarnexExporter, MetricsOfACluster) {
  // A state no list knows has a series of its own; a pool listed twice has
  // one state set, 1 for both its states; backslashes in names are doubled
  // before the format escapes them.
  Exporter exporter(answers({
      R"({"response":[{"id":2,"nodename":"b","state":"OFFLINE","enabled":true},)"
      R"({"id":1,"nodename":"a\u0007","state":"MAINTENANCE","enabled":false}]})",
      R"({"response":[{"name":"web\"\\","run_node":2,"state":"FAILED","enabled":true,)"
      R"("pools":[{"name":"p","state":"DEGRADED"},{"name":"p","state":"ONLINE"}]},)"
      R"({"name":"old","run_node":-1,"state":"STOPPED","enabled":false}]})",
  }));
  const std::string web = "service=\"web\\\"\\\\\\\\\"";
  EXPECT_EQ(exporter.scrape(),
            head_up + "tarnex_up 1\n" + head_duration + "tarnex_scrape_duration_seconds 0\n" + build_info +
                "# HELP tarnex_node_state 1 for the node's current state, 0 for the others.\n"
                "# TYPE tarnex_node_state gauge\n"
                "tarnex_node_state{node=\"a\\\\x07\",id=\"1\",state=\"ONLINE\"} 0\n"
                "tarnex_node_state{node=\"a\\\\x07\",id=\"1\",state=\"OFFLINE\"} 0\n"
                "tarnex_node_state{node=\"a\\\\x07\",id=\"1\",state=\"MAINTENANCE\"} 1\n"
                "tarnex_node_state{node=\"b\",id=\"2\",state=\"ONLINE\"} 0\n"
                "tarnex_node_state{node=\"b\",id=\"2\",state=\"OFFLINE\"} 1\n"
                "# HELP tarnex_node_enabled 1 when the node is enabled, else 0.\n"
                "# TYPE tarnex_node_enabled gauge\n"
                "tarnex_node_enabled{node=\"a\\\\x07\",id=\"1\"} 0\n"
                "tarnex_node_enabled{node=\"b\",id=\"2\"} 1\n"
                "# HELP tarnex_service_state 1 for the service's current state, 0 for the others.\n"
                "# TYPE tarnex_service_state gauge\n"
                "tarnex_service_state{service=\"old\",state=\"ONLINE\"} 0\n"
                "tarnex_service_state{service=\"old\",state=\"STOPPED\"} 1\n"
                "tarnex_service_state{service=\"old\",state=\"STARTING\"} 0\n"
                "tarnex_service_state{service=\"old\",state=\"STOPPING\"} 0\n"
                "tarnex_service_state{service=\"old\",state=\"FAILED\"} 0\n"
                "tarnex_service_state{" +
                web +
                ",state=\"ONLINE\"} 0\n"
                "tarnex_service_state{" +
                web +
                ",state=\"STOPPED\"} 0\n"
                "tarnex_service_state{" +
                web +
                ",state=\"STARTING\"} 0\n"
                "tarnex_service_state{" +
                web +
                ",state=\"STOPPING\"} 0\n"
                "tarnex_service_state{" +
                web +
                ",state=\"FAILED\"} 1\n"
                "# HELP tarnex_service_enabled 1 when the service is enabled, else 0.\n"
                "# TYPE tarnex_service_enabled gauge\n"
                "tarnex_service_enabled{service=\"old\"} 0\n"
                "tarnex_service_enabled{" +
                web +
                "} 1\n"
                "# HELP tarnex_service_placed 1 for the node the service is placed on; no series when it is "
                "placed nowhere.\n"
                "# TYPE tarnex_service_placed gauge\n"
                "tarnex_service_placed{" +
                web +
                ",node=\"b\",id=\"2\"} 1\n"
                "# HELP tarnex_pool_state 1 for the pool's current state, 0 for the others.\n"
                "# TYPE tarnex_pool_state gauge\n"
                "tarnex_pool_state{pool=\"p\"," +
                web +
                ",state=\"ONLINE\"} 1\n"
                "tarnex_pool_state{pool=\"p\"," +
                web +
                ",state=\"DEGRADED\"} 1\n"
                "tarnex_pool_state{pool=\"p\"," +
                web +
                ",state=\"EXPORTED\"} 0\n"
                "tarnex_pool_state{pool=\"p\"," +
                web +
                ",state=\"EXPORTING\"} 0\n"
                "tarnex_pool_state{pool=\"p\"," +
                web + ",state=\"IMPORTING\"} 0\n");
}

// Two different daemon names never share a label value; a name sent twice
// is in every state of its records; a record with an error is in no state
// and neither enabled nor disabled; a pool is one by its name as sent.
TEST(TarnexExporter, NamesAndRecordsThatCouldHideAFailure) {
  Exporter exporter(answers({
      R"({"response":[]})",
      R"({"response":[{"name":"db\u0001","state":"FAILED","enabled":true},)"
      R"({"name":"db\\x01","state":"ONLINE","enabled":true,"pools":[)"
      R"({"name":"z\u0001","state":"ONLINE"},{"name":"z\\x01","state":"DEGRADED"}]},)"
      R"({"name":"web","state":"ONLINE","enabled":true},{"name":"web","state":"FAILED","enabled":true},)"
      R"({"name":"x","error":7,"errorMessage":"lost"},{"name":"y","state":"","enabled":true}]})",
  }));
  const std::string page = exporter.scrape();
  const auto states = [](const std::string& service, const std::string& values) {
    static const std::array<const char*, 5> known{"ONLINE", "STOPPED", "STARTING", "STOPPING", "FAILED"};
    std::string lines;
    for (std::size_t i = 0; i < known.size(); ++i) {
      lines +=
          "tarnex_service_state{service=\"" + service + "\",state=\"" + known[i] + "\"} " + values[i] + "\n";
    }
    return lines;
  };
  EXPECT_EQ(lines_of(page, "tarnex_service_state{"),
            states("db\\\\x01", "00001") + states("db\\\\\\\\x01", "10000") + states("web", "10001") +
                states("x", "00000") + states("y", "00000"));
  EXPECT_EQ(lines_of(page, "tarnex_service_enabled{"),
            "tarnex_service_enabled{service=\"db\\\\x01\"} 1\n"
            "tarnex_service_enabled{service=\"db\\\\\\\\x01\"} 1\n"
            "tarnex_service_enabled{service=\"web\"} 1\n"
            "tarnex_service_enabled{service=\"y\"} 1\n");
  EXPECT_NE(page.find("tarnex_pool_state{pool=\"z\\\\x01\",service=\"db\\\\\\\\x01\",state=\"ONLINE\"} 1\n"),
            std::string::npos);
  EXPECT_NE(
      page.find("tarnex_pool_state{pool=\"z\\\\\\\\x01\",service=\"db\\\\\\\\x01\",state=\"DEGRADED\"} 1\n"),
      std::string::npos);
}

TEST(TarnexExporter, LabelValuesNeverCollide) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"db\x01", "db\\x01"},      {"db\\x01", "db\\\\x01"},
      {"a\\", "a\\\\"},           {"a\\\\", "a\\\\\\\\"},
      {"\x7f", "\\x7f"},          {"caf\xc3\xa9", "caf\xc3\xa9"},
      {"\xc2\x9b", "\\xc2\\x9b"}, {"", ""},
  };
  std::set<std::string> values;
  for (const auto& [name, expected] : cases) {
    EXPECT_EQ(monitor::label_value(name), expected) << name;
    values.insert(monitor::label_value(name));
  }
  EXPECT_EQ(values.size(), cases.size());
}

// A daemon that stops answering is a value, not a failed scrape; every
// scrape asks again, within its own bound: --timeout, or Prometheus's wait
// less half a second.
TEST(TarnexExporter, EveryScrapeAsksAndASilentDaemonIsDown) {
  Exporter exporter({{R"({"response":[]})"},
                     {R"({"response":[]})", 1500ms},
                     {R"({"response":[]})"},
                     stay_silent(),
                     stay_silent()});
  const std::string down =
      head_up + "tarnex_up 0\n" + head_duration + "tarnex_scrape_duration_seconds 5\n" + build_info;
  EXPECT_NE(exporter.scrape().find("tarnex_scrape_duration_seconds 1.5\n"), std::string::npos);
  exporter.pause += 1s;
  EXPECT_EQ(exporter.scrape(), down);
  EXPECT_NE(exporter.scrape(3).find("tarnex_scrape_duration_seconds 2.5\n"), std::string::npos);
  EXPECT_EQ(exporter.transport.requests.size(), 5U);
}

TEST(TarnexExporter, ScrapeBound) {
  struct Case {
    std::optional<double> header;
    std::chrono::milliseconds bound;
  };
  for (const Case& c : std::vector<Case>{{std::nullopt, 5000ms},
                                         {10, 5000ms},
                                         {5.5, 5000ms},
                                         {3, 2500ms},
                                         {0.75, 250ms},
                                         {0.5, 5000ms},
                                         {0, 5000ms}}) {
    EXPECT_EQ(monitor::scrape_bound(5000ms, c.header), c.bound) << c.header.value_or(-1);
  }
}

// A transport whose replies wait until the test lets them go.
class HeldTransport : public Transport {
 public:
  std::unique_ptr<Connection> open(bool) override;
  void release() {
    const std::lock_guard<std::mutex> lock(mutex);
    held = false;
    changed.notify_all();
  }
  std::mutex mutex;
  std::condition_variable changed;
  bool held = true;
  int sent = 0;
  int sent_count() {
    const std::lock_guard<std::mutex> lock(mutex);
    return sent;
  }
};

class HeldConnection : public Connection {
 public:
  explicit HeldConnection(HeldTransport& transport) : transport_(transport) {}
  bool send(const std::string&, const std::string&) override {
    const std::lock_guard<std::mutex> lock(transport_.mutex);
    ++transport_.sent;
    return true;
  }
  std::optional<std::string> receive(std::chrono::milliseconds) override {
    std::unique_lock<std::mutex> lock(transport_.mutex);
    transport_.changed.wait(lock, [this] { return !transport_.held; });
    return R"({"response":[]})";
  }

 private:
  HeldTransport& transport_;
};

std::unique_ptr<Connection> HeldTransport::open(bool) {
  return std::make_unique<HeldConnection>(*this);
}

// A scrape that comes while an exchange runs gets that exchange's page; a
// scrape whose client has gone starts none.
TEST(TarnexExporter, ScrapesShareTheRunningExchange) {
  HeldTransport transport;
  monitor::Scrapes scrapes(
      &transport, [](std::string*) { return std::optional<std::string>("tcp://127.0.0.1:7"); }, Clock::now,
      stderr);
  EXPECT_EQ(scrapes.page(Clock::now(), 60s, [] { return true; }), nullptr);
  EXPECT_EQ(transport.sent, 0);
  // Each step waits for a condition, for at most a minute.
  const auto until = [](const std::function<bool()>& condition) {
    const Clock::time_point give_up = Clock::now() + 60s;
    while (!condition() && Clock::now() < give_up)
      std::this_thread::sleep_for(1ms);
  };
  auto first =
      std::async(std::launch::async, [&] { return scrapes.page(Clock::now(), 60s, [] { return false; }); });
  until([&] { return transport.sent_count() > 0; });
  auto second =
      std::async(std::launch::async, [&] { return scrapes.page(Clock::now(), 60s, [] { return true; }); });
  until([&] { return scrapes.waiting() > 0; });
  transport.release();
  const auto page = first.get();
  EXPECT_EQ(second.get(), page);
  EXPECT_NE(joined(page).find("\ntarnex_up 1\n"), std::string::npos);
  EXPECT_EQ(transport.sent, 2);
}

// An unusable configuration is a page with tarnex_up 0 and its reason on
// standard error once while it lasts; once mended, the next scrape uses it.
TEST(TarnexExporter, ConfigurationReadAtEveryScrape) {
  ScriptedTransport transport(answers({R"({"response":[]})", R"({"response":[]})"}));
  std::vector<std::optional<std::string>> endpoints{std::nullopt, std::nullopt, "tcp://127.0.0.1:7",
                                                    std::nullopt};
  std::size_t asked = 0;
  FILE* log = std::tmpfile();
  ASSERT_NE(log, nullptr);
  monitor::Scrapes scrapes(
      &transport,
      [&](std::string* error) {
        *error = "the daemon configuration /x names no endpoint";
        return endpoints.at(asked++);
      },
      Clock::now, log);
  std::string ups;
  for (std::size_t i = 0; i < endpoints.size(); ++i) {
    const std::string page = joined(scrapes.page(Clock::now(), 5s, [] { return false; }));
    ups += lines_of(page, "tarnex_up ");
  }
  EXPECT_EQ(ups, "tarnex_up 0\ntarnex_up 0\ntarnex_up 1\ntarnex_up 0\n");
  std::rewind(log);
  std::array<char, 512> text{};
  const std::size_t length = std::fread(text.data(), 1, text.size(), log);
  std::fclose(log);
  EXPECT_EQ(std::string(text.data(), length),
            "tarnex_exporter: the daemon configuration /x names no endpoint\n"
            "tarnex_exporter: the daemon configuration /x names no endpoint\n");
}

TEST(TarnexExporter, Options) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string first_error_line;
  };
  const std::vector<Case> cases{
      {{}, monitor::exporter_run, ""},
      {{"--web.listen-address=[::]:0", "--web.max-requests=1", "--ruxd.endpoint=tcp://h:1"},
       monitor::exporter_run,
       ""},
      {{"--web.listen-address=localhost:9"}, monitor::exporter_run, ""},
      {{"--web.listen-address=:1,:2"},
       2,
       "tarnex_exporter: the listen address is one :PORT, HOST:PORT or [ADDRESS]:PORT, not ':1,:2'"},
      {{"--web.listen-address=127.0.0.1"}, 2, ""},
      {{"--web.listen-address=::1:80"}, 2, ""},
      {{"--web.listen-address=[::1]:65536"}, 2, ""},
      {{"--web.telemetry-path=metrics"},
       2,
       "tarnex_exporter: the telemetry path starts with '/', is not '/' itself and holds no space, '?' or "
       "'#', "
       "not 'metrics'"},
      {{"--web.telemetry-path=/a b"}, 2, ""},
      {{"--web.telemetry-path=/a?b"}, 2, ""},
      {{"--web.telemetry-path=/a#b"}, 2, ""},
      {{"--web.telemetry-path=/"}, 2, ""},
      {{"--web.max-requests=0"},
       2,
       "tarnex_exporter: the number of requests served at once is from 1 to 10000, not '0'"},
      {{"--web.max-requests=4x"}, 2, ""},
      {{"--ruxd.endpoint="}, 2, "tarnex_exporter: the daemon's endpoint is not empty"},
      {{"--timeout=0"}, 2, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"tarnex_exporter"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    monitor::ExporterOptions options;
    FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(monitor::read_exporter_options(args, &options, stdout, err), c.status) << args.back();
    std::rewind(err);
    std::array<char, 512> line{};
    const bool wrote = std::fgets(line.data(), line.size(), err) != nullptr;
    std::fclose(err);
    EXPECT_EQ(wrote, c.status == 2) << args.back();
    if (!c.first_error_line.empty()) {
      EXPECT_EQ(std::string(line.data()), c.first_error_line + "\n");
    }
  }
}

// Every family the collectors declare is on the manual page, and the page
// names no other.
TEST(TarnexExporter, TheManualPageListsEveryFamily) {
  std::ifstream in(TARNEX_EXPORTER_MAN_PAGE);
  std::stringstream text;
  text << in.rdbuf();
  std::set<std::string> listed;
  const std::string man = text.str();
  const std::regex item(R"(\.It Sy (tarnex_[a-z_]+))");
  for (auto at = std::sregex_iterator(man.begin(), man.end(), item); at != std::sregex_iterator(); ++at)
    listed.insert((*at)[1]);
  std::set<std::string> declared;
  for (const monitor::Collector& collector : monitor::collectors()) {
    for (const monitor::Descriptor* family : collector.families)
      declared.insert(family->name);
  }
  EXPECT_EQ(listed, declared);
}

// One exchange over a loopback connection: the whole response.
std::string http_exchange(int port, const std::string& request) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return "connect failed";
  }
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string response;
  std::array<char, 4096> buffer{};
  for (ssize_t got = 0; (got = ::recv(fd, buffer.data(), buffer.size(), 0)) > 0;)
    response.append(buffer.data(), static_cast<std::size_t>(got));
  ::close(fd);
  return response;
}

TEST(TarnexExporter, HttpServer) {
  Exporter exporter(answers(std::vector<std::string>(8, R"({"response":[]})")));
  monitor::ExporterOptions options;
  monitor::HttpServer server(
      [&](const monitor::HttpRequest& request, const std::function<bool()>& gone) {
        return monitor::answer(request, options, exporter.scrapes, gone);
      },
      8, 60s);
  std::string error;
  ASSERT_TRUE(server.listen("127.0.0.1:0", &error)) << error;
  server.start();
  struct Case {
    std::string request;
    std::string status_line;
    std::string body_holds;  // empty: no body
  };
  const std::vector<Case> cases{
      {"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 200 OK", "\ntarnex_up 1\n"},
      {"GET /metrics?a=1 HTTP/1.0\r\nx-prometheus-scrape-timeout-seconds: 10\r\n\r\n", "HTTP/1.1 200 OK",
       "\ntarnex_up 1\n"},
      {"HEAD /metrics HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", ""},
      {"GET / HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", "<a href=\"/metrics\">"},
      {"GET /metricsX HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found", ""},
      {"GET /METRICS HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found", ""},
      {"GET //metrics HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found", ""},
      {"POST /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 405 Method Not Allowed", ""},
      {"GET /metrics HTTP/2.0\r\n\r\n", "HTTP/1.1 400 Bad Request", ""},
      {"GET /metrics HTTP/1.1\r\nno colon\r\n\r\n", "HTTP/1.1 400 Bad Request", ""},
  };
  for (const Case& c : cases) {
    const std::string response = http_exchange(server.port(), c.request);
    EXPECT_EQ(response.substr(0, response.find("\r\n")), c.status_line) << c.request;
    const std::size_t body = response.find("\r\n\r\n");
    ASSERT_NE(body, std::string::npos) << c.request;
    if (c.body_holds.empty()) {
      EXPECT_EQ(body + 4, response.size()) << c.request;
    } else {
      EXPECT_NE(response.find(c.body_holds, body), std::string::npos) << c.request;
    }
  }
}

// A server that serves one connection at once answers the next one 503.
TEST(TarnexExporter, HttpServerBeyondItsConnections) {
  monitor::HttpServer server(
      [](const monitor::HttpRequest&, const std::function<bool()>&) { return monitor::HttpResponse{}; }, 1,
      60s);
  std::string error;
  ASSERT_TRUE(server.listen("127.0.0.1:0", &error)) << error;
  server.start();
  const int idle = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(server.port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(idle, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  const std::string refused = http_exchange(server.port(), "GET /metrics HTTP/1.1\r\n\r\n");
  EXPECT_EQ(refused.substr(0, refused.find("\r\n")), "HTTP/1.1 503 Service Unavailable");
  ::close(idle);
}

}  // namespace
}  // namespace tarnex::testing
