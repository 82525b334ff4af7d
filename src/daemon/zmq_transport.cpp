#include "daemon/zmq_transport.hpp"

#include <zmq.hpp>

namespace tarnex {
namespace {

// One context for the whole process; its destructor terminates it at exit,
// retrying on EINTR. Sockets linger 0, so termination never waits.
zmq::context_t& zmq_context() {
  static zmq::context_t context;
  return context;
}

class ZmqConnection : public Connection {
 public:
  ZmqConnection() : socket_(zmq_context(), zmq::socket_type::req) {}

  bool send(const std::string& endpoint, const std::string& request) override {
    socket_.set(zmq::sockopt::linger, 0);
    socket_.connect(endpoint);
    const zmq::send_result_t sent = socket_.send(zmq::buffer(request), zmq::send_flags::none);
    return sent && *sent != 0;
  }

  std::optional<std::string> receive(std::chrono::milliseconds wait) override {
    const auto milliseconds = static_cast<int>(wait.count());
    if (milliseconds != receive_timeout_) {
      socket_.set(zmq::sockopt::rcvtimeo, milliseconds);
      receive_timeout_ = milliseconds;
    }
    zmq::message_t message;
    if (!socket_.recv(message, zmq::recv_flags::none)) return std::nullopt;
    return std::string(static_cast<const char*>(message.data()), message.size());
  }

 private:
  zmq::socket_t socket_;
  int receive_timeout_ = -1;  // ZeroMQ's own default: wait for ever
};

}  // namespace

std::unique_ptr<Connection> ZmqTransport::open() {
  return std::make_unique<ZmqConnection>();
}

}  // namespace tarnex
