#include "monitor/exporter_http.hpp"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>
#include <utility>

namespace tarnex::monitor {
namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

constexpr std::size_t head_limit = std::size_t{16} * 1024;
constexpr int send_timeout_seconds = 60;

const char* reason_phrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 431:
      return "Request Header Fields Too Large";
    case 503:
      return "Service Unavailable";
    default:
      return "Internal Server Error";
  }
}

bool same_letters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'A' && x <= 'Z' ? x - 'A' + 'a' : x) == (y >= 'A' && y <= 'Z' ? y - 'A' + 'a' : y);
         });
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

// "METHOD TARGET HTTP/1.x", the target in origin form.
bool read_request_line(std::string_view line, HttpRequest* request) {
  const std::size_t first = line.find(' ');
  const std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
  if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos) return false;
  const std::string_view method = line.substr(0, first);
  const std::string_view target = line.substr(first + 1, second - first - 1);
  const std::string_view version = line.substr(second + 1);
  if (method.empty() || target.empty() || (version != "HTTP/1.0" && version != "HTTP/1.1")) return false;
  request->method = method;
  request->path = target.substr(0, target.find('?'));
  return true;
}

void send_all(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return;
    data.remove_prefix(static_cast<std::size_t>(sent));
  }
}

void respond(int fd, const HttpResponse& response, bool with_body) {
  std::size_t length = 0;
  if (response.body) {
    for (const std::string& piece : *response.body)
      length += piece.size();
  }
  send_all(fd, response_head(response, length));
  if (!with_body || !response.body) return;
  for (const std::string& piece : *response.body)
    send_all(fd, piece);
}

// Closes after the response has gone: the write side first, then whatever
// the client still sends is read for a moment, so that the close does not
// reset the connection under a response the client has not read.
void close_gently(int fd) {
  ::shutdown(fd, SHUT_WR);
  std::array<char, 4096> discard{};
  pollfd watch{fd, POLLIN, 0};
  for (int i = 0; i < 16 && ::poll(&watch, 1, 1000) > 0; ++i) {
    if (::recv(fd, discard.data(), discard.size(), 0) <= 0) break;
  }
  ::close(fd);
}

bool peer_gone(int fd) {
  pollfd watch{fd, POLLRDHUP, 0};
  return ::poll(&watch, 1, 0) > 0 && (watch.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

}  // namespace

HeadRead read_request_head(std::string_view text, HttpRequest* request) {
  std::size_t end = text.find("\r\n\r\n");
  if (end == std::string_view::npos) end = text.find("\n\n");
  if (end == std::string_view::npos) return HeadRead::incomplete;
  std::string_view head = text.substr(0, end);
  std::size_t line_end = head.find('\n');
  if (!read_request_line(trimmed(head.substr(0, line_end)), request)) return HeadRead::bad;
  while (line_end != std::string_view::npos) {
    head.remove_prefix(line_end + 1);
    line_end = head.find('\n');
    const std::string_view line = head.substr(0, line_end);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return HeadRead::bad;
    if (same_letters(line.substr(0, colon), "X-Prometheus-Scrape-Timeout-Seconds"))
      request->scrape_timeout = parse_decimal(std::string(trimmed(line.substr(colon + 1))));
  }
  return HeadRead::complete;
}

std::string response_head(const HttpResponse& response, std::size_t length) {
  std::string head =
      "HTTP/1.1 " + std::to_string(response.status) + " " + reason_phrase(response.status) + "\r\n";
  if (!response.content_type.empty()) head += "Content-Type: " + response.content_type + "\r\n";
  head += "Content-Length: " + std::to_string(length) + "\r\nConnection: close\r\n";
  return head + response.extra_headers + "\r\n";
}

std::optional<ListenAddress> parse_listen_address(const std::string& address) {
  if (address.find(',') != std::string::npos) return std::nullopt;
  ListenAddress parsed;
  std::size_t colon = address.rfind(':');
  if (colon == std::string::npos) return std::nullopt;
  if (!address.empty() && address[0] == '[') {
    if (colon < 2 || address[colon - 1] != ']') return std::nullopt;
    parsed.host = address.substr(1, colon - 2);
    if (parsed.host.empty() || parsed.host.find_first_of("[]") != std::string::npos) return std::nullopt;
  } else {
    parsed.host = address.substr(0, colon);
    if (parsed.host.find_first_of(":[]") != std::string::npos) return std::nullopt;
  }
  parsed.port = address.substr(colon + 1);
  if (parsed.port.empty() || parsed.port.size() > 5 ||
      parsed.port.find_first_not_of("0123456789") != std::string::npos || std::stoi(parsed.port) > 65535)
    return std::nullopt;
  return parsed;
}

struct HttpServer::Shared : std::enable_shared_from_this<HttpServer::Shared> {
  HttpHandler handler;
  int max_connections = 0;
  milliseconds head_deadline{0};
  std::vector<int> listeners;
  std::array<int, 2> stop_pipe{-1, -1};
  std::atomic<int> active{0};
  std::thread acceptor;

  void serve(int fd);
  void accept_one(int listener);
  void accept_loop();
  std::optional<HttpRequest> read_head(int fd) const;
};

// The request's head, read before its deadline; nothing, with the
// connection answered as far as that is any use, when it does not come.
std::optional<HttpRequest> HttpServer::Shared::read_head(int fd) const {
  const Clock::time_point deadline = Clock::now() + head_deadline;
  std::string text;
  std::array<char, 4096> buffer{};
  for (;;) {
    const auto left = duration_cast<milliseconds>(deadline - Clock::now()).count();
    pollfd watch{fd, POLLIN, 0};
    if (left <= 0 || ::poll(&watch, 1, static_cast<int>(left)) == 0) {
      respond(fd, {408, "", nullptr, ""}, false);
      return std::nullopt;
    }
    const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    text.append(buffer.data(), static_cast<std::size_t>(got));
    HttpRequest request;
    const HeadRead read = read_request_head(text, &request);
    if (read == HeadRead::complete) {
      request.arrived = Clock::now();
      return request;
    }
    if (read == HeadRead::bad || text.size() > head_limit) {
      respond(fd, {read == HeadRead::bad ? 400 : 431, "", nullptr, ""}, false);
      return std::nullopt;
    }
  }
}

void HttpServer::Shared::serve(int fd) {
  const timeval send_bound{send_timeout_seconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_bound, sizeof send_bound);
  if (const std::optional<HttpRequest> request = read_head(fd)) {
    HttpResponse response;
    try {
      response = handler(*request, [fd] { return peer_gone(fd); });
    } catch (const std::exception&) {
      response = {500, "", nullptr, ""};
    }
    respond(fd, response, request->method != "HEAD");
  }
  close_gently(fd);
  --active;
}

void HttpServer::Shared::accept_one(int listener) {
  const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) {
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
      std::this_thread::sleep_for(milliseconds(10));
    return;
  }
  if (active.load() < max_connections) {
    ++active;
    try {
      std::thread([shared = shared_from_this(), fd] { shared->serve(fd); }).detach();
      return;
    } catch (const std::system_error&) {
      --active;
    }
  }
  const timeval send_bound{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_bound, sizeof send_bound);
  respond(fd, {503, "", nullptr, ""}, false);
  // What the client sent already is read, so that the close does not reset
  // the connection under the response; the acceptor never waits for more.
  ::shutdown(fd, SHUT_WR);
  std::array<char, 4096> discard{};
  while (::recv(fd, discard.data(), discard.size(), MSG_DONTWAIT) > 0) {
  }
  ::close(fd);
}

void HttpServer::Shared::accept_loop() {
  std::vector<pollfd> watches;
  for (const int fd : listeners)
    watches.push_back({fd, POLLIN, 0});
  watches.push_back({stop_pipe[0], POLLIN, 0});
  for (;;) {
    if (::poll(watches.data(), watches.size(), -1) < 0 && errno != EINTR) return;
    if (watches.back().revents != 0) return;
    for (std::size_t i = 0; i + 1 < watches.size(); ++i) {
      if (watches[i].revents != 0) accept_one(watches[i].fd);
    }
  }
}

HttpServer::HttpServer(HttpHandler handler, int max_connections, milliseconds head_deadline)
    : shared_(std::make_shared<Shared>()) {
  shared_->handler = std::move(handler);
  shared_->max_connections = max_connections;
  shared_->head_deadline = head_deadline;
}

HttpServer::~HttpServer() {
  if (shared_->acceptor.joinable()) {
    const char stop = 0;
    (void)!::write(shared_->stop_pipe[1], &stop, 1);
    shared_->acceptor.join();
  }
  for (const int fd : shared_->listeners)
    ::close(fd);
  for (const int fd : shared_->stop_pipe) {
    if (fd >= 0) ::close(fd);
  }
}

bool HttpServer::listen(const std::string& address, std::string* error) {
  const std::optional<ListenAddress> parsed = parse_listen_address(address);
  if (!parsed) {
    *error = "not an address";
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int failure = ::getaddrinfo(parsed->host.empty() ? "0.0.0.0" : parsed->host.c_str(),
                                    parsed->port.c_str(), &hints, &found);
  if (failure != 0) {
    *error = ::gai_strerror(failure);
    return false;
  }
  const std::unique_ptr<addrinfo, void (*)(addrinfo*)> owner(found, ::freeaddrinfo);
  std::uint16_t port = 0;  // network order; the first socket's, when port 0 took a free one
  for (addrinfo* at = found; at != nullptr; at = at->ai_next) {
    auto* const in4 = reinterpret_cast<sockaddr_in*>(at->ai_addr);
    auto* const in6 = reinterpret_cast<sockaddr_in6*>(at->ai_addr);
    if (port != 0) (at->ai_family == AF_INET6 ? in6->sin6_port : in4->sin_port) = port;
    const int fd = ::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC, at->ai_protocol);
    const int yes = 1;
    if (fd >= 0) shared_->listeners.push_back(fd);
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
        ::bind(fd, at->ai_addr, at->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0) {
      *error = std::strerror(errno);
      return false;
    }
    port = htons(static_cast<std::uint16_t>(this->port()));
  }
  return !shared_->listeners.empty();
}

int HttpServer::port() const {
  if (shared_->listeners.empty()) return 0;
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(shared_->listeners.back(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
  return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

void HttpServer::start() {
  if (::pipe2(shared_->stop_pipe.data(), O_CLOEXEC) != 0)
    throw std::system_error(errno, std::generic_category());
  shared_->acceptor = std::thread([shared = shared_] { shared->accept_loop(); });
}

}  // namespace tarnex::monitor
