#include "vexlo/query/show.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>
#include <string>

#include "testing/temp_dir.h"

namespace vexlo {
namespace {

std::string text_form(std::string_view json) {
  auto document = json::parse(json);
  EXPECT_TRUE(document) << json;
  if (!document) return "<parse failure>";
  std::ostringstream out;
  print_json_text(document->root(), "", out);
  return out.str();
}

TEST(PrintJsonText, DottedPathsAndEmptyLineAfterEachScalar) {
  const struct {
    std::string json;
    std::string text;
  } cases[] = {
      {"{}", ""},
      {"[]", ""},
      {"42", "42\n\n"},
      {R"("hi")", "hi\n\n"},
      {"null", "null\n\n"},
      {"true", "true\n\n"},
      {"[1, [2, 3]]", "1\n\n2\n\n3\n\n"},
      {R"({"b": 1, "a": 2})", "a\n2\n\nb\n1\n\n"},
      {R"({"a": 1, "a": 2})", "a\n2\n\n"},
      {R"({"a": {"b": {"c": 1}}})", "a\na.b\na.b.c\n1\n\n"},
      {R"({"": {"x": 1}})", "\nx\n1\n\n"},
      {R"({"a": {"": {"x": 1}}})", "a\na.\na..x\n1\n\n"},
      {R"({"a.b": {"c": false}})", "a.b\na.b.c\nfalse\n\n"},
      {R"({"s": "line one\nline two"})", "s\nline one\nline two\n\n"},
      {R"({"s": "tab\there \"quoted\" \\ \u0001"})", "s\ntab\there \"quoted\" \\ \x01\n\n"},
      {R"({"e": [], "o": {}, "n": [[], {}]})", "e\nn\no\n"},
      {"1.0", "1.0\n\n"},
      {"1e2", "100.0\n\n"},
      {"1e16", "1e+16\n\n"},
      {"-0", "-0.0\n\n"},
      {"18446744073709551616", "1.8446744073709552e+19\n\n"},
      {"-12", "-12\n\n"},
      {"0.00001", "0.00001\n\n"},
      {"1.5e-7", "1.5e-7\n\n"},
      {std::string(127, '[') + std::string(127, ']'), ""},
      // The worked example.
      {R"({"ok": true, "list": [{"type": "cpu", "count": 42}, {"type": "kernel", "msg": "x"}],)"
       R"( "boot_timestamp": 17, "note": null, "data": []})",
       "boot_timestamp\n17\n\ndata\nlist\nlist.count\n42\n\nlist.type\ncpu\n\nlist.msg\nx\n\n"
       "list.type\nkernel\n\nnote\nnull\n\nok\ntrue\n\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(text_form(c.json), c.text) << c.json;
}

TEST(PrintJsonText, StartsFromTheGivenKeyPath) {
  auto document = json::parse(R"({"a": [1, {"b": 2}]})");
  ASSERT_TRUE(document);
  std::ostringstream out;
  print_json_text(document->root(), "top", out);
  EXPECT_EQ(out.str(), "top.a\n1\n\ntop.a.b\n2\n\n");
}

struct ShowResult {
  std::string out;
  std::string err;
};

ShowResult show(const std::string& path, bool pretty) {
  std::ostringstream out, err;
  show_file(path, pretty ? ShowFormat::Pretty : ShowFormat::Text, out, err);
  return {out.str(), err.str()};
}

TEST(ShowFile, PrintsBothFormsOfTheWorkedExample) {
  testing::ScopedTempDir dir;
  const std::string path = dir / "log.json";
  testing::write_file(path,
                      R"({"ok": true, "list": [{"type": "cpu", "count": 42}, {"type": "kernel", "msg": "x"}],)"
                      R"( "boot_timestamp": 17, "note": null, "data": []})");
  const ShowResult text = show(path, false);
  EXPECT_EQ(text.err, "");
  EXPECT_EQ(text.out,
            "boot_timestamp\n17\n\ndata\nlist\nlist.count\n42\n\nlist.type\ncpu\n\nlist.msg\nx\n\n"
            "list.type\nkernel\n\nnote\nnull\n\nok\ntrue\n\n");
  const ShowResult pretty = show(path, true);
  EXPECT_EQ(pretty.err, "");
  EXPECT_EQ(pretty.out,
            "{\n"
            "  \"boot_timestamp\": 17,\n"
            "  \"data\": [],\n"
            "  \"list\": [\n"
            "    {\n"
            "      \"count\": 42,\n"
            "      \"type\": \"cpu\"\n"
            "    },\n"
            "    {\n"
            "      \"msg\": \"x\",\n"
            "      \"type\": \"kernel\"\n"
            "    }\n"
            "  ],\n"
            "  \"note\": null,\n"
            "  \"ok\": true\n"
            "}\n");
}

TEST(ShowFile, PrettyFormEndsWithOneNewline) {
  const struct {
    const char* json;
    const char* pretty;
  } cases[] = {
      {"{}", "{}\n"},
      {"[]", "[]\n"},
      {"42", "42\n"},
      {R"({"b": 1, "a": 2})", "{\n  \"a\": 2,\n  \"b\": 1\n}\n"},
      {R"({"s": "two\nlines"})", "{\n  \"s\": \"two\\nlines\"\n}\n"},
      {" [1.0, -0, 1e16] \n", "[\n  1.0,\n  -0.0,\n  1e+16\n]\n"},
  };
  testing::ScopedTempDir dir;
  for (const auto& c : cases) {
    testing::write_file(dir / "log.json", c.json);
    const ShowResult result = show(dir / "log.json", true);
    EXPECT_EQ(result.out, c.pretty) << c.json;
    EXPECT_EQ(result.err, "") << c.json;
  }
}

TEST(ShowFile, FailuresWriteOneMessageAndNoContent) {
  testing::ScopedTempDir dir;
  const struct {
    const char* name;
    std::string content;
    std::string message_after_path;
  } cases[] = {
      {"empty.json", "", ""},
      {"lines.json", "{\"a\": 1}\n{\"a\": 2}\n", ""},
      {"trailing.json", "[1] x", ""},
      {"bom.json", "\xEF\xBB\xBF{}", ""},
      {"deep.json", std::string(128, '[') + std::string(128, ']'), ""},
      {"overflow.json", "[1, 1e400]", ""},
      {"syntax.json", "{\"a\": }", ""},
      {"latin1.json", "{\"a\": \"caf\xE9\"}", ": stream did not contain valid UTF-8"},
      // Judged by the first bytes alone: no JSON value begins so.
      {"zeros.json", std::string(100000, '\0'), ""},
      {"text.json", "x" + std::string(100000, 'y') + "\xff", ""},
      {"latin1-head.json", "x\xE9" + std::string(100000, 'y'), ": stream did not contain valid UTF-8"},
      // 12 MB whose document would take 125 MB, above 36 MB and 64 MiB.
      {"empties.json", [] {
         std::string text = "[";
         for (int i = 0; i < 4'000'000; ++i) text += "[],";
         return text + "[]]";
       }(), ": too large to hold in memory (needs about 125 MB)"},
  };
  for (const auto& c : cases) {
    const std::string path = dir / c.name;
    testing::write_file(path, c.content);
    for (bool pretty : {false, true}) {
      const ShowResult result = show(path, pretty);
      EXPECT_EQ(result.out, "") << c.name;
      if (c.message_after_path.empty()) {
        EXPECT_EQ(result.err, "Error parsing JSON in file " + path + "\n") << c.name;
      } else {
        EXPECT_EQ(result.err, "Error opening file " + path + c.message_after_path + "\n") << c.name;
      }
    }
  }
}

TEST(ShowFile, UnreadableFilesAreOpeningErrors) {
  testing::ScopedTempDir dir;
  const std::string missing = dir / "missing.json";
  EXPECT_EQ(show(missing, false).err,
            "Error opening file " + missing + ": No such file or directory (os error 2)\n");
  testing::make_dirs(dir / "dir.json");
  EXPECT_EQ(show(dir / "dir.json", false).err,
            "Error opening file " + (dir / "dir.json") + ": Is a directory (os error 21)\n");
  const std::string fifo = dir / "fifo.json";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const ShowResult result = show(fifo, true);  // must not block
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(result.err.starts_with("Error opening file " + fifo + ": ")) << result.err;
}

// On a terminal, keys, strings and the paths in messages show their control
// characters escaped; tab and line feed inside strings stay.
TEST(ShowFile, ControlCharactersAreEscapedOnlyForATerminal) {
  testing::ScopedTempDir dir;
  const std::string path = dir / "e\x1b[2J.json";
  testing::write_file(path, R"({"k\u001b": ["a\tb\nc\u0007\u0085", 1]})");
  const std::string missing = dir / "m\x1b]0;t\x07.json";
  const std::string missing_shown = dir / "m\\x1b]0;t\\x07.json";
  const struct {
    std::string path;
    TerminalOutput terminals;
    std::string out;
    std::string err;
    bool colour = false;
  } cases[] = {
      {path, {}, "k\x1b\na\tb\nc\x07\xc2\x85\n\n1\n\n", ""},
      // Colour: the key path, then each value in the colour of its kind.
      {path, {.out = true}, "\x1b[34;1mk\\x1b\x1b[0m\n\x1b[0;32ma\tb\nc\\x07\\u0085\x1b[0m\n\n\x1b[0;39m1\x1b[0m\n\n", "",
       true},
      {path, {.out = true}, "k\\x1b\na\tb\nc\\x07\\u0085\n\n1\n\n", ""},
      {missing, {.out = true}, "", "Error opening file " + missing + ": No such file or directory (os error 2)\n"},
      {missing, {.err = true}, "", "Error opening file " + missing_shown + ": No such file or directory (os error 2)\n"},
  };
  for (const auto& c : cases) {
    std::ostringstream out, err;
    show_file(c.path, ShowFormat::Text, out, err, c.terminals, c.colour);
    EXPECT_EQ(out.str(), c.out) << c.terminals.out;
    EXPECT_EQ(err.str(), c.err) << c.terminals.err;
  }
}

TEST(ShowFile, LargeDocumentPrintsWhole) {
  testing::ScopedTempDir dir;
  std::string json = "{\"events\": [";
  std::string expected_text;
  for (int i = 0; i < 50000; ++i) {
    json += (i ? "," : "") + std::string(R"({"n": )") + std::to_string(i) + R"(, "msg": "event"})";
    expected_text += "events.msg\nevent\n\nevents.n\n" + std::to_string(i) + "\n\n";
  }
  json += "]}";
  testing::write_file(dir / "big.json", json);
  const ShowResult text = show(dir / "big.json", false);
  EXPECT_EQ(text.err, "");
  EXPECT_EQ(text.out, "events\n" + expected_text);
  const ShowResult pretty = show(dir / "big.json", true);
  auto reparsed = json::parse(pretty.out);
  ASSERT_TRUE(reparsed);
  EXPECT_EQ(reparsed->root().find("events")->size(), 50000u);
}

}  // namespace
}  // namespace vexlo

namespace vexlo {
namespace {

class ShowLogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    a_ = dir_ / "logs/a.json";
    testing::write_file(a_, R"({"b": "two", "a": 1})");
    testing::write_file(dir_ / "outside.json", "{}");
    // IDs 7 twice: the first entry in file order is the one shown.
    testing::write_file(dir_ / "logs/.config/vexlo-db.json",
                        "{\"files\": [{\"id\": 7, \"path\": \"" + a_ +
                            "\"}, {\"id\": 7, \"path\": \"elsewhere.json\"}, {\"id\": 8, \"path\": \"" +
                            (dir_ / "logs/gone.json") + "\"}, {\"id\": 9, \"path\": \"" + (dir_ / "outside.json") +
                            "\"}, {\"id\": 10, \"path\": \"" + (dir_ / "logs/../outside.json") +
                            "\"}], \"next_file_id\": 11}");
  }

  ShowResult run(std::uint64_t id, bool pretty) {
    auto database = Database::open(dir_ / "logs");
    EXPECT_TRUE(database);
    if (!database) return {};
    std::ostringstream out, err;
    show_log_file(*database, dir_ / "logs", id, pretty ? ShowFormat::Pretty : ShowFormat::Text, out, err);
    return {out.str(), err.str()};
  }

  testing::ScopedTempDir dir_;
  std::string a_;
};

TEST_F(ShowLogFile, FindsTheEntryByItsId) {
  EXPECT_EQ(run(7, false).out, "a\n1\n\nb\ntwo\n\n");
  EXPECT_EQ(run(7, true).out, "{\n  \"a\": 1,\n  \"b\": \"two\"\n}\n");
  EXPECT_EQ(run(7, true).err, "");
  auto database = Database::open(dir_ / "logs");
  ASSERT_TRUE(database);
  std::ostringstream out, err;
  show_log_file(*database, dir_ / "logs", 7, ShowFormat::Json, out, err);
  EXPECT_EQ(out.str(), "{\"a\":1,\"b\":\"two\"}\n");
  EXPECT_EQ(err.str(), "");
}

TEST_F(ShowLogFile, UnknownIdsAndVanishedFiles) {
  const struct {
    std::uint64_t id;
    std::string err;
  } cases[] = {
      {999, "File with ID 999 not found\n"},
      {0, "File with ID 0 not found\n"},
      {18446744073709551615u, "File with ID 18446744073709551615 not found\n"},
      {8, "Error opening file " + (dir_ / "logs/gone.json") + ": No such file or directory (os error 2)\n"},
      {9, "File with ID 9 not found\n"},  // outside the log root
      {10, "File with ID 10 not found\n"},  // leaves it through ".."
  };
  for (const auto& c : cases) {
    const ShowResult result = run(c.id, false);
    EXPECT_EQ(result.out, "") << c.id;
    EXPECT_EQ(result.err, c.err) << c.id;
  }
}

}  // namespace
}  // namespace vexlo
