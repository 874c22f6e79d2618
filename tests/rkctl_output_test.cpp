// rkctl's output for people and for other tools: types are listed, a whole
// type names every tag of it, JSON keeps the order asked, repeats and the
// text of strings (UTF-8 as it is, other bytes as U+FFFD, --raw for the
// bytes), and watch and top stream one object per line.
#include <signal.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "support/rkctl_test.h"

namespace rk::test {

namespace {

using nlohmann::json;

const std::string kTypes = R"([[type]]
name = "TEMP"
kind = "bytes"
size = 8
class = "double"
count = 4
[[type]]
name = "UNIT"
kind = "string"
size = 16
count = 3
[[type]]
name = "BOX"
kind = "mailbox"
count = 1
[[type]]
name = "FLAG"
kind = "digital"
count = 2
per_app = true
[[type]]
name = "N"
kind = "bytes"
size = 4
count = 2
)";

const std::string kClients = "  [[instance.client]]\n  task = \"SLEEPER\"\n  command = \"sleep 600\"\n";

// JSON of a tool's output; a parse error leaves a discarded value.
json parsed(const ToolResult& r) { return json::parse(r.out, nullptr, false); }

const std::regex kIsoTime(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$)");

}  // namespace

TEST_F(RkctlTest, TypesAndWholeTypesAndJsonOfEveryCommand) {
  RkctlProcess& run = start({"run", plant(one_instance("Out", kTypes, kClients))});
  ASSERT_TRUE(run.wait_for("started SLEEPER", kBoundMs)) << run.output() << run.errors();

  const ToolResult types = run_rkctl({"types", "--json"});
  const json t = parsed(types);
  ASSERT_TRUE(t.is_array() && t.size() == 5) << types.out << types.err;
  const json expected[] = {
      {{"number", 0}, {"name", "TEMP"}, {"kind", "bytes"}, {"class", "double"}, {"count", 4}, {"size", 8}, {"per_app", false}},
      {{"number", 1}, {"name", "UNIT"}, {"kind", "string"}, {"class", "string"}, {"count", 3}, {"size", 8}, {"per_app", false}},
      {{"number", 2}, {"name", "BOX"}, {"kind", "mailbox"}, {"class", "raw"}, {"count", 1}, {"size", 22}, {"per_app", false}},
      {{"number", 3}, {"name", "FLAG"}, {"kind", "digital"}, {"class", "digital"}, {"count", 2}, {"size", 2}, {"per_app", true}},
      {{"number", 4}, {"name", "N"}, {"kind", "bytes"}, {"class", "int32"}, {"count", 2}, {"size", 4}, {"per_app", false}},
  };
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(t[i], expected[i]) << i;
  const ToolResult table = run_rkctl({"types"});
  EXPECT_NE(table.out.find("   1 UNIT             string   string        3     8 no"), std::string::npos) << table.out;

  // A whole type and a range take every tag they name.
  ASSERT_EQ(run_rkctl({"set", "TEMP=1.5", "N[0..1]=-7", "UNIT[0]=°C", "UNIT[1]=a\xff" "b", "FLAG[1]=1"}).code, 0);
  ASSERT_EQ(run_rkctl({"send", "BOX[0]", "first"}).code, 0);
  const ToolResult got = run_rkctl({"get", "--json", "UNIT[0]", "TEMP", "N[1]", "UNIT[0]", "BOX[0]", "UNIT[1]", "FLAG[1]"});
  const json g = parsed(got);
  ASSERT_TRUE(g.is_array()) << got.out << got.err;
  std::vector<std::string> order;
  for (const json& e : g) order.push_back(e["tag"]);
  EXPECT_EQ(order, (std::vector<std::string>{"UNIT[0]", "TEMP[0]", "TEMP[1]", "TEMP[2]", "TEMP[3]", "N[1]", "UNIT[0]",
                                             "BOX[0]", "UNIT[1]", "FLAG[1]"}));
  ASSERT_EQ(g.size(), 10u);
  EXPECT_EQ(g[0], (json{{"tag", "UNIT[0]"}, {"type", "UNIT"}, {"index", 0}, {"kind", "string"}, {"value", "°C"}, {"attr", 0}}));
  for (size_t i = 1; i <= 4; ++i) EXPECT_EQ(g[i]["value"], 1.5) << g[i];
  EXPECT_EQ(g[4]["index"], 3);
  EXPECT_EQ(g[5]["value"], -7);
  EXPECT_EQ(g[6], g[0]);
  EXPECT_EQ(g[7]["kind"], "mailbox");
  EXPECT_EQ(g[7]["value"], (json::array({{{"length", 5}, {"fields", "0000000000000000000000000000"}}}))) << g[7];
  EXPECT_EQ(g[8]["value"], "a\xef\xbf\xbd" "b");   // U+FFFD for the byte that is no UTF-8
  EXPECT_EQ(g[9]["value"], 1);
  // UTF-8 is written as it is, not escaped.
  EXPECT_NE(got.out.find("\"°C\""), std::string::npos) << got.out;

  EXPECT_EQ(run_rkctl({"get", "UNIT[0..1]"}).out, "UNIT[0] = °C\nUNIT[1] = a\\xffb\n");
  const json raw = parsed(run_rkctl({"get", "--json", "--raw", "UNIT[0..1]"}));
  ASSERT_TRUE(raw.is_array() && raw.size() == 2) << raw;
  EXPECT_EQ(raw[0]["value"], "c2b043");
  EXPECT_EQ(raw[1]["value"], "61ff62");

  // The other commands' JSON parses, with what it must hold.
  const json ls = parsed(run_rkctl({"ls", "--json"}));
  ASSERT_TRUE(ls.is_array() && ls.size() == 1) << ls;
  EXPECT_EQ(ls[0]["name"], "Out");
  const json procs = parsed(run_rkctl({"dump", "procs", "--json"}));
  ASSERT_TRUE(procs.is_array() && !procs.empty()) << procs;
  EXPECT_EQ(procs[0]["name"], "RKCTL");
  const json mbx = parsed(run_rkctl({"mbx", "--json", "BOX[0]"}));
  EXPECT_EQ(mbx, (json::array({{{"length", 5}, {"fields", "0000000000000000000000000000"}}})));
  const json taken = parsed(run_rkctl({"mbx", "--take", "--json", "BOX[0]"}));
  EXPECT_EQ(taken, (json::array({{{"data", "first"}}})));
  const json top = parsed(run_rkctl({"top", "--once", "--json", "--interval", "100ms"}));
  ASSERT_TRUE(top.is_object()) << top;
  EXPECT_EQ(top["rtdb"], "Out");
  EXPECT_TRUE(std::regex_match(top["time"].get<std::string>(), kIsoTime)) << top["time"];
  EXPECT_TRUE(top["clients"].is_array() && !top["clients"].empty()) << top;

  ASSERT_EQ(run.finish(kBoundMs, SIGINT), 0) << run.output();
  EXPECT_TRUE(objects_left().empty());
}

// watch --json and top --json: one object per line, each with its time,
// read line by line as they come.
TEST_F(RkctlTest, WatchAndTopStreamOneJsonObjectPerLine) {
  RkctlProcess& run = start({"run", plant(one_instance("Stream", kTypes, kClients))});
  ASSERT_TRUE(run.wait_for("started SLEEPER", kBoundMs)) << run.output() << run.errors();
  ASSERT_EQ(run_rkctl({"set", "TEMP[0]=1", "UNIT[2]=x"}).code, 0);

  RkctlProcess watch({"watch", "--json", "--count", "3", "TEMP[0]", "UNIT[2]", "BOX[0]"});
  ASSERT_TRUE(watch.wait_for("\"event\":\"watching\"", kBoundMs)) << watch.output() << watch.errors();
  ASSERT_EQ(run_rkctl({"set", "TEMP[0]=2.5"}).code, 0);
  ASSERT_TRUE(watch.wait_for("\"event\":\"change\"", kBoundMs)) << watch.output();
  ASSERT_EQ(run_rkctl({"set", "UNIT[2]=ü"}).code, 0);
  ASSERT_TRUE(watch.wait_for("\"value\":\"ü\"", kBoundMs)) << watch.output();
  ASSERT_EQ(run_rkctl({"send", "BOX[0]", "hi"}).code, 0);
  EXPECT_EQ(watch.finish(kBoundMs), 0) << watch.errors();

  std::vector<json> events;
  for (const std::string& line : watch.lines()) {
    events.push_back(json::parse(line, nullptr, false));
    ASSERT_TRUE(events.back().is_object()) << line;
    EXPECT_TRUE(std::regex_match(events.back()["time"].get<std::string>(), kIsoTime)) << line;
  }
  ASSERT_EQ(events.size(), 7u) << watch.output();
  EXPECT_EQ(events[0]["event"], "value");
  EXPECT_EQ(events[0]["value"], 1);
  EXPECT_EQ(events[1]["value"], "x");
  EXPECT_EQ(events[2]["queued"], 0);
  EXPECT_EQ(events[3]["event"], "watching");
  EXPECT_EQ(events[3]["tags"], 3);
  EXPECT_EQ(events[4]["tag"], "TEMP[0]");
  EXPECT_EQ(events[4]["value"], 2.5);
  EXPECT_EQ(events[5]["tag"], "UNIT[2]");
  EXPECT_EQ(events[5]["value"], "ü");
  EXPECT_EQ(events[6]["event"], "message");
  EXPECT_EQ(events[6]["length"], 2);

  RkctlProcess top({"top", "--json", "--interval", "50ms"});
  ASSERT_TRUE(top.wait_for("\"clients\"", kBoundMs)) << top.errors();
  const size_t first = top.lines().size();
  ASSERT_TRUE(top.wait_for("\"clients\"", kBoundMs, first)) << top.errors();
  EXPECT_EQ(top.finish(kBoundMs, SIGINT), 0) << top.errors();
  ASSERT_GE(top.lines().size(), 2u);
  for (const std::string& line : top.lines()) {
    const json view = json::parse(line, nullptr, false);
    ASSERT_TRUE(view.is_object()) << line;
    EXPECT_EQ(view["rtdb"], "Stream");
    EXPECT_TRUE(view["clients"].is_array());
  }

  ASSERT_EQ(run.finish(kBoundMs, SIGINT), 0) << run.output();
  EXPECT_TRUE(objects_left().empty());
}

}  // namespace rk::test
