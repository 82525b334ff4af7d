#include "sim_wire.hpp"

#include <algorithm>

namespace tarnex::sim {

namespace {

constexpr std::size_t greeting_size = 64;
constexpr unsigned char flag_more = 0x01;
constexpr unsigned char flag_long = 0x02;
constexpr unsigned char flag_command = 0x04;

void append_frame(std::string& out, unsigned char flags, std::string_view body) {
  if (body.size() > 255) flags |= flag_long;
  out += static_cast<char>(flags);
  if ((flags & flag_long) != 0) {
    for (int shift = 56; shift >= 0; shift -= 8)
      out += static_cast<char>((static_cast<std::uint64_t>(body.size()) >> shift) & 0xff);
  } else {
    out += static_cast<char>(body.size());
  }
  out += body;
}

// A greeting of ZMTP 3 or later with the NULL mechanism; any other peer
// cannot talk to the daemon.
bool acceptable_greeting(const std::string& greeting) {
  static const std::string null_mechanism("NULL\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 20);
  return static_cast<unsigned char>(greeting[0]) == 0xff && (greeting[9] & 0x01) != 0 && greeting[10] >= 3 &&
         greeting.compare(12, 20, null_mechanism) == 0;
}

// The frame header is whole: its flags byte and its 1 or 8 size bytes.
bool header_done(const std::string& header) {
  if (header.empty()) return false;
  return header.size() == ((header[0] & flag_long) != 0 ? 9U : 2U);
}

std::uint64_t header_size(const std::string& header) {
  std::uint64_t size = 0;
  for (std::size_t i = 1; i < header.size(); ++i)
    size = (size << 8) | static_cast<unsigned char>(header[i]);
  return size;
}

}  // namespace

std::string zmtp_hello() {
  std::string hello(greeting_size, '\0');
  hello[0] = static_cast<char>(0xff);
  hello[8] = 1;  // the padding read as a length by peers of the first protocol
  hello[9] = 0x7f;
  hello[10] = 3;  // ZMTP 3.0
  hello.replace(12, 4, "NULL");
  std::string ready("\x05READY\x0bSocket-Type", 18);
  ready += std::string("\0\0\0\x06ROUTER", 10);
  append_frame(hello, flag_command, ready);
  return hello;
}

bool greeted(const WireReader& reader) {
  return reader.greeting.size() == greeting_size;
}

bool read_request(WireReader* reader, std::string_view* input, std::optional<WireRequest>* request,
                  std::string* error) {
  WireReader& r = *reader;
  while (!input->empty()) {
    if (r.greeting.size() < greeting_size) {
      const std::size_t take = std::min(greeting_size - r.greeting.size(), input->size());
      r.greeting.append(input->substr(0, take));
      input->remove_prefix(take);
      if (r.greeting.size() == greeting_size && !acceptable_greeting(r.greeting)) {
        *error = "not a ZMTP 3 peer with the NULL mechanism";
        return false;
      }
      continue;
    }
    if (!r.in_body) {
      r.header += input->front();
      input->remove_prefix(1);
      if (!header_done(r.header)) continue;
      const auto flags = static_cast<unsigned char>(r.header[0]);
      r.body_left = header_size(r.header);
      r.command = (flags & flag_command) != 0;
      r.more = (flags & flag_more) != 0;
      r.header.clear();
      r.in_body = true;
      if (!r.command) {
        if (r.body_left > max_request_bytes - r.total) {
          *error = "request larger than " + std::to_string(max_request_bytes) + " bytes";
          return false;
        }
        // The first part of a request, when empty, is the delimiter of a REQ socket.
        const bool first = r.total == 0 && !r.request.delimited && r.request.parts == 0;
        if (first && r.body_left == 0) {
          r.request.delimited = true;
        } else {
          ++r.request.parts;
        }
        r.total += r.body_left;
      }
    }
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(r.body_left, input->size()));
    if (!r.command && r.request.parts == 1 && r.request.text.size() < r.keep) {
      r.request.text.append(input->substr(0, std::min(take, r.keep - r.request.text.size())));
    }
    input->remove_prefix(take);
    r.body_left -= take;
    if (r.body_left > 0) continue;
    r.in_body = false;
    if (r.command || r.more) continue;
    *request = std::move(r.request);
    r.request = WireRequest{};
    r.total = 0;
    return true;
  }
  return true;
}

std::string zmtp_reply(bool delimited, std::string_view text) {
  std::string out;
  if (delimited) append_frame(out, flag_more, {});
  append_frame(out, 0, text);
  return out;
}

}  // namespace tarnex::sim
