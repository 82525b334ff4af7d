#include "daemon/zmq_transport.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include <zmq.hpp>

namespace tarnex {
namespace {

// One context for the whole process; its destructor terminates it at exit,
// retrying on EINTR. Sockets linger 0, so termination never waits.
zmq::context_t& zmq_context() {
  static zmq::context_t context;
  return context;
}

// The events of a REQ socket's connection, read from the monitor socket
// that ZeroMQ writes them to: an event number and value, then the endpoint.
class PeerWatch {
 public:
  explicit PeerWatch(zmq::socket_t& watched) : socket_(zmq_context(), zmq::socket_type::pair) {
    static std::uint64_t count = 0;
    const std::string address = "inproc://tarnex-peer-" + std::to_string(++count);
    constexpr int events = ZMQ_EVENT_CONNECTED | ZMQ_EVENT_CONNECT_RETRIED | ZMQ_EVENT_DISCONNECTED;
    socket_.set(zmq::sockopt::linger, 0);
    if (zmq_socket_monitor(watched.handle(), address.c_str(), events) != 0) return;
    socket_.connect(address);
    watching_ = true;
  }

  PeerState state() {
    while (watching_) {
      zmq::message_t event;
      if (!socket_.recv(event, zmq::recv_flags::dontwait)) break;
      zmq::message_t endpoint;
      if (!event.more() || !socket_.recv(endpoint, zmq::recv_flags::dontwait)) break;
      std::uint16_t number = 0;
      if (event.size() >= sizeof number) std::memcpy(&number, event.data(), sizeof number);
      if (number == ZMQ_EVENT_CONNECTED) {
        state_ = PeerState::connected;
        connected_ = true;
      }
      if (number == ZMQ_EVENT_CONNECT_RETRIED || number == ZMQ_EVENT_DISCONNECTED)
        state_ = PeerState::refused;
    }
    return state_;
  }

  bool watching() const { return watching_; }
  bool connected_once() const { return connected_; }
  void* handle() { return socket_.handle(); }

 private:
  zmq::socket_t socket_;
  bool watching_ = false;
  bool connected_ = false;
  PeerState state_ = PeerState::unknown;
};

class ZmqConnection : public Connection {
 public:
  explicit ZmqConnection(bool watch_peer) : socket_(zmq_context(), zmq::socket_type::req) {
    if (!watch_peer) return;
    try {
      watch_.emplace(socket_);
    } catch (const zmq::error_t&) {
      // Watching only explains a wait; the request goes on without it.
      watch_.reset();
    }
  }

  bool send(const std::string& endpoint, const std::string& request) override {
    socket_.set(zmq::sockopt::linger, 0);
    socket_.connect(endpoint);
    const zmq::send_result_t sent = socket_.send(zmq::buffer(request), zmq::send_flags::none);
    return sent && *sent != 0;
  }

  // Waits on the reply and, when watched, on the events of the daemon's
  // end, so that a connection is reported the moment it is made.
  std::optional<std::string> receive(std::chrono::milliseconds wait) override {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + wait;
    const bool watching = watch_ && watch_->watching();
    for (;;) {
      note_peer();
      zmq::pollitem_t items[] = {{socket_.handle(), 0, ZMQ_POLLIN, 0},
                                 {watching ? watch_->handle() : nullptr, 0, ZMQ_POLLIN, 0}};
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      zmq::poll(items, watching ? 2 : 1, std::max(left, std::chrono::milliseconds(0)));
      if ((items[0].revents & ZMQ_POLLIN) != 0) {
        zmq::message_t message;
        if (socket_.recv(message, zmq::recv_flags::dontwait)) {
          return std::string(static_cast<const char*>(message.data()), message.size());
        }
      }
      if (Clock::now() >= deadline) {
        note_peer();
        return std::nullopt;
      }
    }
  }

  PeerState peer_state() override { return watch_ ? watch_->state() : PeerState::unknown; }

  void report_reached(std::atomic<bool>& reached) override {
    if (watch_ && watch_->watching()) {
      reached_ = &reached;
    } else {
      reached = true;
    }
  }

 private:
  void note_peer() {
    if (!watch_) return;
    watch_->state();
    if (reached_ != nullptr && watch_->connected_once()) reached_->store(true);
  }

  zmq::socket_t socket_;
  std::optional<PeerWatch> watch_;
  std::atomic<bool>* reached_ = nullptr;
};

}  // namespace

std::unique_ptr<Connection> ZmqTransport::open(bool watch_peer) {
  return std::make_unique<ZmqConnection>(watch_peer);
}

}  // namespace tarnex
