#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "daemon/message.hpp"
#include "sim_cluster.hpp"

namespace tarnex::sim {

// The largest request text that is parsed. The client's requests are a few
// hundred bytes; parsing builds values many times the size of the text, so
// larger requests are refused unread.
inline constexpr std::size_t max_parsed_request_bytes = 64 << 10;

// Answers one request at `now` and applies it to `cluster`. A start or stop
// that takes time gets no reply yet (nullopt): it comes from advance(), under
// `ticket`, once the operation ends. Malformed or refused requests get an
// error reply.
std::optional<Json> handle_request(SimCluster& cluster, const Json& request, SimTime now = SimTime{0},
                                   std::uint64_t ticket = 0);

// The wire form of handle_request: parses the request text exactly as
// strictly as the client parses replies, and returns the compact reply text.
std::optional<std::string> handle_request_text(SimCluster& cluster, std::string_view text,
                                               SimTime now = SimTime{0}, std::uint64_t ticket = 0);

// The compact text of a reply, as it goes on the wire.
std::string reply_text(const Json& reply);

}  // namespace tarnex::sim
