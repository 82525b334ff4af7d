#include "config/validate.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

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

// A hash set in one flat table (open addressing, linear probing). Sets of a
// hundred thousand names then cost one allocation rather than one per name,
// and a look-up reads one slot rather than a bucket and a node elsewhere.
// Sized once for the most keys it will ever hold, at most half full.
template <typename Key>
struct FlatSet {
  std::vector<Key> keys;
  std::vector<unsigned char> used;
  std::size_t mask = 0;
};

template <typename Key>
FlatSet<Key> flat_set_for(std::size_t most_keys) {
  std::size_t slots = 8;
  while (slots < 2 * most_keys)
    slots *= 2;
  return FlatSet<Key>{std::vector<Key>(slots), std::vector<unsigned char>(slots, 0), slots - 1};
}

// The standard hash of an integer is the integer itself: mixed, ids that
// share their low bits (1024, 2048, ...) still spread over the table.
template <typename Key>
std::size_t first_slot(const FlatSet<Key>& set, const Key& key) {
  std::uint64_t hash = std::hash<Key>{}(key);
  hash ^= hash >> 33;
  hash *= 0xff51afd7ed558ccdULL;
  hash ^= hash >> 33;
  hash *= 0xc4ceb9fe1a85ec53ULL;
  hash ^= hash >> 33;
  return static_cast<std::size_t>(hash) & set.mask;
}

// Adds `key`; false when the set already held it.
template <typename Key>
bool insert(FlatSet<Key>& set, const Key& key) {
  for (std::size_t slot = first_slot(set, key);; slot = (slot + 1) & set.mask) {
    if (set.used[slot] == 0) {
      set.used[slot] = 1;
      set.keys[slot] = key;
      return true;
    }
    if (set.keys[slot] == key) return false;
  }
}

template <typename Key>
bool contains(const FlatSet<Key>& set, const Key& key) {
  for (std::size_t slot = first_slot(set, key);; slot = (slot + 1) & set.mask) {
    if (set.used[slot] == 0) return false;
    if (set.keys[slot] == key) return true;
  }
}

}  // namespace

// Files may list thousands of nodes and a hundred thousand services, so every
// look-up goes through a hash set; the views point into `config`, which
// outlives the pass.
std::vector<std::string> validate_cluster_config(const ClusterConfig& config) {
  std::vector<std::string> errors;
  FlatSet<std::uint32_t> node_ids = flat_set_for<std::uint32_t>(config.nodes.size());
  FlatSet<std::string_view> service_names = flat_set_for<std::string_view>(config.services.size());

  if (!config.nodes.empty()) {
    bool some_node_may_lead = false;
    for (std::size_t i = 0; i < config.nodes.size(); ++i) {
      const NodeConfig& node = config.nodes[i];
      if (node.nodename.empty()) errors.push_back(prefix("nodes", i) + "empty nodename");
      if (node.internal_addr.empty()) errors.push_back(prefix("nodes", i) + "empty internal_addr");
      if (!insert(node_ids, node.id)) {
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

  FlatSet<std::string_view> pool_names = flat_set_for<std::string_view>(config.pools.size());
  for (const auto& entry : config.pools)
    insert(pool_names, std::string_view(entry.first));

  for (std::size_t i = 0; i < config.services.size(); ++i) {
    const ServiceConfig& service = config.services[i];
    if (service.name.empty()) {
      errors.push_back(prefix("services", i) + "empty service name");
    } else if (!insert(service_names, std::string_view(service.name))) {
      errors.push_back(prefix("services", i) + "duplicate service name " + quoted(service.name));
    }
    // Without any declared pool the references cannot be checked at all.
    if (config.pools.empty()) continue;
    for (const std::string& pool : service.pools) {
      if (!contains(pool_names, std::string_view(pool))) {
        errors.push_back(prefix("services", i) + "references non-existent pool " + quoted(pool));
      }
    }
  }

  for (std::size_t i = 0; i < config.distribution_preferences.size(); ++i) {
    const DistributionPreference& preference = config.distribution_preferences[i];
    if (!contains(node_ids, preference.node)) {
      errors.push_back(prefix("distribution_preferences", i) + "references non-existent node id " +
                       std::to_string(preference.node));
    }
    if (!contains(service_names, std::string_view(preference.service))) {
      errors.push_back(prefix("distribution_preferences", i) + "references non-existent service " +
                       quoted(preference.service));
    }
  }

  for (std::size_t i = 0; i < config.service_groups.size(); ++i) {
    const ServiceGroupConfig& group = config.service_groups[i];
    if (group.name.empty()) errors.push_back(prefix("service_groups", i) + "empty group name");
    for (const std::string& member : group.services) {
      if (!contains(service_names, std::string_view(member))) {
        errors.push_back(prefix("service_groups", i) + "references non-existent service " + quoted(member));
      }
    }
  }

  return errors;
}

}  // namespace tarnex
