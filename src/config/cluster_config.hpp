#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarnex {

// The cluster daemon's configuration file in memory. Plain values only; the
// loader either fills a whole record or gives none.

struct ClusterSection {
  std::optional<std::string> type;
  std::optional<std::uint32_t> redundancy_n_plus;
  std::optional<std::int32_t> start_delay;
  std::optional<std::string> mgmt_url;
};

struct NodeConfig {
  std::uint32_t id = 0;
  std::string internal_addr;
  std::uint16_t ruxd_port = 0;
  std::string nodename;
  std::string assigned_target;
  bool enabled = true;
  std::vector<std::string> devices;
  std::optional<std::uint32_t> site_id;
  bool leadership_disabled = false;
  std::optional<std::uint16_t> runner_port;
};

struct ExternalIp {
  std::string interface;
  std::string ip;
  std::string label;
  std::string netmask;
};

struct ServiceConfig {
  std::string name;
  bool enabled = true;
  std::vector<ExternalIp> ext_ips;
  std::vector<std::string> pools;
  std::optional<std::uint32_t> pri0;
  std::optional<std::uint32_t> pri1;
};

struct ServiceGroupConfig {
  std::string name;
  std::vector<std::string> services;
};

struct DistributionPreference {
  std::string service;
  std::uint32_t node = 0;
};

struct HaSection {
  std::vector<std::string> disks;
  std::optional<std::int32_t> candidate_timeout_sec;
  std::optional<std::int32_t> leader_period_sec;
};

struct ClusterConfig {
  ClusterSection cluster;
  std::vector<NodeConfig> nodes;
  std::vector<ServiceConfig> services;
  std::vector<ServiceGroupConfig> service_groups;
  std::vector<DistributionPreference> distribution_preferences;
  HaSection ha;
  std::map<std::string, std::vector<std::string>> pools;
};

// Configuration files nested deeper than this are refused: the deepest key
// is four levels down, and each level costs memory while the file is read.
inline constexpr std::size_t max_config_depth = 512;

// Reads and maps the file at `path`; nothing when the file cannot be opened
// or read, is not JSON, or a member does not map, with the reason in *error
// ("cannot open config file: <path>", or the JSON library's text). When
// mapping a member fails, *failed_member is the JSON pointer of the member
// being read ("/nodes/2/ruxd_port").
std::optional<ClusterConfig> load_cluster_config(const std::string& path, std::string* error,
                                                 std::string* failed_member = nullptr);

}  // namespace tarnex
