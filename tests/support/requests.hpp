#pragma once

#include <string>

namespace tarnex::testing {

// The requests most commands send, byte for byte as they go on the wire.
inline const std::string node_status_request = R"({"call":"node","cmd":"status"})";
inline const std::string pools_status_request = R"({"adv":"pools","call":"service","cmd":"status"})";
inline const std::string cluster_exit_request = R"({"call":"cluster","cmd":"exit"})";

// The daemon address a sandbox's configuration names for a run against a
// ScriptedTransport: the address is only recorded, never connected to.
inline const std::string test_endpoint = "tcp://127.0.0.1:57017";

}  // namespace tarnex::testing
