#include "support/scripted_transport.hpp"

#include <stdexcept>
#include <utility>

namespace tarnex::testing {

class ScriptedConnection : public Connection {
 public:
  explicit ScriptedConnection(ScriptedTransport& transport) : transport_(transport) {}

  bool send(const std::string& endpoint, const std::string& request) override {
    const std::size_t index = transport_.attempts_++;
    step_ = index < transport_.script_.size() ? transport_.script_[index] : Step{unscripted_reply};
    if (step_.kind == Step::Kind::fail_connect) throw std::runtime_error(step_.text);
    if (step_.kind == Step::Kind::refuse_send) return false;
    transport_.endpoints.push_back(endpoint);
    transport_.requests.push_back(request);
    return true;
  }

  std::optional<std::string> receive(std::chrono::milliseconds wait) override {
    if (step_.kind == Step::Kind::silent) {
      transport_.waited += wait;
      if (transport_.waited > transport_.patience)
        throw std::runtime_error("test: the daemon never answered");
      return std::nullopt;
    }
    if (elapsed_ + wait < step_.delay) {
      elapsed_ += wait;
      transport_.waited += wait;
      return std::nullopt;
    }
    transport_.waited += step_.delay - elapsed_;
    return step_.text;
  }

 private:
  ScriptedTransport& transport_;
  Step step_;
  std::chrono::milliseconds elapsed_{0};
};

ScriptedTransport::ScriptedTransport(std::vector<Step> script) : script_(std::move(script)) {}

std::unique_ptr<Connection> ScriptedTransport::open() {
  return std::make_unique<ScriptedConnection>(*this);
}

}  // namespace tarnex::testing
