#include "sim_transport.hpp"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <utility>

#include "sim_routes.hpp"

namespace tarnex::testing {

using sim::SimTime;

class SimConnection : public Connection {
 public:
  SimConnection(SimTransport& daemon, bool watch_peer) : daemon_(daemon), watch_peer_(watch_peer) {}

  bool send(const std::string& endpoint, const std::string& request) override {
    if (endpoint != daemon_.endpoint) throw std::runtime_error("test: nothing listens at " + endpoint);
    unread_ = request;
    return true;
  }

  std::optional<std::string> receive(std::chrono::milliseconds wait) override {
    const SimTime until = daemon_.now + wait;
    for (;;) {
      const std::optional<SimTime> next = next_event();
      if (!next || *next > until) {
        daemon_.now = until;
        waited_ += wait;
        if (waited_ > daemon_.patience) throw std::runtime_error("test: the daemon never answered");
        return std::nullopt;
      }
      daemon_.now = std::max(daemon_.now, *next);
      step();
      if (reply_ && due_ <= daemon_.now) return std::exchange(reply_, std::nullopt);
    }
  }

  PeerState peer_state() override { return watch_peer_ ? PeerState::connected : PeerState::unknown; }

 private:
  // When something next happens to this request: it is read, the operation
  // holding its reply ends, or its reply is due.
  std::optional<SimTime> next_event() const {
    if (unread_) return std::max(daemon_.now, daemon_.cluster.silent_until);
    if (held_ != 0) {
      if (!daemon_.cluster.outbox.empty()) return daemon_.now;
      return sim::next_operation_end(daemon_.cluster);
    }
    if (reply_) return due_;
    return std::nullopt;
  }

  // One turn of the daemon's loop at `now`: operations due end, then the
  // request is read unless the daemon is silent.
  void step() {
    for (sim::SimReply& done : sim::advance(daemon_.cluster, daemon_.now)) {
      // Replies for earlier connections have nobody left to read them.
      if (done.ticket != held_) continue;
      held_ = 0;
      queue(sim::reply_text(done.reply));
    }
    if (!unread_ || daemon_.now < daemon_.cluster.silent_until) return;
    const std::uint64_t ticket = daemon_.next_ticket_++;
    std::optional<std::string> reply =
        sim::handle_request_text(daemon_.cluster, *std::exchange(unread_, std::nullopt), daemon_.now, ticket);
    if (reply) {
      queue(std::move(*reply));
    } else {
      held_ = ticket;
    }
  }

  void queue(std::string reply) {
    reply_ = std::move(reply);
    due_ = daemon_.now + daemon_.reply_delay;
  }

  SimTransport& daemon_;
  bool watch_peer_;
  std::optional<std::string> unread_;
  std::uint64_t held_ = 0;  // the ticket of a reply an operation holds
  std::optional<std::string> reply_;
  SimTime due_{0};
  std::chrono::milliseconds waited_{0};
};

SimTransport::SimTransport(sim::SimCluster cluster, std::string endpoint)
    : cluster(std::move(cluster)), endpoint(std::move(endpoint)) {}

std::unique_ptr<Connection> SimTransport::open(bool watch_peer) {
  return std::make_unique<SimConnection>(*this, watch_peer);
}

}  // namespace tarnex::testing
