#include "config/validate.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <unordered_set>

namespace tarnex {

namespace {

std::string prefix(std::string_view list, std::size_t position) {
  std::string text(list);
  text += '[';
  text += std::to_string(position);
  text += "]: ";
  return text;
}

std::string quoted(std::string_view text) {
  std::string result = "\"";
  result += text;
  result += '"';
  return result;
}

}  // namespace

// Every look-up goes through a hash set, so a file of many thousand services
// is checked in linear time; the views point into `config`, which outlives
// the pass.
std::vector<std::string> validate_cluster_config(const ClusterConfig& config) {
  std::vector<std::string> errors;
  std::unordered_set<std::uint32_t> node_ids;
  node_ids.reserve(config.nodes.size());
  std::unordered_set<std::string_view> service_names;
  service_names.reserve(config.services.size());

  if (!config.nodes.empty()) {
    bool some_node_may_lead = false;
    for (std::size_t i = 0; i < config.nodes.size(); ++i) {
      const NodeConfig& node = config.nodes[i];
      if (node.nodename.empty()) errors.push_back(prefix("nodes", i) + "empty nodename");
      if (node.internal_addr.empty()) errors.push_back(prefix("nodes", i) + "empty internal_addr");
      if (!node_ids.insert(node.id).second) {
        errors.push_back(prefix("nodes", i) + "duplicate node id " + std::to_string(node.id));
      }
      some_node_may_lead = some_node_may_lead || !node.leadership_disabled;
    }

    const auto& redundancy = config.cluster.redundancy_n_plus;
    if (redundancy && *redundancy >= config.nodes.size()) {
      errors.push_back("cluster: redundancy_n_plus " + std::to_string(*redundancy) +
                       " must be less than the number of nodes (" + std::to_string(config.nodes.size()) +
                       ")");
    }
    if (!some_node_may_lead) {
      errors.emplace_back("nodes: leadership_disabled on every node - cluster can never elect a leader");
    }
  }

  std::unordered_set<std::string_view> pool_names;
  pool_names.reserve(config.pools.size());
  for (const auto& entry : config.pools)
    pool_names.insert(entry.first);

  for (std::size_t i = 0; i < config.services.size(); ++i) {
    const ServiceConfig& service = config.services[i];
    if (service.name.empty()) {
      errors.push_back(prefix("services", i) + "empty service name");
    } else if (!service_names.insert(service.name).second) {
      errors.push_back(prefix("services", i) + "duplicate service name " + quoted(service.name));
    }
    // Without any declared pool the references cannot be checked at all.
    if (config.pools.empty()) continue;
    for (const std::string& pool : service.pools) {
      if (pool_names.count(pool) == 0) {
        errors.push_back(prefix("services", i) + "references non-existent pool " + quoted(pool));
      }
    }
  }

  for (std::size_t i = 0; i < config.distribution_preferences.size(); ++i) {
    const DistributionPreference& preference = config.distribution_preferences[i];
    if (node_ids.count(preference.node) == 0) {
      errors.push_back(prefix("distribution_preferences", i) + "references non-existent node id " +
                       std::to_string(preference.node));
    }
    if (service_names.count(preference.service) == 0) {
      errors.push_back(prefix("distribution_preferences", i) + "references non-existent service " +
                       quoted(preference.service));
    }
  }

  for (std::size_t i = 0; i < config.service_groups.size(); ++i) {
    const ServiceGroupConfig& group = config.service_groups[i];
    if (group.name.empty()) errors.push_back(prefix("service_groups", i) + "empty group name");
    for (const std::string& member : group.services) {
      if (service_names.count(member) == 0) {
        errors.push_back(prefix("service_groups", i) + "references non-existent service " + quoted(member));
      }
    }
  }

  return errors;
}

}  // namespace tarnex
