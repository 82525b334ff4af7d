#include "support/responder.hpp"

#include <cerrno>
#include <utility>

namespace tarnex::testing {
namespace {

constexpr std::chrono::milliseconds poll_slice{50};

}  // namespace

Responder::Responder(std::vector<Reply> script) : script_(std::move(script)) {
  // Bound here, so the endpoint is known before the client starts; the socket
  // then belongs to the serving thread alone.
  zmq::socket_t socket(context_, zmq::socket_type::rep);
  socket.set(zmq::sockopt::linger, 0);
  socket.bind("tcp://127.0.0.1:*");
  endpoint_ = socket.get(zmq::sockopt::last_endpoint);
  thread_ = std::thread(&Responder::serve, this, std::move(socket));
}

Responder::~Responder() {
  stopping_ = true;
  thread_.join();
}

std::vector<std::string> Responder::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void Responder::serve(zmq::socket_t socket) {
  static const Reply unscripted{unscripted_reply};
  std::size_t answered = 0;
  bool silent = false;
  while (!stopping_) {
    zmq::pollitem_t item{socket.handle(), 0, ZMQ_POLLIN, 0};
    try {
      if (zmq::poll(&item, 1, poll_slice) == 0) continue;
    } catch (const zmq::error_t& error) {
      if (error.num() == EINTR) continue;
      throw;
    }

    zmq::message_t request;
    if (!socket.recv(request, zmq::recv_flags::dontwait)) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request.to_string());
    }
    // A REP socket takes no further request before it answered: a silent
    // responder goes on polling only to notice the end of the test.
    if (silent) continue;
    const Reply& reply = answered < script_.size() ? script_[answered] : unscripted;
    ++answered;

    // Held in slices, so stopping is never delayed by a long hold.
    auto release = std::chrono::steady_clock::now() + reply.delay;
    while (!stopping_ && std::chrono::steady_clock::now() < release)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (stopping_) break;
    if (reply.kind == Reply::Kind::silent) {
      silent = true;
    } else if (reply.kind == Reply::Kind::die) {
      socket.close();  // linger 0: the connection drops with the request
      return;
    } else {
      socket.send(zmq::buffer(reply.text), zmq::send_flags::none);
    }
  }
}

}  // namespace tarnex::testing
