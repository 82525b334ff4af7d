// The transport floor of `cluster status`: the two request/reply exchanges
// it makes, each over its own ZeroMQ request socket on one context, and
// nothing else (no configuration, no JSON, no tables). bench/run times it
// next to the client, so the client's own share can be told apart from what
// libzmq costs on this machine.
//
//   tarnex_exchange_floor ENDPOINT   the two exchanges, replies to stdout
//   tarnex_exchange_floor -v         one line, like the client's -v
#include <zmq.h>

#include <cstdio>
#include <cstring>

namespace {

bool exchange(void* context, const char* endpoint, const char* request) {
  void* socket = zmq_socket(context, ZMQ_REQ);
  if (socket == nullptr) return false;
  const int timeout_ms = 2000;
  const int linger_ms = 0;
  zmq_setsockopt(socket, ZMQ_RCVTIMEO, &timeout_ms, sizeof timeout_ms);
  zmq_setsockopt(socket, ZMQ_LINGER, &linger_ms, sizeof linger_ms);
  bool done = zmq_connect(socket, endpoint) == 0 && zmq_send(socket, request, std::strlen(request), 0) >= 0;
  if (done) {
    zmq_msg_t reply;
    zmq_msg_init(&reply);
    done = zmq_msg_recv(&reply, socket, 0) >= 0;
    if (done) std::fwrite(zmq_msg_data(&reply), 1, zmq_msg_size(&reply), stdout);
    zmq_msg_close(&reply);
  }
  zmq_close(socket);
  return done;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: tarnex_exchange_floor ENDPOINT | -v\n", stderr);
    return 2;
  }
  if (std::strcmp(argv[1], "-v") == 0) {
    std::puts("tarnex_exchange_floor");
    return 0;
  }
  void* context = zmq_ctx_new();
  const bool done = exchange(context, argv[1], R"({"call":"node","cmd":"status"})") &&
                    exchange(context, argv[1], R"({"adv":"pools","call":"service","cmd":"status"})");
  zmq_ctx_term(context);
  return done ? 0 : 1;
}
