#include "vexlo/db/database_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

namespace vexlo {
namespace {

// Reads `text` as a file; a read that reaches `failing_offset` fails.
ReadFileAt file_of(const std::string& text, std::uint64_t failing_offset = UINT64_MAX) {
  return [&text, failing_offset](std::uint64_t offset, std::span<char> into) -> Result<std::size_t> {
    if (offset + into.size() > failing_offset) return std::unexpected(Error{"I/O error", 5});
    const std::string_view rest = std::string_view(text).substr(std::min<std::size_t>(offset, text.size()));
    const std::size_t count = std::min(rest.size(), into.size());
    std::copy_n(rest.data(), count, into.data());
    return count;
  };
}

// A database file read in pieces of any size is of the tool's own layout
// or not as its whole text is, and loads as its whole text does.
void expect_loads_in_pieces(const std::string& text, const std::string& name) {
  const auto in_one_piece = load_own_database_layout(text.size(), file_of(text), text.size() + 1);
  ASSERT_TRUE(in_one_piece) << name;
  const LoadedDatabase whole = load_database_bytes(text);
  for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{100}, kDatabasePieceSize}) {
    const auto loaded = load_own_database_layout(text.size(), file_of(text), piece);
    ASSERT_TRUE(loaded) << name;
    ASSERT_EQ(loaded->has_value(), in_one_piece->has_value()) << name << ", pieces of " << piece;
    if (!loaded->has_value()) continue;
    EXPECT_EQ((*loaded)->content.files, whole.content.files) << name << ", pieces of " << piece;
    EXPECT_EQ((*loaded)->content.next_file_id, whole.content.next_file_id) << name << ", pieces of " << piece;
    EXPECT_EQ((*loaded)->content.instance, whole.content.instance) << name << ", pieces of " << piece;
    EXPECT_FALSE(whole.damaged) << name;
  }
}

TEST(RenderDatabase, ExampleLayoutByteForByte) {
  const std::vector<FileEntry> files = {{"/var/log/orvane/a.json", 1, 55}, {"/var/log/orvane/sub/b.json", 3, 7}};
  EXPECT_EQ(render_database(files, 4, 1764979200),
            "{\n"
            "  \"files\": [\n"
            "    {\n"
            "      \"id\": 1,\n"
            "      \"path\": \"/var/log/orvane/a.json\"\n"
            "    },\n"
            "    {\n"
            "      \"id\": 3,\n"
            "      \"path\": \"/var/log/orvane/sub/b.json\"\n"
            "    }\n"
            "  ],\n"
            "  \"last_sync\": 1764979200,\n"
            "  \"next_file_id\": 4\n"
            "}");
}

TEST(RenderDatabase, EmptyListOnOneLineAndExtremeNumbers) {
  EXPECT_EQ(render_database({}, 1, 0), "{\n  \"files\": [],\n  \"last_sync\": 0,\n  \"next_file_id\": 1\n}");
  EXPECT_EQ(render_database({{"p", 18446744073709551615u, 0}}, 18446744073709551615u, -9223372036854775807 - 1),
            "{\n  \"files\": [\n    {\n      \"id\": 18446744073709551615,\n      \"path\": \"p\"\n    }\n  ],\n"
            "  \"last_sync\": -9223372036854775808,\n  \"next_file_id\": 18446744073709551615\n}");
}

TEST(RenderDatabase, EscapesPathsAndLoadsThemBack) {
  const struct {
    std::string path;
    std::string quoted;
  } cases[] = {
      {"a\"b", R"("a\"b")"},
      {"a\\b", R"("a\\b")"},
      {"line\nbreak", R"("line\nbreak")"},
      {std::string("\b\t\f\r", 4), R"("\b\t\f\r")"},
      {std::string("\x00\x01\x1f", 3), R"("\u0000\u0001\u001f")"},
      {"\x7f/slash/\xc3\xa9\xef\xbf\xbd", "\"\x7f/slash/\xc3\xa9\xef\xbf\xbd\""},
  };
  for (const auto& c : cases) {
    const std::string text = render_database({{c.path, 9, 0}}, 10, 0);
    EXPECT_NE(text.find("\"path\": " + c.quoted + "\n"), std::string::npos) << text;
    const DatabaseContent loaded = load_database(text).content;
    ASSERT_EQ(loaded.files.size(), 1u) << c.quoted;
    EXPECT_EQ(loaded.files[0], (FileEntry{c.path, 9, 0})) << c.quoted;
    EXPECT_EQ(loaded.next_file_id, 10u);
  }
}

// A large database is written in pieces: together they load back whole,
// and the first piece that cannot be written ends the writing with its
// error.
TEST(RenderDatabase, PiecesOfALargeDatabase) {
  std::vector<FileEntry> files;
  for (std::uint64_t id = 1; id <= 3000; ++id) files.push_back({"/var/log/events/" + std::to_string(id) + ".json", id, 0});
  for (const std::size_t failing_piece : {std::size_t{0}, std::size_t{2}}) {
    std::vector<std::string> pieces;
    const Status written =
        render_database(files, 3001, 0, "0af9", [&](std::string_view piece) -> Status {
          pieces.emplace_back(piece);
          if (pieces.size() == failing_piece) return std::unexpected(Error{"disk full", 28});
          return {};
        });
    if (failing_piece != 0) {
      ASSERT_FALSE(written);
      EXPECT_EQ(written.error().text, "disk full");
      EXPECT_EQ(pieces.size(), failing_piece);
      continue;
    }
    ASSERT_TRUE(written);
    EXPECT_GT(pieces.size(), 1u);
    std::string text;
    for (const auto& piece : pieces) text += piece;
    const LoadedDatabase loaded = load_database(text);
    EXPECT_FALSE(loaded.damaged);
    EXPECT_EQ(loaded.content.files, files);
    EXPECT_EQ(loaded.content.next_file_id, 3001u);
    EXPECT_EQ(loaded.content.instance, "0af9");
    expect_loads_in_pieces(text, "large database");
    // Its own layout is read once, a piece at a time, never again whole.
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, kDatabasePieceSize}) {
      std::uint64_t bytes_read = 0;
      const ReadFileAt counted = [&, read = file_of(text)](std::uint64_t offset, std::span<char> into) {
        auto count = read(offset, into);
        bytes_read += count.value_or(0);
        return count;
      };
      const auto loaded = load_own_database_layout(text.size(), counted, piece);
      ASSERT_TRUE(loaded && *loaded);
      EXPECT_EQ(bytes_read, text.size()) << "pieces of " << piece;
    }
    // A read that fails is an error, not a database with the entries read
    // so far, nor another layout.
    for (const std::string& read : {text, text + " "}) {
      const auto failed = load_own_database_layout(read.size(), file_of(read, read.size() / 2));
      ASSERT_FALSE(failed);
      EXPECT_EQ(failed.error().text, "I/O error");
    }
  }
}

TEST(RenderDatabase, InstanceLoadsBackAndOnlyAsHexDigits) {
  const struct {
    std::string spelled, loaded;
  } cases[] = {{"0af9", "0af9"}, {"0AF9", ""}, {R"(0a\u0066)", "0af"}, {std::string(65, 'a'), ""}};
  for (const auto& c : cases) {
    std::string text = render_database({{"p", 2, 0}}, 3, 0, "0af9");
    text.replace(text.find("0af9"), 4, c.spelled);
    const DatabaseContent loaded = load_database(text).content;
    EXPECT_EQ(loaded.instance, c.loaded) << c.spelled;
    EXPECT_EQ(loaded.files, (std::vector<FileEntry>{{"p", 2, 0}})) << c.spelled;
  }
}

// The layout render_database writes, with one entry spelled as given.
std::string own_layout(const std::string& id, const std::string& quoted_path, const std::string& last_sync = "0") {
  return "{\n  \"files\": [\n    {\n      \"id\": " + id + ",\n      \"path\": " + quoted_path +
         "\n    }\n  ],\n  \"last_sync\": " + last_sync + ",\n  \"next_file_id\": 5\n}";
}

TEST(ParseDatabase, ToleratesWhateverTheFileHolds) {
  using Files = std::vector<FileEntry>;
  const struct {
    const char* name;
    std::string text;
    Files files;
    std::uint64_t next_file_id;
  } cases[] = {
      {"empty text", "", {}, 1},
      {"array", "[]", {}, 1},
      {"text after the value", R"({"files": [{"id": 1, "path": "a"}], "next_file_id": 5} x)", {}, 1},
      {"two values", R"({"next_file_id": 5}{"next_file_id": 6})", {}, 1},
      {"truncated", "{\n  \"files\": [\n    {\n      \"id\": 1,\n      \"pa", {}, 1},
      {"whitespace around", " \t\r\n{\"next_file_id\": 5}\n ", {}, 5},
      {"counter negative", R"({"next_file_id": -1})", {}, 1},
      {"counter with fraction", R"({"next_file_id": 2.0})", {}, 1},
      {"counter with exponent", R"({"next_file_id": 2e3})", {}, 1},
      {"counter as string", R"({"next_file_id": "5"})", {}, 1},
      {"counter too large", R"({"next_file_id": 18446744073709551616})", {}, 1},
      {"counter largest", R"({"next_file_id": 18446744073709551615})", {}, 18446744073709551615u},
      {"counter zero", R"({"next_file_id": 0})", {}, 0},
      {"counter repeated: later counts", R"({"next_file_id": 3, "next_file_id": 8})", {}, 8},
      {"files not an array", R"({"files": {"id": 1, "path": "a"}, "next_file_id": 2})", {}, 2},
      {"bad elements skipped, order kept",
       R"({"files": [{"id": 7}, {"path": "x", "id": -1}, {"path": 5, "id": 2}, "bare",
                     {"path": "b", "id": 2}, {"path": "y", "id": 1.0}, {"path": "a", "id": 1},
                     {"path": "z", "id": "3"}, null, [1], {"path": "c", "id": 0, "extra": true}],
           "next_file_id": 9, "last_sync": "ignored"})",
       {{"b", 2, 0}, {"a", 1, 0}, {"c", 0, 0}},
       9},
      {"duplicate ids both load", R"({"files": [{"id": 4, "path": "a"}, {"id": 4, "path": "b"}]})",
       {{"a", 4, 0}, {"b", 4, 0}},
       1},
      {"id above the counter loads", R"({"files": [{"id": 99, "path": "a"}], "next_file_id": 2})", {{"a", 99, 0}}, 2},
      {"deeply nested", std::string(200, '[') + std::string(200, ']'), {}, 1},
      {"own layout, escapes of any case", own_layout("3", R"("\u00E9\u00e9\/\ud83d\ude00")"),
       {{"\xc3\xa9\xc3\xa9/\xf0\x9f\x98\x80", 3, 0}}, 5},
      {"own layout, extreme last_sync", own_layout("3", R"("a")", "-9223372036854775808"), {{"a", 3, 0}}, 5},
      {"own layout, then a line break", own_layout("3", R"("a")") + "\n", {{"a", 3, 0}}, 5},
      {"own layout, spaces changed", own_layout("3", R"( "a")"), {{"a", 3, 0}}, 5},
      {"own layout, id with a leading zero", own_layout("03", R"("a")"), {}, 1},
      {"own layout, id negative", own_layout("-3", R"("a")"), {}, 5},
      {"own layout, id with fraction", own_layout("3.0", R"("a")"), {}, 5},
      {"own layout, raw control in path", own_layout("3", "\"a\tb\""), {}, 1},
      {"own layout, path not UTF-8", own_layout("3", "\"a\xff\""), {}, 1},
      {"own layout, path cut off", own_layout("3", "\"a"), {}, 1},
      {"own layout, bad escape", own_layout("3", R"("a\x")"), {}, 1},
  };
  for (const auto& c : cases) {
    const DatabaseContent loaded = load_database(c.text).content;
    EXPECT_EQ(loaded.files, c.files) << c.name;
    EXPECT_EQ(loaded.next_file_id, c.next_file_id) << c.name;
    expect_loads_in_pieces(c.text, c.name);
  }
}

TEST(SalvageCounter, NumbersLegibleAnywhereInTheBytes) {
  const struct {
    std::string bytes;
    std::uint64_t counter;
  } cases[] = {
      {"", 1},
      {std::string("\xff\x00 garbage", 10), 1},
      {R"("id": 41)", 42},
      {"\"id\"\t:\r\n 41}", 42},
      {R"("next_file_id": 41)", 41},
      {R"({"next_file_id": 7, "files": [{"id": 12, "path": "x"}, {"id": 3)", 13},
      {R"("next_file_id": 0, "id": 0)", 1},
      {R"("id": 18446744073709551615)", 18446744073709551615u},
      {R"("id": 18446744073709551616, "id": -5, "id": 7.5, "id": 8e1, "id": "9", "id" 10, "id": 2)", 3},
      {R"("path": "a\"id\": 500")", 1},  // an escaped name inside a string is no member
      {R"("identity": 500, "xid": 600)", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(salvage_counter(c.bytes), c.counter) << c.bytes;
}

}  // namespace
}  // namespace vexlo
