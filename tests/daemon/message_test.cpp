#include "daemon/message.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarnex {
namespace {

using std::nullopt;

Json binary_value() {
  return Json::binary({1, 2, 3});
}

// A document holding one member per kind of value, so every row of the
// reader tables is a pointer into it.
Json sample() {
  Json value = Json::parse(R"({
    "text": "abc", "negative": -5, "big": 18446744073709551615, "int_max": 9223372036854775807,
    "above_int_max": 9223372036854775808, "half": 1.5, "three": 3.0, "zero_float": 0.0, "yes": true,
    "no": false, "nothing": null, "object": {"a": 1}, "array": [10, 20], "digits": "42", "trailing": "4x",
    "mixed": "12abc", "minus": "-17", "space": " 7", "plus": "+7", "empty": "", "dash": "-",
    "huge": "99999999999999999999", "int_min": "-9223372036854775808", "below_min": "-9223372036854775809",
    "upper": "TRUE", "one_text": "1", "zero_text": "0", "yes_text": "yes", "zero": 0, "seven": 7,
    "nested": {"list": [{"x": "deep"}]}
  })");
  value["bytes"] = binary_value();
  return value;
}

TEST(JsonGetString, ReadsEachKindOrFallsBack) {
  const Json value = sample();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/text", "abc"},
      {"/negative", "-5"},
      {"/big", "18446744073709551615"},
      {"/half", "1.500000"},
      {"/seven", "7"},
      {"/yes", "FB"},
      {"/nothing", "FB"},
      {"/object", "FB"},
      {"/array", "FB"},
      {"/bytes", "FB"},
      {"/missing", "FB"},
      {"/nested/list/0/x", "deep"},
      {"/array/1", "20"},
      {"/array/2", "FB"},
      {"/array/-", "FB"},
      {"/array/99999999999999999999999", "FB"},
      {"/text/0", "FB"},
  };
  for (const auto& [pointer, expected] : cases) {
    EXPECT_EQ(json_get_string(value, JsonPointer(pointer), "FB"), expected) << pointer;
  }
}

TEST(JsonGetString, EmptyPointerIsTheValueItself) {
  EXPECT_EQ(json_get_string(Json("help line"), JsonPointer(""), "FB"), "help line");
  EXPECT_EQ(json_get_string(Json(12), JsonPointer(""), "FB"), "12");
  EXPECT_EQ(json_get_string(Json(), JsonPointer(""), "FB"), "FB");
  EXPECT_EQ(json_get_string(Json(), JsonPointer("/a"), "FB"), "FB");
}

// Readers remember how each pointer splits into tokens; a pointer changed in
// place, or another one at the same address, must not be read as the old.
TEST(JsonGetString, PointerChangedInPlaceOrReplacedAtItsAddress) {
  const Json value = Json::parse(R"({"a": "1", "b": {"c": "2"}, "d/e": "3", "f~g": "4", "h": [["5"]]})");
  JsonPointer pointer("/a");
  EXPECT_EQ(json_get_string(value, pointer, "FB"), "1");
  pointer.push_back("x");
  EXPECT_EQ(json_get_string(value, pointer, "FB"), "FB");
  pointer = JsonPointer("/b/c");
  EXPECT_EQ(json_get_string(value, pointer, "FB"), "2");
  pointer.pop_back();
  EXPECT_EQ(json_get_string(value, pointer, "FB"), "FB");
  pointer = JsonPointer("/d~1e");
  EXPECT_EQ(json_get_string(value, pointer, "FB"), "3");
  pointer = JsonPointer("/f~0g");
  EXPECT_EQ(json_get_string(value, pointer, "FB"), "4");
  pointer = JsonPointer("/h/0/0");
  EXPECT_EQ(json_get_string(value, pointer, "FB"), "5");
  pointer = JsonPointer("/h/0/1");
  EXPECT_EQ(json_get_string(value, pointer, "FB"), "FB");
  for (const char* text : {"/a", "/b/c", "/h/0/0", "/nothing", "/a"}) {
    const JsonPointer temporary(text);
    EXPECT_EQ(json_get_string(value, temporary, "FB"), value.contains(temporary) ? value.at(temporary) : "FB")
        << text;
  }
}

TEST(JsonGetInt, ReadsEachKindOrFallsBack) {
  const Json value = sample();
  const std::vector<std::pair<std::string, std::int64_t>> cases = {
      {"/negative", -5},
      {"/seven", 7},
      {"/int_max", std::numeric_limits<std::int64_t>::max()},
      // Would wrap to a negative number.
      {"/above_int_max", 99},
      {"/big", 99},
      {"/digits", 42},
      {"/trailing", 4},
      {"/mixed", 12},
      {"/minus", -17},
      {"/int_min", std::numeric_limits<std::int64_t>::min()},
      {"/space", 99},
      {"/plus", 99},
      {"/empty", 99},
      {"/dash", 99},
      {"/huge", 99},
      {"/below_min", 99},
      {"/three", 99},
      {"/yes", 99},
      {"/nothing", 99},
      {"/array", 99},
      {"/missing", 99},
      {"/array/0", 10},
  };
  for (const auto& [pointer, expected] : cases) {
    EXPECT_EQ(json_get_int(value, JsonPointer(pointer), 99), expected) << pointer;
  }
}

TEST(JsonGetBool, ReadsEachKindOrFallsBack) {
  const Json value = sample();
  // Each case is read with both fallbacks: a result that follows the
  // fallback is a fallback, one that does not is a value.
  struct Case {
    std::string pointer;
    std::optional<bool> value;  // nullopt: the fallback
  };
  const std::vector<Case> cases = {
      {"/yes", true},         {"/no", false},        {"/zero", false},  {"/seven", true},
      {"/zero_float", false}, {"/half", true},       {"/upper", true},  {"/one_text", true},
      {"/zero_text", false},  {"/yes_text", false},  {"/empty", false}, {"/nothing", nullopt},
      {"/array", nullopt},    {"/missing", nullopt},
  };
  for (const auto& [pointer, expected] : cases) {
    const JsonPointer ptr(pointer);
    EXPECT_EQ(json_get_bool(value, ptr, true), expected.value_or(true)) << pointer;
    EXPECT_EQ(json_get_bool(value, ptr, false), expected.value_or(false)) << pointer;
  }
}

TEST(EncodeNodeReference, DigitsTravelAsIntegersEverythingElseAsText) {
  const std::vector<std::pair<std::string, Json>> cases = {
      {"17", 17},
      {"007", 7},
      {"0", 0},
      {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
      {"node-a", "node-a"},
      {"-1", "-1"},
      {"+5", "+5"},
      {" 5", " 5"},
      {"5 ", "5 "},
      {"", ""},
      {"\xd9\xa3", "\xd9\xa3"},  // a non-ASCII digit
  };
  for (const auto& [reference, expected] : cases) {
    const Json encoded = encode_node_reference(reference);
    EXPECT_EQ(encoded, expected) << reference;
    EXPECT_EQ(encoded.type(), expected.type()) << reference;
  }
}

TEST(EncodeNodeReference, DigitsBeyondSignedRangeThrow) {
  EXPECT_THROW(encode_node_reference("9223372036854775808"), std::out_of_range);
  EXPECT_THROW(encode_node_reference("99999999999999999999999"), std::out_of_range);
  EXPECT_THROW(node_request("status", std::string("9223372036854775808"), false), std::out_of_range);
  EXPECT_THROW(service_request("start", std::string("db"), std::string("18446744073709551616")),
               std::out_of_range);
}

// Every request of the catalogue, byte for byte as it goes on the wire.
TEST(Requests, CatalogueOnTheWire) {
  const std::optional<std::string> none;
  const Json node_status = node_request("status", none, false);
  const std::vector<std::pair<Json, std::string>> cases = {
      // cluster status, cluster exit
      {node_status, R"({"call":"node","cmd":"status"})"},
      {pools_request(node_status), R"({"adv":"pools","call":"service","cmd":"status"})"},
      {cluster_request("exit"), R"({"call":"cluster","cmd":"exit"})"},
      // node commands
      {node_request("status", std::string("3"), false), R"({"call":"node","cmd":"status","id":3})"},
      {node_request("status", std::string("007"), false), R"({"call":"node","cmd":"status","id":7})"},
      {node_request("status", std::string("node-a"), false),
       R"({"call":"node","cmd":"status","id":"node-a"})"},
      {node_request("enable", std::string("2"), false), R"({"call":"node","cmd":"enable","id":2})"},
      {node_request("disable", std::string("2"), false), R"({"call":"node","cmd":"disable","id":2})"},
      {node_request("break", std::string("-1"), false), R"({"call":"node","cmd":"break","id":"-1"})"},
      {node_request("exit", std::string("2"), true), R"({"call":"node","cmd":"exit","force":true,"id":2})"},
      {node_request("exit", std::string("3"), false), R"({"call":"node","cmd":"exit","id":3})"},
      {node_request("status", std::string(""), false), R"({"call":"node","cmd":"status","id":""})"},
      // service commands
      {service_request("status", none, none), R"({"call":"service","cmd":"status"})"},
      {service_request("help", none, none), R"({"call":"service","cmd":"help"})"},
      {service_request("status", std::string("db"), none),
       R"({"call":"service","cmd":"status","serviceName":"db"})"},
      {service_request("enable", std::string("db"), none),
       R"({"call":"service","cmd":"enable","serviceName":"db"})"},
      {service_request("disable", std::string("db"), none),
       R"({"call":"service","cmd":"disable","serviceName":"db"})"},
      {service_request("break", std::string("db"), none),
       R"({"call":"service","cmd":"break","serviceName":"db"})"},
      {service_request("stop", std::string("db"), none),
       R"({"call":"service","cmd":"stop","serviceName":"db"})"},
      {service_request("start", std::string("db"), none),
       R"({"call":"service","cmd":"start","serviceName":"db"})"},
      {service_request("start", std::string("db"), std::string("2")),
       R"({"call":"service","cmd":"start","nodeId":2,"serviceName":"db"})"},
      {service_request("start", std::string("db"), std::string("node-b")),
       R"({"call":"service","cmd":"start","nodeId":"node-b","serviceName":"db"})"},
  };
  for (const auto& [request, wire] : cases)
    EXPECT_EQ(serialize_request(request), wire);
}

TEST(Requests, TextTravelsAsUtf8AndInvalidTextIsRefused) {
  EXPECT_EQ(serialize_request(service_request("status", std::string("d\xc3\xa9p\xc3\xb4t"), std::nullopt)),
            "{\"call\":\"service\",\"cmd\":\"status\",\"serviceName\":\"d\xc3\xa9p\xc3\xb4t\"}");
  EXPECT_EQ(serialize_request(service_request("status", std::string("a\"b\n"), std::nullopt)),
            R"({"call":"service","cmd":"status","serviceName":"a\"b\n"})");
  EXPECT_THROW(serialize_request(service_request("stop", std::string("d\xe9p"), std::nullopt)),
               Json::type_error);
  EXPECT_THROW(serialize_request(node_request("status", std::string("n\xff"), false)), Json::type_error);
}

}  // namespace
}  // namespace tarnex
