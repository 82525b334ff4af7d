#include "sim_server.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <zmq.hpp>

#include "sim_routes.hpp"
#include "sim_wire.hpp"

namespace tarnex::sim {

volatile std::sig_atomic_t stop_requested = 0;

namespace {

using Clock = std::chrono::steady_clock;

// How many chunks of its connection ZeroMQ keeps unread for one peer (at most
// 8 KiB each) before it stops reading from it.
constexpr int chunks_held_per_peer = 16;
// How many chunks one turn of the loop reads, so that due replies are not
// kept waiting by a peer that sends without end.
constexpr int chunks_per_turn = 64;
// How many replies the daemon holds for one peer (waiting for an operation or
// for --delay-ms), and how many ZeroMQ queues for it unread; a peer that sends
// more requests without reading the replies is closed.
constexpr int replies_held_per_peer = 64;

// One connection: the bytes received and not yet read as requests (less than
// a chunk), where its reading stands, how many of its replies are held, and
// when it opened.
struct Peer {
  std::string unread;
  WireReader reader;
  int held = 0;
  SimTime opened{0};
};

// Where a reply goes: the connection, and whether it begins with an empty part.
struct Destination {
  std::string peer;
  bool delimited = false;
};

// A reply on its way back, not to be sent before `due`.
struct Outgoing {
  Clock::time_point due;
  std::string peer;
  std::string frames;
};

// What the daemon's loop keeps besides the cluster: the connections, the
// requests waiting for an operation to end, by ticket, and the replies on
// their way out.
struct Loop {
  zmq::socket_t& socket;
  SimCluster& cluster;
  std::chrono::milliseconds delay;
  std::chrono::milliseconds greeting_bound;
  Clock::time_point started = Clock::now();
  std::uint64_t next_ticket = 1;
  std::map<std::string, Peer> peers;
  std::unordered_map<std::uint64_t, Destination> waiting;
  std::deque<Outgoing> outgoing;
};

SimTime clock_of(const Loop& loop) {
  return std::chrono::duration_cast<SimTime>(Clock::now() - loop.started);
}

bool silent(const Loop& loop) {
  return clock_of(loop) < loop.cluster.silent_until;
}

// Sends `bytes` on the connection of `peer`; an empty text closes it. A peer
// that is gone, or that reads nothing and has a full queue, loses it.
bool send_raw(zmq::socket_t& socket, const std::string& peer, const std::string& bytes) {
  try {
    if (!socket.send(zmq::buffer(peer), zmq::send_flags::sndmore | zmq::send_flags::dontwait)) return false;
    return socket.send(zmq::buffer(bytes), zmq::send_flags::dontwait).has_value();
  } catch (const zmq::error_t&) {
    return false;
  }
}

void queue_reply(Loop& loop, const Destination& to, const std::string& text) {
  loop.outgoing.push_back({Clock::now() + loop.delay, to.peer, zmtp_reply(to.delimited, text)});
}

// Answers a request of `peer`, or refuses to take it when the peer has
// replies enough held (false).
bool answer(Loop& loop, const std::string& id, Peer& peer, const WireRequest& request) {
  if (peer.held >= replies_held_per_peer) return false;
  ++peer.held;
  const Destination to{id, request.delimited};
  if (request.parts != 1) {
    queue_reply(loop, to,
                reply_text(error_reply(error_bad_request, "a request must be a single message part")));
    return true;
  }
  const std::uint64_t ticket = loop.next_ticket++;
  if (auto reply = handle_request_text(loop.cluster, request.text, clock_of(loop), ticket)) {
    queue_reply(loop, to, *reply);
  } else {
    loop.waiting.emplace(ticket, to);
  }
  return true;
}

// Sends the replies that are due, each one off the count of its peer.
void send_due(Loop& loop) {
  while (!loop.outgoing.empty() && loop.outgoing.front().due <= Clock::now()) {
    const Outgoing& reply = loop.outgoing.front();
    send_raw(loop.socket, reply.peer, reply.frames);
    if (const auto peer = loop.peers.find(reply.peer); peer != loop.peers.end()) --peer->second.held;
    loop.outgoing.pop_front();
  }
}

// Answers the requests complete in what the peer sent, until the daemon falls
// silent; a peer that breaks the protocol, sends too much or reads no
// replies is closed.
void read_peer(Loop& loop, const std::string& id) {
  const auto found = loop.peers.find(id);
  if (found == loop.peers.end()) return;
  Peer& peer = found->second;
  std::string_view input = peer.unread;
  std::string problem;
  while (!input.empty() && !silent(loop)) {
    std::optional<WireRequest> request;
    if (!read_request(&peer.reader, &input, &request, &problem) ||
        (request && !answer(loop, id, peer, *request))) {
      send_raw(loop.socket, id, {});
      loop.peers.erase(found);
      return;
    }
  }
  peer.unread.erase(0, peer.unread.size() - input.size());
}

// One chunk off the socket: an empty one opens or closes a connection.
void take_chunk(Loop& loop, const std::string& id, const zmq::message_t& data) {
  const auto found = loop.peers.find(id);
  if (data.empty()) {
    if (found != loop.peers.end()) {
      loop.peers.erase(found);
    } else if (send_raw(loop.socket, id, zmtp_hello())) {
      loop.peers.emplace(id, Peer{{}, {}, 0, clock_of(loop)});
    }
    return;
  }
  // Whatever comes after the daemon closed a connection is dropped.
  if (found == loop.peers.end()) return;
  found->second.unread.append(data.data<char>(), data.size());
  read_peer(loop, id);
}

// Reads what has come, a bounded number of chunks, while the daemon is not
// silent and no stop is asked for.
void take_input(Loop& loop) {
  for (int i = 0; i < chunks_per_turn && stop_requested == 0 && !silent(loop); ++i) {
    zmq::message_t id;
    zmq::message_t data;
    try {
      if (!loop.socket.recv(id, zmq::recv_flags::dontwait)) return;
      if (!loop.socket.recv(data, zmq::recv_flags::none)) return;
    } catch (const zmq::error_t& e) {
      if (e.num() != EINTR) throw;
      return;
    }
    take_chunk(loop, id.to_string(), data);
  }
}

// Closes the connections whose peers have not greeted in time, so that
// connections left half open cannot pile up. Time the daemon spent silent,
// reading nothing, does not count against them.
void close_ungreeted(Loop& loop) {
  if (loop.greeting_bound.count() == 0 || silent(loop)) return;
  const SimTime now = clock_of(loop);
  for (auto peer = loop.peers.begin(); peer != loop.peers.end();) {
    const SimTime since = std::max(peer->second.opened, loop.cluster.silent_until);
    if (!greeted(peer->second.reader) && now - since >= loop.greeting_bound) {
      send_raw(loop.socket, peer->first, {});
      peer = loop.peers.erase(peer);
    } else {
      ++peer;
    }
  }
}

// Until the next thing to do, and never so long that a stop signal waits.
std::chrono::milliseconds wait_time(const Loop& loop, SimTime now) {
  auto wait = std::chrono::milliseconds(100);
  if (const auto next = next_operation_end(loop.cluster)) wait = std::min(wait, *next - now);
  if (now < loop.cluster.silent_until) wait = std::min(wait, loop.cluster.silent_until - now);
  if (!loop.outgoing.empty()) {
    wait = std::min(wait,
                    std::chrono::ceil<std::chrono::milliseconds>(loop.outgoing.front().due - Clock::now()));
  }
  return std::max(wait, std::chrono::milliseconds(0));
}

// The daemon's loop: requests are read as they come, but a start or stop
// that takes time holds only its own reply, so that other requests (a status,
// a break) are answered meanwhile.
void run_loop(Loop& loop) {
  while (stop_requested == 0) {
    const SimTime now = clock_of(loop);
    for (auto& held : advance(loop.cluster, now)) {
      const auto waiting = loop.waiting.find(held.ticket);
      if (waiting == loop.waiting.end()) continue;
      queue_reply(loop, waiting->second, reply_text(held.reply));
      loop.waiting.erase(waiting);
    }
    send_due(loop);
    close_ungreeted(loop);
    // What was left unread when the daemon fell silent is read once it speaks again.
    std::vector<std::string> pending;
    for (const auto& [id, peer] : loop.peers) {
      if (!peer.unread.empty()) pending.push_back(id);
    }
    for (const auto& id : pending)
      read_peer(loop, id);
    const bool quiet = silent(loop);
    zmq::pollitem_t items[] = {{loop.socket.handle(), 0, static_cast<short>(quiet ? 0 : ZMQ_POLLIN), 0}};
    try {
      if (zmq::poll(items, 1, wait_time(loop, now)) == 0) continue;
    } catch (const zmq::error_t& e) {
      if (e.num() != EINTR) throw;
      continue;
    }
    if ((items[0].revents & ZMQ_POLLIN) != 0) take_input(loop);
  }
}

}  // namespace

bool serve(SimCluster& cluster, const std::string& endpoint, std::chrono::milliseconds delay,
           std::chrono::milliseconds greeting_bound,
           void (*on_listening)(const std::string& endpoint, const SimCluster& cluster), std::string* error) {
  zmq::context_t context;
  zmq::socket_t socket(context, zmq::socket_type::stream);
  socket.set(zmq::sockopt::linger, 0);
  socket.set(zmq::sockopt::rcvhwm, chunks_held_per_peer);
  socket.set(zmq::sockopt::sndhwm, replies_held_per_peer);
  socket.set(zmq::sockopt::stream_notify, 1);
  try {
    socket.bind(endpoint);
  } catch (const zmq::error_t& e) {
    *error = "cannot bind " + endpoint + ": " + e.what();
    return false;
  }
  on_listening(endpoint, cluster);
  Loop loop{socket, cluster, delay, greeting_bound, Clock::now(), 1, {}, {}, {}};
  run_loop(loop);
  return true;
}

}  // namespace tarnex::sim
