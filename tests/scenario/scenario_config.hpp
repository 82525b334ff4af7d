#pragma once

#include <string>

namespace tarnex::testing {

// The daemon configuration every scenario runs against, its "mgmt-url" set
// to `endpoint`. alpha (1) and bravo (2) enabled, charlie (3) disabled. db
// prefers alpha, web bravo, mail the disabled charlie (so it falls back to
// alpha); cache has no preference; archive is disabled and stays stopped.
std::string scenario_config(const std::string& endpoint);

}  // namespace tarnex::testing
