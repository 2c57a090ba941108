#include "web/PageProtocol.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace telvara {
namespace {

TEST(PageProtocol, StateSurvivesBytesThatAreNotUtf8) {
  WindowState state;
  state.version = 7;
  state.status = std::string("Unable to play P\xff\xfe.WAV");
  state.rows.push_back({" 2:05:09pm  03/12/1998  1:15  PGMO0509.WAV", "PGMO0509.WAV 889740309"});
  state.boxes.push_back({3, "Telvara", "Line one\nline two", {"OK"}, true});
  auto json = nlohmann::json::parse(StateToJson(state));
  EXPECT_EQ(json["version"], 7);
  EXPECT_EQ(json["status"], "Unable to play P\xEF\xBF\xBD\xEF\xBF\xBD.WAV");
  EXPECT_EQ(json["rows"][0]["identity"], "PGMO0509.WAV 889740309");
  EXPECT_EQ(json["boxes"][0]["text"], "Line one\nline two");
  // One line, so that it fits a single "data:" line of an event.
  EXPECT_EQ(StateToJson(state).find('\n'), std::string::npos);
}

TEST(PageProtocol, ReadsCommands) {
  WindowState state;
  PageCommand c;
  ASSERT_EQ(ParsePageCommand(R"({"id":1002,"data":"PGMO0509.WAV 889740309"})", state, c), CommandCheck::Ok);
  EXPECT_EQ(c.id, command::kPlayMessage);
  EXPECT_EQ(c.data, "PGMO0509.WAV 889740309");
  ASSERT_EQ(ParsePageCommand(R"({"id":57665})", state, c), CommandCheck::Ok);
  EXPECT_EQ(c.data, "");

  const char* malformed[] = {"", "[]", "{}", R"({"id":"1002"})", R"({"id":1002.5})",
                             R"({"id":1002,"data":5})", R"({"id":1002,"data":"a\nb"})",
                             "{\"id\":1002,\"data\":\"\xff\"}"};
  for (const char* body : malformed) EXPECT_EQ(ParsePageCommand(body, state, c), CommandCheck::Malformed) << body;
  std::string tooLong = R"({"id":1002,"data":")" + std::string(1025, 'a') + "\"}";
  EXPECT_EQ(ParsePageCommand(tooLong, state, c), CommandCheck::Malformed);
  for (const char* body : {R"({"id":57667})", R"({"id":-1})", R"({"id":4294968298})", R"({"id":0})"}) {
    EXPECT_EQ(ParsePageCommand(body, state, c), CommandCheck::UnknownId) << body;
  }
}

TEST(PageProtocol, BoxAnswersMustFitAnOpenBox) {
  WindowState state;
  state.boxes.push_back({4, "Change Settings", "Save the changes?", {"Yes", "No", "Cancel"}, true});
  PageCommand c;
  ASSERT_EQ(ParsePageCommand(R"({"id":1,"data":"4 No"})", state, c), CommandCheck::Ok);
  EXPECT_EQ(c.data, "4 No");
  for (const char* data : {"4 OK", "5 Yes", "4", "4No", " 4 No", "x No", "4 no", "04x No"}) {
    std::string body = std::string(R"({"id":1,"data":")") + data + "\"}";
    EXPECT_EQ(ParsePageCommand(body, state, c), CommandCheck::NoSuchBox) << data;
  }
}

}  // namespace
}  // namespace telvara
