#include "support/scripted_transport.hpp"

#include <stdexcept>
#include <utility>

namespace tarnex::testing {

std::vector<Reply> answers(const std::vector<std::string>& texts) {
  std::vector<Reply> script;
  script.reserve(texts.size());
  for (const std::string& text : texts)
    script.push_back({text});
  return script;
}

class ScriptedConnection : public Connection {
 public:
  ScriptedConnection(ScriptedTransport& transport, bool watch_peer)
      : transport_(transport), watch_peer_(watch_peer) {}

  bool send(const std::string& endpoint, const std::string& request) override {
    const std::size_t index = transport_.attempts_++;
    reply_ = index < transport_.script_.size() ? transport_.script_[index] : Reply{unscripted_reply};
    if (reply_.kind == Reply::Kind::fail_connect) throw std::runtime_error(reply_.text);
    if (reply_.kind == Reply::Kind::refuse_send) return false;
    transport_.endpoints.push_back(endpoint);
    transport_.requests.push_back(request);
    reached_ = reply_.kind != Reply::Kind::never_connected;
    return true;
  }

  std::optional<std::string> receive(std::chrono::milliseconds wait) override {
    const bool answers = reply_.kind == Reply::Kind::answer;
    if (!answers || elapsed_ + wait < reply_.delay) {
      elapsed_ += wait;
      transport_.waited += wait;
      if (transport_.waited > transport_.patience)
        throw std::runtime_error("test: the daemon never answered");
      return std::nullopt;
    }
    transport_.waited += reply_.delay - elapsed_;
    return reply_.text;
  }

  PeerState peer_state() override { return watch_peer_ ? transport_.peer : PeerState::unknown; }

  bool may_have_reached() override { return reached_; }

 private:
  ScriptedTransport& transport_;
  bool watch_peer_;
  Reply reply_;
  bool reached_ = false;
  std::chrono::milliseconds elapsed_{0};
};

ScriptedTransport::ScriptedTransport(std::vector<Reply> script) : script_(std::move(script)) {}

std::unique_ptr<Connection> ScriptedTransport::open(bool watch_peer) {
  watched.push_back(watch_peer);
  return std::make_unique<ScriptedConnection>(*this, watch_peer);
}

}  // namespace tarnex::testing
