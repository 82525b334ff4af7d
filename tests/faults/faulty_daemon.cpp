#include "faulty_daemon.hpp"

#include <cerrno>
#include <chrono>
#include <utility>

namespace tarnex::faults {

FaultyDaemon::FaultyDaemon(std::vector<Step> script) : script_(std::move(script)) {
  zmq::socket_t socket(context_, zmq::socket_type::rep);
  socket.set(zmq::sockopt::linger, 0);
  socket.bind("tcp://127.0.0.1:*");
  endpoint_ = socket.get(zmq::sockopt::last_endpoint);
  thread_ = std::thread(&FaultyDaemon::serve, this, std::move(socket));
}

FaultyDaemon::~FaultyDaemon() {
  stopping_ = true;
  thread_.join();
}

std::vector<std::string> FaultyDaemon::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void FaultyDaemon::serve(zmq::socket_t socket) {
  std::size_t step = 0;
  bool silent = false;
  while (!stopping_) {
    zmq::pollitem_t item{socket.handle(), 0, ZMQ_POLLIN, 0};
    try {
      if (zmq::poll(&item, 1, std::chrono::milliseconds(50)) == 0) continue;
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
    // A REP socket takes no further request before it answered; a silent
    // daemon keeps polling only so that it notices the end of the test.
    if (silent || step >= script_.size() || script_[step].kind == Step::Kind::silent) {
      silent = true;
      continue;
    }
    const Step& current = script_[step++];
    if (current.kind == Step::Kind::die) {
      socket.close();  // linger 0: the connection drops, the request is lost
      while (!stopping_)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      return;
    }
    socket.send(zmq::buffer(current.reply), zmq::send_flags::none);
  }
}

}  // namespace tarnex::faults
