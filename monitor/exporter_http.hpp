#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/snapshot.hpp"

namespace tarnex::monitor {

// The head of one HTTP/1.x request, as the exporter needs it.
struct HttpRequest {
  std::string method;
  std::string path;                      // the target without its query
  std::optional<double> scrape_timeout;  // X-Prometheus-Scrape-Timeout-Seconds, when a plain decimal
  Clock::time_point arrived;             // when the head was complete
};

// A response body in pieces, so that a large page needs no one block of
// memory that holds it all.
using Body = std::vector<std::string>;

struct HttpResponse {
  int status = 200;
  std::string content_type;
  std::shared_ptr<const Body> body;  // none: an empty body
  std::string extra_headers;         // whole lines, each ending in "\r\n"
};

enum class HeadRead {
  incomplete,  // the blank line has not come yet
  complete,
  bad,  // 400
};

// Reads a request head from `text`, which holds what came so far: complete
// once the blank line that ends the head is there.
HeadRead read_request_head(std::string_view text, HttpRequest* request);

// The status line and headers of a response whose body has `length` bytes.
std::string response_head(const HttpResponse& response, std::size_t length);

// Answers a request; `client_gone` tells whether its client has closed the
// connection meanwhile.
using HttpHandler =
    std::function<HttpResponse(const HttpRequest& request, const std::function<bool()>& client_gone)>;

// An HTTP/1.x server: one thread accepts, each connection is served on a
// thread of its own and closed after one response. Up to `max_connections`
// are served at once; one more is answered 503 at once. A connection that
// has not sent its whole head within `head_deadline` is closed, without
// holding up any other.
class HttpServer {
 public:
  HttpServer(HttpHandler handler, int max_connections, std::chrono::milliseconds head_deadline);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Listens on ":PORT" (every IPv4 address), "HOST:PORT" (every address the
  // host name has) or "[ADDRESS]:PORT"; port 0 takes a free port. False,
  // with the reason, when any of them cannot be listened on.
  bool listen(const std::string& address, std::string* error);
  // The port listened on.
  int port() const;
  // Starts accepting on a thread of its own.
  void start();

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

// The host and port of a listen address, or nothing when it has none of the
// forms HttpServer::listen takes (a comma list among them).
struct ListenAddress {
  std::string host;  // empty: every IPv4 address
  std::string port;
};
std::optional<ListenAddress> parse_listen_address(const std::string& address);

}  // namespace tarnex::monitor
