// The checks an action on a service is built from, on what the move's own
// cases cannot show: the wording a calling action gives, and which records
// may name a service.
#include "commands/service_steps.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/capture.hpp"

namespace tarnex {
namespace {

TEST(ServiceSteps, CheckServiceFindsTheFirstUsableObjectOfThatName) {
  struct Case {
    std::string records;
    std::string service;
    std::string err;  // empty: accepted
  };
  const std::vector<Case> cases = {
      // Only an object names a service, even the one with the empty name.
      {R"(1, "", null, [])", "", "Error: service can not be found: \n"},
      {R"(1, {"name": "", "enabled": true})", "", ""},
      {R"({"name": "db", "enabled": 1})", "db", ""},
      // The refusal names the action that calls the check.
      {R"({"name": "db", "enabled": false})", "db", "Error: cannot start disabled service: db\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.records);
    testing::CapturedOutput err;
    CommandContext context;
    context.err = {err.stream(), false};
    const Json reply = Json::parse(R"({"response": [)" + c.records + "]}");
    const std::optional<Service> found = check_service(context, reply, c.service, "start");
    EXPECT_EQ(found.has_value(), c.err.empty());
    if (found) {
      EXPECT_EQ(found->name, c.service);
    }
    EXPECT_EQ(err.text(), c.err);
  }
}

}  // namespace
}  // namespace tarnex
