#include "support/sandbox.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/program.hpp"
#include "daemon/zmq_transport.hpp"
#include "support/capture.hpp"
#include "support/requests.hpp"
#include "support/scripted_transport.hpp"

#ifndef TARNEX_CLIENT_PATH
#error "TARNEX_CLIENT_PATH must name the built client"
#endif

namespace tarnex::testing {

Sandbox::Sandbox(const std::string& program_name)
    : dir(temp.path), name(program_name), program(dir / program_name), config_path(dir / "ruxd.json") {
  write_settings("[RUXD]\nConfig=" + config_path.string() + "\n");
}

std::filesystem::path Sandbox::write(const std::filesystem::path& relative, const std::string& text) const {
  return temp.write(relative, text);
}

void Sandbox::write_settings(const std::string& text) const {
  write(name + ".config", text);
}

void Sandbox::use_endpoint(const std::string& endpoint) const {
  write("ruxd.json", daemon_config_with_url(json_quote(endpoint)));
}

RunResult Sandbox::run(const std::vector<std::string>& args, const RunOptions& options) const {
  std::vector<std::string> argv = {options.argv0.value_or(program.string())};
  argv.insert(argv.end(), args.begin(), args.end());
  ZmqTransport zmq;
  CapturedOutput out;
  CapturedOutput err;
  ProgramIo io;
  io.out = {options.out != nullptr ? options.out : out.stream(), options.out_is_terminal};
  io.err = {err.stream(), options.err_is_terminal};
  io.transport = options.transport != nullptr ? options.transport : &zmq;
  io.progress_interval = options.progress_interval;
  RunResult result;
  result.exit_status = run_program(argv, io);
  result.out = out.text();
  result.err = err.text();
  return result;
}

void Sandbox::copy_client() const {
  if (std::filesystem::exists(program)) return;
  std::filesystem::copy_file(TARNEX_CLIENT_PATH, program);
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
}

ProcessRun Sandbox::command(const std::vector<std::string>& args) const {
  copy_client();
  ProcessRun run;
  run.program = program;
  run.argv = {"./" + name};
  run.argv.insert(run.argv.end(), args.begin(), args.end());
  run.directory = dir;
  return run;
}

void Sandbox::open_up() const {
  copy_client();
  namespace fs = std::filesystem;
  const auto dir_perms = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                         fs::perms::others_read | fs::perms::others_exec;
  fs::permissions(dir, dir_perms);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_symlink()) continue;
    if (entry.is_directory() || (entry.is_regular_file() &&
                                 (entry.status().permissions() & fs::perms::owner_exec) != fs::perms::none)) {
      fs::permissions(entry.path(), dir_perms);
    } else if (entry.is_regular_file()) {
      fs::permissions(entry.path(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                        fs::perms::others_read);
    }
  }
}

std::string daemon_config_with_url(const std::string& url_json) {
  return R"({"cluster": {"mgmt-url": )" + url_json +
         R"(},
 "nodes": [{"id": 1, "internal_addr": "10.0.0.1", "ruxd_port": 7000, "nodename": "alpha"}]}
)";
}

std::string json_quote(const std::string& text) {
  return nlohmann::json(text).dump();
}

void expect_run(const RunResult& result, const std::string& out, const std::string& err, int status) {
  EXPECT_FALSE(result.timed_out) << "the client did not end in time";
  EXPECT_EQ(result.signal, 0) << "the client was ended by a signal";
  EXPECT_EQ(result.out, out) << "standard output";
  EXPECT_EQ(result.err, err) << "standard error";
  EXPECT_EQ(result.exit_status, status) << "exit status";
}

std::string json_parse_error(const std::string& text) {
  try {
    nlohmann::json parsed = nlohmann::json::parse(text, nullptr, true, false);
    return "(no parse error for " + parsed.dump() + ")";
  } catch (const nlohmann::json::parse_error& error) {
    return error.what();
  }
}

void expect_exception_line(const RunResult& result) {
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err.rfind("Exception: ", 0), 0U) << result.err;
  EXPECT_GT(result.err.size(), std::string("Exception: \n").size()) << result.err;
  EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
  EXPECT_EQ(result.exit_status, 11);
}

std::string json_dump_error(const std::string& call, const std::string& cmd, const std::string& key,
                            const std::string& value) {
  nlohmann::json request = {{"call", call}, {"cmd", cmd}, {key, value}};
  try {
    return "(serialised as " + request.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict) + ")";
  } catch (const nlohmann::json::type_error& error) {
    return error.what();
  }
}

std::string joined(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args) {
    if (!text.empty()) text += ' ';
    text += '\'';
    text += arg;
    text += '\'';
  }
  return text;
}

void expect_exchange(const ExchangeCase& c, const std::string& program_name) {
  ScriptedTransport daemon(c.replies);
  Sandbox box(program_name);
  box.use_endpoint(test_endpoint);
  RunOptions options;
  options.transport = &daemon;
  expect_run(box.run(c.args, options), c.out, c.err, c.status);
  EXPECT_EQ(daemon.requests, c.requests);
  for (const std::string& used : daemon.endpoints)
    EXPECT_EQ(used, test_endpoint);
}

void run_exchange_cases(const std::vector<ExchangeCase>& cases) {
  for (const ExchangeCase& c : cases) {
    SCOPED_TRACE(joined(c.args));
    expect_exchange(c);
  }
}

}  // namespace tarnex::testing
