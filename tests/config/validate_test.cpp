#include "config/validate.hpp"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace tarnex {
namespace {

using Lines = std::vector<std::string>;

NodeConfig node(std::uint32_t id, std::string name = "n", std::string addr = "10.0.0.1",
                bool leadership_disabled = false) {
  NodeConfig result;
  result.id = id;
  result.nodename = std::move(name);
  result.internal_addr = std::move(addr);
  result.leadership_disabled = leadership_disabled;
  return result;
}

ServiceConfig service(std::string name, Lines pools = {}) {
  ServiceConfig result;
  result.name = std::move(name);
  result.pools = std::move(pools);
  return result;
}

DistributionPreference preference(std::string service_name, std::uint32_t node_id) {
  DistributionPreference result;
  result.service = std::move(service_name);
  result.node = node_id;
  return result;
}

ServiceGroupConfig group(std::string name, Lines services) {
  ServiceGroupConfig result;
  result.name = std::move(name);
  result.services = std::move(services);
  return result;
}

ClusterConfig with_redundancy(std::vector<NodeConfig> nodes, std::optional<std::uint32_t> redundancy) {
  ClusterConfig config;
  config.nodes = std::move(nodes);
  config.cluster.redundancy_n_plus = redundancy;
  return config;
}

struct Case {
  const char* what;
  ClusterConfig config;
  Lines expected;
};

std::vector<Case> cases() {
  std::vector<Case> all;
  all.push_back({"empty configuration", ClusterConfig{}, {}});

  {
    ClusterConfig c;
    c.nodes = {node(1), node(2)};
    c.services = {service("web", {"tank"})};
    c.pools["tank"] = {"da0"};
    c.distribution_preferences = {preference("web", 2)};
    c.service_groups = {group("g", {"web", "web"})};
    c.cluster.redundancy_n_plus = 1;
    all.push_back({"consistent configuration", c, {}});
  }

  {
    ClusterConfig c;
    c.cluster.redundancy_n_plus = 5;
    c.distribution_preferences = {preference("web", 0), preference("web", 4294967295U)};
    c.services = {service("web")};
    all.push_back({"no nodes: no node, redundancy or leadership lines",
                   c,
                   {"distribution_preferences[0]: references non-existent node id 0",
                    "distribution_preferences[1]: references non-existent node id 4294967295"}});
  }

  all.push_back({"redundancy equal to node count",
                 with_redundancy({node(1), node(2), node(3)}, 3U),
                 {"cluster: redundancy_n_plus 3 must be less than the number of nodes (3)"}});
  all.push_back({"redundancy above node count",
                 with_redundancy({node(1)}, 4294967295U),
                 {"cluster: redundancy_n_plus 4294967295 must be less than the number of nodes (1)"}});
  all.push_back({"redundancy below node count", with_redundancy({node(1), node(2), node(3)}, 2U), {}});

  all.push_back({"no node may lead",
                 with_redundancy({node(1, "a", "x", true), node(2, "b", "y", true)}, std::nullopt),
                 {"nodes: leadership_disabled on every node - cluster can never elect a leader"}});
  all.push_back({"one node may lead",
                 with_redundancy({node(1, "a", "x", true), node(2, "b", "y", false)}, std::nullopt),
                 {}});

  all.push_back({"same id three times",
                 with_redundancy({node(5), node(5), node(5)}, std::nullopt),
                 {"nodes[1]: duplicate node id 5", "nodes[2]: duplicate node id 5"}});
  all.push_back(
      {"every node test on one node",
       with_redundancy({node(7), node(7, "", "")}, std::nullopt),
       {"nodes[1]: empty nodename", "nodes[1]: empty internal_addr", "nodes[1]: duplicate node id 7"}});
  {
    ClusterConfig c;
    c.services = {service("a"), service(""), service("a"), service(""), service("A")};
    all.push_back({"empty and duplicate service names",
                   c,
                   {"services[1]: empty service name", "services[2]: duplicate service name \"a\"",
                    "services[3]: empty service name"}});
  }

  {
    ClusterConfig c;
    c.services = {service("web", {"tank", "other"})};
    all.push_back({"pool references unchecked without pools", c, {}});
    c.pools["vault"] = {};
    all.push_back({"pool references checked once a pool exists",
                   c,
                   {"services[0]: references non-existent pool \"tank\"",
                    "services[0]: references non-existent pool \"other\""}});
  }

  {
    ClusterConfig c;
    c.pools["tank"] = {};
    c.services = {service("", {"Tank", "tank", " tank", ""}), service("x", {"tank"}), service("x", {"t"})};
    all.push_back(
        {"pool test runs after a name fault; matching is exact",
         c,
         {"services[0]: empty service name", "services[0]: references non-existent pool \"Tank\"",
          "services[0]: references non-existent pool \" tank\"",
          "services[0]: references non-existent pool \"\"", "services[2]: duplicate service name \"x\"",
          "services[2]: references non-existent pool \"t\""}});
  }

  {
    ClusterConfig c;
    c.nodes = {node(1), node(1)};
    c.services = {service("web"), service("web"), service("")};
    c.distribution_preferences = {preference("web", 1), preference("", 1), preference("Web", 2)};
    all.push_back({"references to duplicates exist, the empty name never does",
                   c,
                   {"nodes[1]: duplicate node id 1", "services[1]: duplicate service name \"web\"",
                    "services[2]: empty service name",
                    "distribution_preferences[1]: references non-existent service \"\"",
                    "distribution_preferences[2]: references non-existent node id 2",
                    "distribution_preferences[2]: references non-existent service \"Web\""}});
  }

  {
    ClusterConfig c;
    c.services = {service("web")};
    c.service_groups = {group("", {"x", "web", "y"}), group("g", {}), group("h", {""})};
    all.push_back(
        {"groups",
         c,
         {"service_groups[0]: empty group name", "service_groups[0]: references non-existent service \"x\"",
          "service_groups[0]: references non-existent service \"y\"",
          "service_groups[2]: references non-existent service \"\""}});
  }

  {
    // Ids alike in their low bits land near each other in a hash table; the
    // empty text is a pool name like any other.
    ClusterConfig c;
    c.nodes = {node(0), node(65536), node(131072), node(65536), node(4294967295U), node(0), node(1U << 31)};
    c.pools[""] = {};
    c.pools["tank"] = {};
    c.services = {service("web", {"", "tank", "tan"})};
    c.distribution_preferences = {preference("web", 131072), preference("web", 196608)};
    all.push_back({"ids alike in their low bits, an empty pool name",
                   c,
                   {"nodes[3]: duplicate node id 65536", "nodes[5]: duplicate node id 0",
                    "services[0]: references non-existent pool \"tan\"",
                    "distribution_preferences[1]: references non-existent node id 196608"}});
  }

  {
    // One fault of every kind, given in reverse of the order they are reported.
    ClusterConfig c;
    c.service_groups = {group("", {"nope"})};
    c.distribution_preferences = {preference("nope", 9)};
    c.pools["tank"] = {};
    c.services = {service("s", {"vault"}), service("s")};
    c.cluster.redundancy_n_plus = 2;
    c.nodes = {node(3, "", "a", true), node(3, "b", "", true)};
    all.push_back(
        {"every step in order",
         c,
         {"nodes[0]: empty nodename", "nodes[1]: empty internal_addr", "nodes[1]: duplicate node id 3",
          "cluster: redundancy_n_plus 2 must be less than the number of nodes (2)",
          "nodes: leadership_disabled on every node - cluster can never elect a leader",
          "services[0]: references non-existent pool \"vault\"", "services[1]: duplicate service name \"s\"",
          "distribution_preferences[0]: references non-existent node id 9",
          "distribution_preferences[0]: references non-existent service \"nope\"",
          "service_groups[0]: empty group name",
          "service_groups[0]: references non-existent service \"nope\""}});
  }

  return all;
}

TEST(ValidateClusterConfig, ReportsEveryViolationInStepOrder) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(validate_cluster_config(c.config), c.expected);
  }
}

// A file may list ten thousand nodes and a hundred thousand services; anything
// worse than linear would take minutes here.
TEST(ValidateClusterConfig, LargeConfigurationInLinearTime) {
  ClusterConfig config;
  config.cluster.redundancy_n_plus = 2;
  for (std::uint32_t id = 0; id < 10000; ++id) {
    config.nodes.push_back(node(id * 7, "node" + std::to_string(id), "10.1.0.1"));
  }
  config.nodes.push_back(node(7));
  for (int i = 0; i < 100; ++i)
    config.pools["pool" + std::to_string(i)] = {};
  for (int i = 0; i < 100000; ++i) {
    config.services.push_back(service("svc" + std::to_string(i), {"pool" + std::to_string(i % 100)}));
    config.distribution_preferences.push_back(preference("svc" + std::to_string(i), (i % 10000) * 7));
  }
  config.services.push_back(service("svc99999", {"pool100"}));
  Lines members;
  for (int i = 0; i < 100000; i += 3)
    members.push_back("svc" + std::to_string(i));
  members.push_back("svc100000");
  config.service_groups = {group("all", members)};

  const auto start = std::chrono::steady_clock::now();
  const Lines errors = validate_cluster_config(config);
  const auto elapsed = std::chrono::steady_clock::now() - start;

  EXPECT_EQ(errors, (Lines{"nodes[10000]: duplicate node id 7",
                           "services[100000]: duplicate service name \"svc99999\"",
                           "services[100000]: references non-existent pool \"pool100\"",
                           "service_groups[0]: references non-existent service \"svc100000\""}));
  // Generous even under sanitizers; a quadratic pass needs far longer.
  EXPECT_LT(elapsed, std::chrono::seconds(20));
}

}  // namespace
}  // namespace tarnex
