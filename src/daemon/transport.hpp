#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace tarnex {

// How one request reaches the daemon and its reply comes back. The program
// uses ZeroMQ (zmq_transport.hpp); tests put a scripted daemon in its place.

// The largest reply taken: twice the reply of a cluster of 100,000 services
// with two pools each (16 MB). A larger one is refused by its size, before
// it is read.
inline constexpr std::size_t max_reply_mebibytes = 32;
inline constexpr std::size_t max_reply_bytes = max_reply_mebibytes << 20;

// Thrown by Connection::receive for a reply larger than max_reply_bytes.
class ReplyTooLarge : public std::runtime_error {
 public:
  ReplyTooLarge();
};

// Thrown by Connection::receive once the descriptor given to interrupt_on
// is readable.
class WaitInterrupted : public std::runtime_error {
 public:
  WaitInterrupted() : std::runtime_error("interrupted") {}
};

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
  // in that time. Throws ReplyTooLarge, WaitInterrupted, or std::exception
  // when the wait fails otherwise.
  virtual std::optional<std::string> receive(std::chrono::milliseconds wait) = 0;
  // The state of the daemon's end, when the connection was opened to watch
  // it; unknown otherwise.
  virtual PeerState peer_state() { return PeerState::unknown; }
  // Whether the request may have reached the daemon, from what the
  // connection has seen up to this call: false only when it knows that no
  // connection to the daemon's end was ever made.
  virtual bool may_have_reached() { return true; }
  // Makes a wait in receive end with WaitInterrupted once `fd` is readable.
  virtual void interrupt_on(int /*fd*/) {}
};

class Transport {
 public:
  virtual ~Transport() = default;
  // A fresh connection for one request, watching the daemon's end when
  // `watch_peer` is set. Throws std::exception when none can be made.
  virtual std::unique_ptr<Connection> open(bool watch_peer) = 0;
};

}  // namespace tarnex
