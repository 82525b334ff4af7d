// Rendering cost of `cluster status` replies against parsing the same text:
// 1,000 nodes and 1,000 / 10,000 / 100,000 services of two pools each,
// written to /dev/null.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "daemon/message.hpp"
#include "output/json_output.hpp"
#include "output/tables.hpp"

namespace {

constexpr int node_count = 1000;

struct Replies {
  std::string nodes;
  std::string services;
};

// Records in a shuffled order, as a daemon keeps them in no particular one.
std::vector<int> shuffled(int count) {
  std::vector<int> order(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i)
    order[static_cast<std::size_t>(i)] = i;
  std::uint64_t state = 0x9e3779b97f4a7c15ULL;
  for (std::size_t i = order.size(); i > 1; --i) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    std::swap(order[i - 1], order[(state >> 33) % i]);
  }
  return order;
}

Replies make_replies(int service_count) {
  Replies replies;
  replies.nodes = R"({"response":[)";
  for (const int i : shuffled(node_count)) {
    if (replies.nodes.back() != '[') replies.nodes += ',';
    const std::string id = std::to_string(i + 1);
    replies.nodes.append(R"({"id":)").append(id).append(R"(,"nodename":"node-)").append(id);
    replies.nodes += R"(","state":"ONLINE","enabled":true})";
  }
  replies.nodes += "]}";

  replies.services = R"({"response":[)";
  for (const int i : shuffled(service_count)) {
    if (replies.services.back() != '[') replies.services += ',';
    const std::string name = "service-" + std::to_string(i);
    replies.services.append(R"({"name":")").append(name);
    replies.services.append(R"(","run_node":)").append(std::to_string(i % node_count + 1));
    replies.services.append(R"(,"state":"ONLINE","enabled":)").append(i % 7 == 0 ? "false" : "true");
    replies.services.append(R"(,"pools":[{"name":")").append(name).append(R"(-data","state":"ONLINE"},)");
    replies.services.append(R"({"name":")").append(name).append(R"(-log","state":"DEGRADED"}]})");
  }
  replies.services += "]}";
  return replies;
}

const Replies& replies_for(int service_count) {
  static std::vector<std::pair<int, Replies>> cache;
  for (const auto& [count, replies] : cache) {
    if (count == service_count) return replies;
  }
  cache.emplace_back(service_count, make_replies(service_count));
  return cache.back().second;
}

FILE* null_output() {
  static FILE* const file = std::fopen("/dev/null", "w");
  return file;
}

void set_counters(benchmark::State& state, const Replies& replies) {
  const auto bytes = static_cast<std::int64_t>(replies.nodes.size() + replies.services.size());
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["records"] = static_cast<double>(node_count + state.range(0));
}

void parse_replies(benchmark::State& state) {
  const Replies& replies = replies_for(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    tarnex::Json nodes = tarnex::Json::parse(replies.nodes);
    tarnex::Json services = tarnex::Json::parse(replies.services);
    benchmark::DoNotOptimize(nodes);
    benchmark::DoNotOptimize(services);
  }
  set_counters(state, replies);
}

void print_tables(benchmark::State& state) {
  const Replies& replies = replies_for(static_cast<int>(state.range(0)));
  const tarnex::Json nodes = tarnex::Json::parse(replies.nodes);
  const tarnex::Json services = tarnex::Json::parse(replies.services);
  for (auto _ : state) {
    tarnex::print_tables({null_output(), false}, nodes, services);
    std::fflush(null_output());
  }
  set_counters(state, replies);
}

void status_document(benchmark::State& state) {
  const Replies& replies = replies_for(static_cast<int>(state.range(0)));
  const tarnex::Json nodes = tarnex::Json::parse(replies.nodes);
  const tarnex::Json services = tarnex::Json::parse(replies.services);
  for (auto _ : state) {
    tarnex::print_status_document({null_output(), false}, tarnex::build_status_document(nodes, services));
    std::fflush(null_output());
  }
  set_counters(state, replies);
}

}  // namespace

BENCHMARK(parse_replies)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(print_tables)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(status_document)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
