#pragma once

#include <string>
#include <vector>

#include "config/cluster_config.hpp"

namespace tarnex {

// Checks a loaded configuration against the cluster rules and returns one
// message per violation, in the order found; empty means valid.
std::vector<std::string> validate_cluster_config(const ClusterConfig& config);

}  // namespace tarnex
