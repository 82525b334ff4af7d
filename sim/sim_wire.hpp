#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sim_routes.hpp"

namespace tarnex::sim {

// ZeroMQ's wire protocol (ZMTP 3, NULL mechanism) as ruxd-sim speaks it on
// the raw connections of a ZMQ_STREAM socket. ZeroMQ's own message sockets
// hold every part of a message until its last one has come, so a peer could
// make them hold gigabytes; reading the frames here, the daemon keeps at most
// the first max_parsed_request_bytes + 1 bytes of a request, whatever its peer
// sends.

// A request whose parts come to more than this in total is dropped unread,
// with its connection.
inline constexpr std::uint64_t max_request_bytes = 4 << 20;

// What the daemon sends first on every connection: its greeting and its READY
// command, as a ROUTER socket, so that REQ and DEALER sockets talk to it.
std::string zmtp_hello();

// One request as a peer sent it.
struct WireRequest {
  bool delimited = false;  // it began with an empty part (a REQ socket's); so does the reply
  std::size_t parts = 0;   // its parts after that
  std::string text;        // its first part, cut after `keep` bytes
};

// Where the reading of one connection stands.
struct WireReader {
  // How much of a request's first part is kept: enough for the handler to
  // tell a request it parses from one that is too long.
  std::size_t keep = max_parsed_request_bytes + 1;
  std::string greeting;         // the peer's greeting, until it is whole
  std::string header;           // the flags and size of the frame being read
  std::uint64_t body_left = 0;  // bytes of its body still to come
  bool in_body = false;
  bool command = false;     // a command frame: its body is skipped
  bool more = false;        // more parts follow the frame
  std::uint64_t total = 0;  // the bytes of the request so far
  WireRequest request;      // the request being read
};

// Whether the peer's whole greeting has come.
bool greeted(const WireReader& reader);

// Reads bytes off the front of `*input` until a request is complete, then
// sets `*request` and stops, leaving the rest of the input for the next call.
// False with `*error` set when the peer breaks the protocol or its request
// grows over max_request_bytes: the connection is to be closed.
bool read_request(WireReader* reader, std::string_view* input, std::optional<WireRequest>* request,
                  std::string* error);

// The frames of a reply: an empty part first when the request had one.
std::string zmtp_reply(bool delimited, std::string_view text);

}  // namespace tarnex::sim
