// Cost of what every run does before it talks to the daemon: loading the
// daemon configuration and validating it, against parsing the same text with
// the JSON library alone; and the node look-up of `service move` and
// `node status --id`. Files of 100 to 100,000 services, one node per ten
// services, two pools per service, a preference and a group entry per
// service.
//
//   tarnex_load_bench [benchmark options]
//   tarnex_load_bench --write-config NODES SERVICES PREFERENCES ENDPOINT
//
// The second form prints such a file, so that the scripts beside this one
// start ruxd-sim on the same shapes that are measured here.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "commands/lookup.hpp"
#include "config/cluster_config.hpp"
#include "config/validate.hpp"
#include "daemon/message.hpp"

namespace {

struct Shape {
  int nodes = 0;
  int services = 0;
  int preferences = 0;
  std::string endpoint = "tcp://127.0.0.1:57017";
};

std::string numbered(const char* stem, int number, int width) {
  std::string digits = std::to_string(number);
  if (static_cast<int>(digits.size()) < width)
    digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
  return stem + digits;
}

std::string node_name(int id) {
  return numbered("node-", id, 5);
}

std::string service_name(int index) {
  return numbered("svc-", index, 6);
}

// Appends every part in turn, without the temporaries of operator+.
template <typename... Parts>
void append(std::string& text, const Parts&... parts) {
  (text += ... += parts);
}

// One record a line, as such files are usually written by hand or by tools.
std::string cluster_text(const Shape& shape) {
  std::string text;
  text.reserve(static_cast<std::size_t>(shape.services) * 330 + static_cast<std::size_t>(shape.nodes) * 160);
  append(text, "{\n  \"cluster\": {\"type\": \"ha-storage\", \"redundancy_n_plus\": 1, \"start_delay\": 5, ",
         "\"mgmt-url\": \"", shape.endpoint, "\"},\n  \"nodes\": [");
  for (int id = 1; id <= shape.nodes; ++id) {
    append(text, id == 1 ? "\n" : ",\n", "    {\"id\": ", std::to_string(id), ", \"nodename\": \"",
           node_name(id), "\", \"internal_addr\": \"10.", std::to_string(id / 65536 % 256), '.',
           std::to_string(id / 256 % 256), '.', std::to_string(id % 256),
           "\", \"ruxd_port\": 57010, \"devices\": [\"da0\", \"da1\", \"da2\"], \"site-id\": ",
           std::to_string(id % 3 + 1), "}");
  }
  text += "\n  ],\n  \"services\": [";
  for (int i = 0; i < shape.services; ++i) {
    const std::string name = service_name(i);
    append(text, i == 0 ? "\n" : ",\n", "    {\"name\": \"", name,
           "\", \"enabled\": ", i % 7 == 6 ? "false" : "true", ", \"pools\": [\"", name, "-data\", \"", name,
           "-log\"], \"ext_ips\": [{\"interface\": \"igb0\", ", "\"ip\": \"192.0.",
           std::to_string(i / 256 % 256), '.', std::to_string(i % 256), "\", \"label\": \"", name,
           "\", \"netmask\": \"255.255.0.0\"}], \"pri0\": 10}");
  }
  text += "\n  ],\n  \"service_groups\": [";
  for (int group = 0; group * 10 < shape.services; ++group) {
    append(text, group == 0 ? "\n    " : ",\n    ", "{\"name\": \"", numbered("group-", group, 5),
           "\", \"services\": [");
    for (int i = group * 10; i < shape.services && i < group * 10 + 10; ++i)
      append(text, i == group * 10 ? "\"" : ", \"", service_name(i), '"');
    text += "]}";
  }
  text += "\n  ],\n  \"distribution_preferences\": [";
  for (int i = 0; i < shape.preferences && i < shape.services; ++i) {
    const std::string node = std::to_string(i % shape.nodes + 1);
    // Some files give the node id as text, which the loader converts.
    const char* quote = i % 5 == 4 ? "\"" : "";
    append(text, i == 0 ? "\n" : ",\n", "    {\"service\": \"", service_name(i), "\", \"node\": ", quote,
           node, quote, "}");
  }
  append(text, "\n  ],\n  \"ha\": {\"disks\": [\"ada0\", \"ada1\"], \"candidate_timeout_sec\": 10, ",
         "\"leader_period_sec\": 5},\n  \"pools\": {");
  for (int i = 0; i < shape.services; ++i) {
    const std::string name = service_name(i);
    append(text, i == 0 ? "\n" : ",\n", "    \"", name, "-data\": [\"da", std::to_string(i % 64), "\"], \"",
           name, "-log\": [\"ada", std::to_string(i % 8), "\"]");
  }
  text += "\n  }\n}\n";
  return text;
}

Shape shape_for(std::int64_t services) {
  Shape shape;
  shape.services = static_cast<int>(services);
  shape.nodes = std::max(2, shape.services / 10);
  shape.preferences = shape.services;
  return shape;
}

// A generated file on disk, kept for the whole run and removed at exit.
struct ConfigFile {
  std::int64_t services = 0;
  std::string text;
  std::string path;
};

std::vector<ConfigFile>& config_files() {
  static std::vector<ConfigFile> files;
  return files;
}

const ConfigFile& config_file(std::int64_t services) {
  for (const ConfigFile& file : config_files()) {
    if (file.services == services) return file;
  }
  ConfigFile file{services, cluster_text(shape_for(services)), {}};
  file.path = (std::filesystem::temp_directory_path() /
               ("tarnex-load-bench-" + std::to_string(getpid()) + "-" + std::to_string(services) + ".json"))
                  .string();
  std::ofstream(file.path, std::ios::binary) << file.text;
  config_files().push_back(std::move(file));
  return config_files().back();
}

void remove_config_files() {
  for (const ConfigFile& file : config_files()) {
    std::error_code ignored;
    std::filesystem::remove(file.path, ignored);
  }
}

void set_counters(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
  state.counters["services"] = static_cast<double>(state.range(0));
}

// The floor: the JSON library parsing the text from memory into its own tree.
void parse_text(benchmark::State& state) {
  const ConfigFile& file = config_file(state.range(0));
  for (auto _ : state) {
    tarnex::Json document = tarnex::Json::parse(file.text);
    benchmark::DoNotOptimize(document);
  }
  set_counters(state, file.text.size());
}

// The JSON library reading the file through a stream, as the loader does.
void parse_file(benchmark::State& state) {
  const ConfigFile& file = config_file(state.range(0));
  for (auto _ : state) {
    std::ifstream in(file.path, std::ios::binary);
    tarnex::Json document;
    in >> document;
    benchmark::DoNotOptimize(document);
  }
  set_counters(state, file.text.size());
}

// Opening, parsing and mapping the file into a ClusterConfig.
void load_config(benchmark::State& state) {
  const ConfigFile& file = config_file(state.range(0));
  for (auto _ : state) {
    std::string error;
    std::optional<tarnex::ClusterConfig> config = tarnex::load_cluster_config(file.path, &error);
    benchmark::DoNotOptimize(config);
  }
  set_counters(state, file.text.size());
}

void validate_config(benchmark::State& state) {
  const ConfigFile& file = config_file(state.range(0));
  std::string error;
  const tarnex::ClusterConfig config = tarnex::load_cluster_config(file.path, &error).value();
  for (auto _ : state) {
    std::vector<std::string> errors = tarnex::validate_cluster_config(config);
    if (!errors.empty()) state.SkipWithError(errors.front().c_str());
    benchmark::DoNotOptimize(errors);
  }
  set_counters(state, file.text.size());
}

// A node list reply as ruxd-sim sends it, `nodes` records.
std::string node_list_reply(std::int64_t nodes) {
  std::string text = "{\"response\":[";
  for (std::int64_t id = 1; id <= nodes; ++id) {
    if (id > 1) text += ',';
    text += "{\"enabled\":true,\"id\":" + std::to_string(id) + ",\"nodename\":\"" +
            node_name(static_cast<int>(id)) + "\",\"state\":\"ONLINE\"}";
  }
  return text + "]}";
}

// The worst case of a look-up: the last node, by name, so that every record
// is compared first by its id and then by its name.
void lookup_last_node(benchmark::State& state) {
  const tarnex::Json reply = tarnex::Json::parse(node_list_reply(state.range(0)));
  const std::string key = node_name(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const tarnex::Json* found = tarnex::lookup_node(reply, key);
    if (found == nullptr) state.SkipWithError("node not found");
    benchmark::DoNotOptimize(found);
  }
  state.counters["nodes"] = static_cast<double>(state.range(0));
}

// Parsing the same node list reply, for scale.
void parse_node_list(benchmark::State& state) {
  const std::string text = node_list_reply(state.range(0));
  for (auto _ : state) {
    tarnex::Json reply = tarnex::Json::parse(text);
    benchmark::DoNotOptimize(reply);
  }
  state.counters["nodes"] = static_cast<double>(state.range(0));
}

int write_config(int argc, char** argv) {
  if (argc != 6) {
    std::fputs("usage: tarnex_load_bench --write-config NODES SERVICES PREFERENCES ENDPOINT\n", stderr);
    return 2;
  }
  Shape shape;
  shape.nodes = std::atoi(argv[2]);
  shape.services = std::atoi(argv[3]);
  shape.preferences = std::atoi(argv[4]);
  shape.endpoint = argv[5];
  if (shape.nodes < 2 || shape.services < 0 || shape.preferences < 0) {
    std::fputs("tarnex_load_bench: at least two nodes, no negative counts\n", stderr);
    return 2;
  }
  const std::string text = cluster_text(shape);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}

}  // namespace

BENCHMARK(parse_text)->RangeMultiplier(10)->Range(100, 100000)->Unit(benchmark::kMillisecond);
BENCHMARK(parse_file)->RangeMultiplier(10)->Range(100, 100000)->Unit(benchmark::kMillisecond);
BENCHMARK(load_config)->RangeMultiplier(10)->Range(100, 100000)->Unit(benchmark::kMillisecond);
BENCHMARK(validate_config)->RangeMultiplier(10)->Range(100, 100000)->Unit(benchmark::kMillisecond);
BENCHMARK(parse_node_list)->RangeMultiplier(10)->Range(10, 10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(lookup_last_node)->RangeMultiplier(10)->Range(10, 10000)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--write-config") return write_config(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  remove_config_files();
  return 0;
}
