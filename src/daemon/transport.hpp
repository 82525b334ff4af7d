#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace tarnex {

// How one request reaches the daemon and its reply comes back. The program
// uses ZeroMQ (zmq_transport.hpp); tests put a scripted daemon in its place.

// What the transport knows of the daemon's end while a reply is awaited.
enum class PeerState {
  unknown,    // nothing known yet
  refused,    // connecting failed: nothing accepts connections there
  connected,  // connected; the daemon has not answered
};

// One request's connection, closed when it is destroyed.
class Connection {
 public:
  virtual ~Connection() = default;
  // Connects to `endpoint` and sends `request` as one message. False when
  // the transport accepted nothing; throws std::exception on any other
  // failure.
  virtual bool send(const std::string& endpoint, const std::string& request) = 0;
  // Waits at most `wait` for the reply: its bytes, or nothing when none came
  // in that time. Throws std::exception when the wait fails.
  virtual std::optional<std::string> receive(std::chrono::milliseconds wait) = 0;
  // The state of the daemon's end, when the connection was opened to watch
  // it; unknown otherwise.
  virtual PeerState peer_state() { return PeerState::unknown; }
  // Sets `reached` once a connection to the daemon's end is made, while
  // the connection waits; a signal handler may read it meanwhile. Without
  // a watch on the daemon's end nothing can be told, and `reached` is set
  // at once: the request may have been delivered.
  virtual void report_reached(std::atomic<bool>& reached) { reached = true; }
};

class Transport {
 public:
  virtual ~Transport() = default;
  // A fresh connection for one request, watching the daemon's end when
  // `watch_peer` is set. Throws std::exception when none can be made.
  virtual std::unique_ptr<Connection> open(bool watch_peer) = 0;
};

}  // namespace tarnex
