#include "daemon/zmq_transport.hpp"

#include <algorithm>
#include <cerrno>
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

// How long a dropped connection is given to show ZeroMQ's attempt to
// reconnect. The attempt is queued in the same step as the drop, so this is
// only ever waited out when no attempt follows.
constexpr std::chrono::milliseconds reconnect_settle{500};

// The events of a REQ socket's connection, read from the monitor socket
// that ZeroMQ writes them to: an event number and value, then the endpoint.
class PeerWatch {
 public:
  explicit PeerWatch(zmq::socket_t& watched) : socket_(zmq_context(), zmq::socket_type::pair) {
    static std::uint64_t count = 0;
    const std::string address = "inproc://tarnex-peer-" + std::to_string(++count);
    constexpr int events = ZMQ_EVENT_CONNECTED | ZMQ_EVENT_CONNECT_RETRIED | ZMQ_EVENT_DISCONNECTED |
                           ZMQ_EVENT_HANDSHAKE_SUCCEEDED;
    socket_.set(zmq::sockopt::linger, 0);
    if (zmq_socket_monitor(watched.handle(), address.c_str(), events) != 0) return;
    socket_.connect(address);
    watching_ = true;
  }

  // Reads the events that are out, the first of them waiting at most `wait`.
  // A caught signal ends the reading early: the interrupting descriptor
  // decides what it means.
  PeerState state(std::chrono::milliseconds wait = std::chrono::milliseconds(0)) {
    cut_ = false;
    while (watching_) {
      zmq::pollitem_t item{socket_.handle(), 0, ZMQ_POLLIN, 0};
      try {
        if (zmq::poll(&item, 1, wait) == 0) break;
      } catch (const zmq::error_t& error) {
        if (error.num() != EINTR) throw;
        cut_ = true;
        break;
      }
      wait = std::chrono::milliseconds(0);
      zmq::message_t event;
      if (!socket_.recv(event, zmq::recv_flags::dontwait)) break;
      zmq::message_t endpoint;
      if (!event.more() || !socket_.recv(endpoint, zmq::recv_flags::dontwait)) break;
      std::uint16_t number = 0;
      if (event.size() >= sizeof number) std::memcpy(&number, event.data(), sizeof number);
      // Only a drop after the greetings can be a refused message: a peer
      // that speaks no ZeroMQ fails before them.
      dropped_ = number == ZMQ_EVENT_DISCONNECTED && greeted_;
      greeted_ = number == ZMQ_EVENT_HANDSHAKE_SUCCEEDED || (greeted_ && number != ZMQ_EVENT_DISCONNECTED);
      if (number == ZMQ_EVENT_CONNECTED) {
        state_ = PeerState::connected;
        connected_ = true;
      }
      if (number == ZMQ_EVENT_CONNECT_RETRIED || number == ZMQ_EVENT_DISCONNECTED)
        state_ = PeerState::refused;
    }
    return state_;
  }

  // The last event read dropped the connection. When the daemon closed it,
  // ZeroMQ tries to reconnect at once; when the socket refused a message
  // larger than its bound, it gives the connection up for good.
  bool given_up() {
    if (!dropped_) return false;
    state(reconnect_settle);
    return dropped_ && !cut_;
  }

  bool watching() const { return watching_; }
  bool connected_once() const { return connected_; }
  void* handle() { return socket_.handle(); }

 private:
  zmq::socket_t socket_;
  bool watching_ = false;
  bool connected_ = false;
  bool dropped_ = false;
  bool greeted_ = false;
  bool cut_ = false;  // the last reading was cut short by a signal
  PeerState state_ = PeerState::unknown;
};

class ZmqConnection : public Connection {
 public:
  // The daemon's end is always watched, as the watch tells a refused reply;
  // `watch_peer` decides whether its state is reported.
  explicit ZmqConnection(bool watch_peer)
      : socket_(zmq_context(), zmq::socket_type::req), report_(watch_peer) {
    socket_.set(zmq::sockopt::linger, 0);
    socket_.set(zmq::sockopt::maxmsgsize, static_cast<std::int64_t>(max_reply_bytes));
    try {
      watch_.emplace(socket_);
    } catch (const zmq::error_t&) {
      // Without the watch a wait cannot be explained, and a refused reply
      // looks like silence until the timeout.
      watch_.reset();
    }
  }

  bool send(const std::string& endpoint, const std::string& request) override {
    socket_.connect(endpoint);
    for (;;) {
      try {
        const zmq::send_result_t sent = socket_.send(zmq::buffer(request), zmq::send_flags::none);
        return sent && *sent != 0;
      } catch (const zmq::error_t& error) {
        // A signal caught while the message was handed over: the exchange
        // looks at it once the request is out.
        if (error.num() != EINTR) throw;
      }
    }
  }

  // Waits on the reply, on the events of the daemon's end and on the
  // interrupting descriptor.
  std::optional<std::string> receive(std::chrono::milliseconds wait) override {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + wait;
    const bool watching = watch_ && watch_->watching();
    for (;;) {
      if (watching) {
        watch_->state();
        if (watch_->given_up()) throw ReplyTooLarge();
      }
      zmq::pollitem_t items[] = {{socket_.handle(), 0, ZMQ_POLLIN, 0},
                                 {nullptr, interrupt_fd_, ZMQ_POLLIN, 0},
                                 {watching ? watch_->handle() : nullptr, 0, ZMQ_POLLIN, 0}};
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      const int count = watching ? 3 : 2;
      if (interrupt_fd_ < 0) items[1] = items[count - 1];
      try {
        zmq::poll(items, interrupt_fd_ < 0 ? count - 1 : count, std::max(left, std::chrono::milliseconds(0)));
      } catch (const zmq::error_t& error) {
        // A caught signal: the interrupting descriptor says whether it ends
        // the wait.
        if (error.num() != EINTR || interrupt_fd_ < 0) throw;
        continue;
      }
      if ((items[0].revents & ZMQ_POLLIN) != 0) {
        zmq::message_t message;
        if (socket_.recv(message, zmq::recv_flags::dontwait)) {
          return std::string(static_cast<const char*>(message.data()), message.size());
        }
      }
      if (interrupt_fd_ >= 0 && (items[1].revents & ZMQ_POLLIN) != 0) throw WaitInterrupted();
      if (Clock::now() >= deadline) {
        if (watching) watch_->state();
        return std::nullopt;
      }
    }
  }

  PeerState peer_state() override { return watch_ && report_ ? watch_->state() : PeerState::unknown; }

  bool may_have_reached() override {
    if (!watch_ || !watch_->watching()) return true;
    watch_->state();
    return watch_->connected_once();
  }

  void interrupt_on(int fd) override { interrupt_fd_ = fd; }

 private:
  zmq::socket_t socket_;
  bool report_;
  std::optional<PeerWatch> watch_;
  int interrupt_fd_ = -1;
};

}  // namespace

std::unique_ptr<Connection> ZmqTransport::open(bool watch_peer) {
  return std::make_unique<ZmqConnection>(watch_peer);
}

}  // namespace tarnex
