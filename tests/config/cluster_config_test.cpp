#include "config/cluster_config.hpp"

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace tarnex {
namespace {

namespace fs = std::filesystem;

// Every test gets a fresh directory of its own under the system's temporary
// directory, removed again at the end.
class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    dir_ = fs::temp_directory_path() /
           ("tarnex-config-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string write(const std::string& text, const std::string& name = "config.json") {
    const fs::path path = dir_ / name;
    std::ofstream out(path, std::ios::binary);
    out << text;
    return path.string();
  }

  ClusterConfig load(const std::string& text) {
    std::string error;
    std::optional<ClusterConfig> config = load_cluster_config(write(text), &error);
    EXPECT_TRUE(config.has_value()) << error;
    return config.value_or(ClusterConfig{});
  }

  // Why the loader gives no configuration, or "<loaded>".
  std::string load_error(const std::string& text) {
    std::string error;
    return load_cluster_config(write(text), &error) ? "<loaded>" : error;
  }

  fs::path dir_;
};

// A node with every required key, to be extended by the case under test.
std::string node_with(const std::string& extra) {
  return R"({"id": 1, "internal_addr": "10.0.0.1", "ruxd_port": 7000, "nodename": "n1")" +
         (extra.empty() ? std::string() : ", " + extra) + "}";
}

std::string nodes_doc(const std::string& node) {
  return R"({"nodes": [)" + node + "]}";
}

TEST_F(ConfigFileTest, NonObjectOrEmptyDocumentsLoadEmpty) {
  const char* const documents[] = {
      "{}",
      "[]",
      "null",
      "5",
      "[{\"cluster\": {\"mgmt-url\": \"tcp://x:1\"}}]",
      R"({"nodes": {}, "cluster": [], "services": "x", "ha": 3, "pools": [], "distribution_preferences": {}})",
      R"({"unknown": {"nodes": [1]}, "service_groups": null})",
  };
  for (const char* document : documents) {
    SCOPED_TRACE(document);
    const ClusterConfig config = load(document);
    EXPECT_TRUE(config.nodes.empty());
    EXPECT_TRUE(config.services.empty());
    EXPECT_TRUE(config.service_groups.empty());
    EXPECT_TRUE(config.distribution_preferences.empty());
    EXPECT_TRUE(config.pools.empty());
    EXPECT_TRUE(config.ha.disks.empty());
    EXPECT_FALSE(config.cluster.type.has_value());
    EXPECT_FALSE(config.cluster.redundancy_n_plus.has_value());
    EXPECT_FALSE(config.cluster.mgmt_url.has_value());
  }
}

TEST_F(ConfigFileTest, OnlyTheFirstValueIsRead) {
  const char* const documents[] = {
      R"({"cluster": {"mgmt-url": "tcp://a:1"}} stray text {)",
      R"({"cluster": {"mgmt-url": "tcp://a:1"}}{"cluster": {"mgmt-url": "tcp://b:2"}})",
  };
  for (const char* document : documents) {
    SCOPED_TRACE(document);
    EXPECT_EQ(load(document).cluster.mgmt_url, "tcp://a:1");
  }
}

TEST_F(ConfigFileTest, SyntaxErrorsAreTheLibrarysParseErrors) {
  const char* const documents[] = {
      "", "   \n", "// comment\n{}", "/* comment */ {}", "{\"cluster\": {} // comment\n}", "{\"nodes\": [",
  };
  for (const char* document : documents) {
    SCOPED_TRACE(document);
    const std::string error = load_error(document);
    EXPECT_NE(error.find("[json.exception.parse_error."), std::string::npos) << error;
    EXPECT_NE(error.find("line "), std::string::npos) << error;
  }
}

TEST_F(ConfigFileTest, UnopenablePathsReportThePathAsGiven) {
  const std::string missing = (dir_ / "no" / "such.json").string();
  const std::string paths[] = {missing, dir_.string(), dir_.string() + "/", ""};
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    std::string error;
    EXPECT_FALSE(load_cluster_config(path, &error));
    EXPECT_EQ(error, "cannot open config file: " + path);
  }
}

struct FailureCase {
  const char* what;
  std::string document;
  std::string message;
};

TEST_F(ConfigFileTest, MappingFaultsCarryTheLibrarysTexts) {
  const std::string svc = R"({"name": "s"})";
  const std::vector<FailureCase> cases = {
      // Required keys.
      {"node without id", nodes_doc(R"({"internal_addr": "a"})"),
       "[json.exception.out_of_range.403] key 'id' not found"},
      {"id as string", nodes_doc(R"({"id": "7"})"),
       "[json.exception.type_error.302] type must be number, but is string"},
      {"internal_addr as number", nodes_doc(R"({"id": 1, "internal_addr": 5})"),
       "[json.exception.type_error.302] type must be string, but is number"},
      {"ruxd_port as object", nodes_doc(R"({"id": 1, "internal_addr": "a", "ruxd_port": {}})"),
       "[json.exception.type_error.302] type must be number, but is object"},
      // Defaulted booleans.
      {"enabled as string", nodes_doc(node_with(R"("enabled": "yes")")),
       "[json.exception.type_error.302] type must be boolean, but is string"},
      {"leadership_disabled as null", nodes_doc(node_with(R"("leadership_disabled": null)")),
       "[json.exception.type_error.302] type must be boolean, but is null"},
      {"service enabled as array", R"({"services": [{"name": "s", "enabled": []}]})",
       "[json.exception.type_error.302] type must be boolean, but is array"},
      // Strict string lists.
      {"devices with a number", nodes_doc(node_with(R"("devices": ["a", 1])")),
       "[json.exception.type_error.302] type must be string, but is number"},
      {"service pools with null", R"({"services": [{"name": "s", "pools": ["p", null]}]})",
       "[json.exception.type_error.302] type must be string, but is null"},
      {"group services with object", R"({"service_groups": [{"name": "g", "services": [{}]}]})",
       "[json.exception.type_error.302] type must be string, but is object"},
      {"service without name", R"({"services": [{"enabled": true}]})",
       "[json.exception.out_of_range.403] key 'name' not found"},
      // Cluster type: null is absence, any other non-string kind fails.
      {"type as number", R"({"cluster": {"type": 3}})",
       "[json.exception.type_error.302] type must be string, but is number"},
      // List elements that are not objects.
      {"node as number", R"({"nodes": [1]})", "[json.exception.type_error.304] cannot use at() with number"},
      {"service as string", R"({"services": ["s"]})",
       "[json.exception.type_error.304] cannot use at() with string"},
      {"group as array", R"({"service_groups": [[]]})",
       "[json.exception.type_error.304] cannot use at() with array"},
      {"preference as null", R"({"distribution_preferences": [null]})",
       "[json.exception.type_error.304] cannot use at() with null"},
      // Preferences.
      {"preference without service", R"({"distribution_preferences": [{"node": 1}]})",
       "[json.exception.out_of_range.403] key 'service' not found"},
      {"preference without node", R"({"distribution_preferences": [{"service": "s"}]})",
       "[json.exception.out_of_range.403] key 'node' not found"},
      {"preference node as array", R"({"distribution_preferences": [{"service": "s", "node": []}]})",
       "[json.exception.type_error.302] type must be number, but is array"},
      {"preference node above 32 bits",
       R"({"distribution_preferences": [{"service": "s", "node": "4294967296"}]})",
       "preference node id out of uint32_t range: 4294967296"},
      {"preference node minus one", R"({"distribution_preferences": [{"service": "s", "node": "-1"}]})",
       "preference node id out of uint32_t range: -1"},
      {"preference node text kept whole",
       R"({"distribution_preferences": [{"service": "s", "node": "  99999999999 nodes"}]})",
       "preference node id out of uint32_t range:   99999999999 nodes"},
      {"preference node beyond unsigned long",
       R"({"distribution_preferences": [{"service": "s", "node": "99999999999999999999999"}]})",
       "preference node id out of uint32_t range: 99999999999999999999999"},
      {"preference node without digits", R"({"distribution_preferences": [{"service": "s", "node": "x7"}]})",
       "preference node id is not a number: x7"},
      {"preference node empty text", R"({"distribution_preferences": [{"service": "s", "node": ""}]})",
       "preference node id is not a number: "},
      // The first fault in reading order is the one reported.
      {"nodename checked before enabled", nodes_doc(R"({"id": 1, "internal_addr": "a", "ruxd_port": 1,
                                                       "enabled": "x"})"),
       "[json.exception.out_of_range.403] key 'nodename' not found"},
      {"enabled checked before devices", nodes_doc(node_with(R"("devices": [1], "enabled": 0)")),
       "[json.exception.type_error.302] type must be boolean, but is number"},
      {"first faulty node wins", R"({"nodes": [)" + node_with("") + R"(, {"ruxd_port": 1}, [1]]})",
       "[json.exception.out_of_range.403] key 'id' not found"},
      {"cluster before nodes", R"({"nodes": [1], "cluster": {"type": {}}})",
       "[json.exception.type_error.302] type must be string, but is object"},
      {"nodes before services", R"({"services": [1], "nodes": [{"id": []}]})",
       "[json.exception.type_error.302] type must be number, but is array"},
      {"services before groups", R"({"service_groups": [1], "services": [)" + svc + R"(, 2]})",
       "[json.exception.type_error.304] cannot use at() with number"},
      {"groups before preferences", R"({"distribution_preferences": [1], "service_groups": [{}]})",
       "[json.exception.out_of_range.403] key 'name' not found"},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(load_error(c.document), c.message);
  }
}

// A mapping fault names the member being read when it failed, one case per
// kind of read and list; the exception is the one the plain loader throws.
// Faults that are not about a member (syntax) name none.
TEST_F(ConfigFileTest, MappingFaultsNameTheMemberAsAJsonPointer) {
  const std::string two_nodes = node_with("") + ", " + node_with("");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"cluster": {"type": 3}})", "/cluster/type"},
      {nodes_doc(two_nodes + R"(, {"id": 3, "internal_addr": "c", "ruxd_port": "7000"})"),
       "/nodes/2/ruxd_port"},
      {nodes_doc(R"({"internal_addr": "a"})"), "/nodes/0/id"},
      {R"({"nodes": [1]})", "/nodes/0/id"},
      {nodes_doc(node_with(R"("enabled": "yes")")), "/nodes/0/enabled"},
      {nodes_doc(node_with(R"("leadership_disabled": null)")), "/nodes/0/leadership_disabled"},
      {nodes_doc(node_with(R"("devices": ["a", "b", 1])")), "/nodes/0/devices/2"},
      {R"({"services": [{"name": "s"}, {"name": "t", "pools": ["p", null]}]})", "/services/1/pools/1"},
      {R"({"services": [{"name": "s", "enabled": []}]})", "/services/0/enabled"},
      {R"({"service_groups": [{"name": "g", "services": [{}]}]})", "/service_groups/0/services/0"},
      {R"({"distribution_preferences": [{"service": "s", "node": "x7"}]})",
       "/distribution_preferences/0/node"},
      {R"({"distribution_preferences": [{"node": 1}]})", "/distribution_preferences/0/service"},
      {"{\"nodes\": [", ""},
      {R"({"nodes": [1,]})", ""},
  };
  for (const auto& [document, pointer] : cases) {
    SCOPED_TRACE(document);
    const std::string path = write(document);
    std::string failed_member = "untouched";
    std::string message;
    if (load_cluster_config(path, &message, &failed_member)) message = "<loaded>";
    EXPECT_EQ(message, load_error(document));
    EXPECT_EQ(failed_member, pointer.empty() ? "untouched" : pointer);
  }
}

TEST_F(ConfigFileTest, RequiredNumbersNarrowToTheirWidth) {
  struct Case {
    const char* id;
    const char* port;
    std::uint32_t want_id;
    std::uint16_t want_port;
  };
  const Case cases[] = {
      {"7", "7000", 7, 7000},
      {"true", "false", 1, 0},
      {"7.9", "8080.99", 7, 8080},
      {"-0.5", "0.999", 0, 0},
      {"-7.9", "-1.5", 4294967289U, 65535},
      {"-1", "-1", 4294967295U, 65535},
      {"4294967296", "65536", 0, 0},
      {"21474836603", "1e10", 123, 58368},
      {"4294967297.5", "65537.5", 1, 1},
      {"18446744073709551615", "-9223372036854775808", 4294967295U, 0},
      {"1e300", "-1e300", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.id) + " / " + c.port);
    const std::string node = std::string(R"({"id": )") + c.id + R"(, "internal_addr": "a", "ruxd_port": )" +
                             c.port + R"(, "nodename": "n"})";
    const ClusterConfig config = load(nodes_doc(node));
    ASSERT_EQ(config.nodes.size(), 1U);
    EXPECT_EQ(config.nodes[0].id, c.want_id);
    EXPECT_EQ(config.nodes[0].ruxd_port, c.want_port);
  }
}

TEST_F(ConfigFileTest, PreferenceNodeFromTextOrNumber) {
  struct Case {
    const char* node;
    std::uint32_t want;
  };
  const Case cases[] = {
      {R"("42")", 42},
      {R"(" 7x")", 7},
      {R"("\t\n12")", 12},
      {R"("+8")", 8},
      {R"("4294967295")", 4294967295U},
      {"7", 7},
      {"7.9", 7},
      {"true", 1},
      {"4294967296", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.node);
    const ClusterConfig config =
        load(std::string(R"({"distribution_preferences": [{"service": "s", "node": )") + c.node + "}]}");
    ASSERT_EQ(config.distribution_preferences.size(), 1U);
    EXPECT_EQ(config.distribution_preferences[0].service, "s");
    EXPECT_EQ(config.distribution_preferences[0].node, c.want);
  }
}

TEST_F(ConfigFileTest, ClusterSectionTakesOnlyAcceptedKinds) {
  struct Case {
    const char* cluster;
    std::optional<std::string> type;
    std::optional<std::uint32_t> redundancy;
    std::optional<std::int32_t> start_delay;
    std::optional<std::string> mgmt_url;
  };
  const Case cases[] = {
      {R"({"type": "ha", "redundancy_n_plus": 2, "start_delay": -5, "mgmt-url": "tcp://127.0.0.1:5555"})",
       "ha", 2U, -5, "tcp://127.0.0.1:5555"},
      {R"({"type": null, "redundancy_n_plus": 2.0, "start_delay": 1.5, "mgmt-url": 5})", std::nullopt,
       std::nullopt, std::nullopt, std::nullopt},
      {R"({"type": "", "redundancy_n_plus": "2", "start_delay": "3", "mgmt-url": ""})", "", std::nullopt,
       std::nullopt, ""},
      {R"({"redundancy_n_plus": -1, "start_delay": false, "mgmt-url": null})", std::nullopt, std::nullopt,
       std::nullopt, std::nullopt},
      {R"({"redundancy_n_plus": 4294967297, "start_delay": 4294967295})", std::nullopt, 1U, -1, std::nullopt},
      {R"({"redundancy_n_plus": 0, "start_delay": -2147483649})", std::nullopt, 0U, 2147483647, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cluster);
    const ClusterSection section = load(std::string(R"({"cluster": )") + c.cluster + "}").cluster;
    EXPECT_EQ(section.type, c.type);
    EXPECT_EQ(section.redundancy_n_plus, c.redundancy);
    EXPECT_EQ(section.start_delay, c.start_delay);
    EXPECT_EQ(section.mgmt_url, c.mgmt_url);
  }
}

TEST_F(ConfigFileTest, NodeOptionalAndDefaultedKeys) {
  const ClusterConfig plain = load(nodes_doc(node_with("")));
  ASSERT_EQ(plain.nodes.size(), 1U);
  EXPECT_TRUE(plain.nodes[0].enabled);
  EXPECT_FALSE(plain.nodes[0].leadership_disabled);
  EXPECT_EQ(plain.nodes[0].assigned_target, "");
  EXPECT_TRUE(plain.nodes[0].devices.empty());
  EXPECT_FALSE(plain.nodes[0].site_id.has_value());
  EXPECT_FALSE(plain.nodes[0].runner_port.has_value());

  const ClusterConfig set = load(nodes_doc(node_with(
      R"("enabled": false, "leadership_disabled": true, "assigned_target": "t1", "devices": ["da0", "da1"],
         "site-id": 3, "runner_port": 70000)")));
  const NodeConfig& node = set.nodes.at(0);
  EXPECT_FALSE(node.enabled);
  EXPECT_TRUE(node.leadership_disabled);
  EXPECT_EQ(node.assigned_target, "t1");
  EXPECT_EQ(node.devices, (std::vector<std::string>{"da0", "da1"}));
  EXPECT_EQ(node.site_id, 3U);
  EXPECT_EQ(node.runner_port, 4464);  // low 16 bits of 70000

  for (const char* odd : {R"("site-id": -3, "runner_port": 1.0, "assigned_target": 5, "devices": "da0")",
                          R"("site-id": 3.0, "runner_port": "9000", "assigned_target": null, "devices": {})",
                          R"("site-id": 3e0, "runner_port": true, "assigned_target": [], "devices": null)"}) {
    SCOPED_TRACE(odd);
    const NodeConfig ignored = load(nodes_doc(node_with(odd))).nodes.at(0);
    EXPECT_FALSE(ignored.site_id.has_value());
    EXPECT_FALSE(ignored.runner_port.has_value());
    EXPECT_EQ(ignored.assigned_target, "");
    EXPECT_TRUE(ignored.devices.empty());
  }
}

TEST_F(ConfigFileTest, ServicesAndExternalAddresses) {
  const ClusterConfig config = load(R"({"services": [
      {"name": "web", "ext_ips": [{"interface": "em0", "ip": "192.0.2.1", "label": "front", "netmask": "24"},
                                  "192.0.2.9",
                                  {"ip": "192.0.2.2", "label": 5, "netmask": null}],
       "pools": ["tank", "tank"], "pri0": 10, "pri1": -1},
      {"name": "db", "enabled": false, "ext_ips": {"ip": "x"}, "pools": "tank", "pri0": 1.0, "pri1": 4294967296}
  ]})");
  ASSERT_EQ(config.services.size(), 2U);
  const ServiceConfig& web = config.services[0];
  EXPECT_EQ(web.name, "web");
  EXPECT_TRUE(web.enabled);
  ASSERT_EQ(web.ext_ips.size(), 3U);
  EXPECT_EQ(web.ext_ips[0].interface, "em0");
  EXPECT_EQ(web.ext_ips[0].ip, "192.0.2.1");
  EXPECT_EQ(web.ext_ips[0].label, "front");
  EXPECT_EQ(web.ext_ips[0].netmask, "24");
  for (const std::string& field :
       {web.ext_ips[1].interface, web.ext_ips[1].ip, web.ext_ips[1].label, web.ext_ips[1].netmask,
        web.ext_ips[2].interface, web.ext_ips[2].label, web.ext_ips[2].netmask}) {
    EXPECT_EQ(field, "");
  }
  EXPECT_EQ(web.ext_ips[2].ip, "192.0.2.2");
  EXPECT_EQ(web.pools, (std::vector<std::string>{"tank", "tank"}));
  EXPECT_EQ(web.pri0, 10U);
  EXPECT_FALSE(web.pri1.has_value());

  const ServiceConfig& db = config.services[1];
  EXPECT_FALSE(db.enabled);
  EXPECT_TRUE(db.ext_ips.empty());
  EXPECT_TRUE(db.pools.empty());
  EXPECT_FALSE(db.pri0.has_value());
  EXPECT_EQ(db.pri1, 0U);
}

TEST_F(ConfigFileTest, PoolsAndDisksSkipNonStrings) {
  const ClusterConfig config = load(R"({
      "pools": {"p1": ["a", 2, "b", null], "p2": "x", "p3": [], "B": ["c"], "\u00e9": [], "p4": {"a": "b"}},
      "ha": {"disks": ["a", 1, {}, "b"], "candidate_timeout_sec": -3, "leader_period_sec": 2.5},
      "service_groups": [{"name": "g", "services": ["web", "db"]}, {"name": "", "services": "web"}]
  })");
  std::vector<std::string> names;
  for (const auto& entry : config.pools)
    names.push_back(entry.first);
  // Byte-wise order: upper case before lower case, multi-byte UTF-8 last.
  EXPECT_EQ(names, (std::vector<std::string>{"B", "p1", "p3", "\xc3\xa9"}));
  EXPECT_EQ(config.pools.at("p1"), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(config.pools.at("p3").empty());
  EXPECT_EQ(config.ha.disks, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(config.ha.candidate_timeout_sec, -3);
  EXPECT_FALSE(config.ha.leader_period_sec.has_value());
  ASSERT_EQ(config.service_groups.size(), 2U);
  EXPECT_EQ(config.service_groups[0].services, (std::vector<std::string>{"web", "db"}));
  EXPECT_EQ(config.service_groups[1].name, "");
  EXPECT_TRUE(config.service_groups[1].services.empty());
}

TEST_F(ConfigFileTest, NodesKeepFileOrderAndUnescapedText) {
  const ClusterConfig config = load(R"({"version": 4, "nodes": [
      {"id": 2, "internal_addr": "10.0.0.2", "ruxd_port": 7001, "nodename": "b\u00fcro", "x": 1},
      {"id": 1, "internal_addr": "10.0.0.1", "ruxd_port": 7001, "nodename": "tab\there"}]})");
  ASSERT_EQ(config.nodes.size(), 2U);
  EXPECT_EQ(config.nodes[0].id, 2U);
  EXPECT_EQ(config.nodes[0].nodename, "b\xc3\xbcro");
  EXPECT_EQ(config.nodes[1].id, 1U);
  EXPECT_EQ(config.nodes[1].nodename, "tab\there");
}

}  // namespace
}  // namespace tarnex
