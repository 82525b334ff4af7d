#include "scenario_config.hpp"

#include <nlohmann/json.hpp>

namespace tarnex::testing {

std::string scenario_config(const std::string& endpoint) {
  nlohmann::json config = nlohmann::json::parse(R"({
    "cluster": {"type": "ha-storage", "redundancy_n_plus": 1},
    "nodes": [
      {"id": 1, "nodename": "alpha", "internal_addr": "10.0.0.1", "ruxd_port": 57010},
      {"id": 2, "nodename": "bravo", "internal_addr": "10.0.0.2", "ruxd_port": 57010},
      {"id": 3, "nodename": "charlie", "internal_addr": "10.0.0.3", "ruxd_port": 57010, "enabled": false}
    ],
    "services": [
      {"name": "db", "pools": ["db-pool"]},
      {"name": "web", "pools": ["www", "logs"]},
      {"name": "cache"},
      {"name": "archive", "enabled": false, "pools": ["arch"]},
      {"name": "mail"}
    ],
    "service_groups": [{"name": "frontend", "services": ["web", "cache"]}],
    "distribution_preferences": [
      {"service": "db", "node": 1},
      {"service": "web", "node": 2},
      {"service": "mail", "node": 3}
    ],
    "pools": {"db-pool": ["da0"], "www": ["da1"], "logs": ["da2"], "arch": ["da3"]}
  })");
  config["cluster"]["mgmt-url"] = endpoint;
  return config.dump(2);
}

}  // namespace tarnex::testing
