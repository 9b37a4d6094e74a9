// Every document of the public TOML 1.0 conformance suite, loaded as a
// configuration file. The valid documents use keys outside the schema, so
// they must load silently; every invalid one must be reported with a
// position, except those that are not UTF-8 text, which leave the defaults
// silently like any unreadable file. The suite is kept in
// tests/data/toml-suite; without it the test fails.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <set>
#include <sstream>

#include "testing/config_message.h"
#include "testing/source_tree.h"
#include "testing/temp_dir.h"
#include "vexlo/common/utf8.h"
#include "vexlo/config/config.h"

namespace vexlo {
namespace {

// Documents on which the parser disagrees with the suite, each with the
// reason. The parser in use agrees on every document; an upgrade that
// changes that lists the document here.
const std::set<std::string, std::less<>> kParserDisagrees = {};

// The documents below valid/ and invalid/, relative to the suite's folder,
// in byte order.
std::vector<std::string> suite_documents(const std::filesystem::path& root) {
  std::vector<std::string> documents;
  for (const char* group : {"valid", "invalid"}) {
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(root / group, error), end; !error && it != end;
         it.increment(error)) {
      if (it->path().extension() == ".toml") documents.push_back(it->path().lexically_relative(root).string());
    }
  }
  std::sort(documents.begin(), documents.end());
  return documents;
}

std::string load_output(const std::string& path, Config* config) {
  std::ostringstream out;
  *config = load_config(path, out);
  return out.str();
}

TEST(TomlConformance, EveryDocumentOfTheSuite) {
  const std::string root = testing::test_data_path("toml-suite");
  const auto documents = suite_documents(root);
  ASSERT_FALSE(documents.empty()) << "the TOML conformance suite is missing from " << root;

  int valid = 0, rejected = 0, not_utf8 = 0;
  for (const std::string& document : documents) {
    if (kParserDisagrees.contains(document)) continue;
    const std::string path = root + "/" + document;
    Config config;
    const std::string output = load_output(path, &config);
    if (document.starts_with("valid/")) {
      ++valid;
      EXPECT_EQ(output, "") << document;
      EXPECT_EQ(config, default_config()) << document;
    } else if (!is_valid_utf8(testing::read_file(path))) {
      ++not_utf8;
      EXPECT_EQ(output, "") << document;
      EXPECT_EQ(config, default_config()) << document;
    } else {
      ++rejected;
      EXPECT_EQ(testing::check_positioned_config_message(output, testing::read_file(path)), "")
          << document << "\n" << output;
      EXPECT_EQ(config, default_config()) << document;
    }
  }
  // The counts of the suite as copied; a change in them means the copy
  // changed, not the tool.
  EXPECT_EQ(valid, 210);
  EXPECT_EQ(rejected + not_utf8, 499);
  std::cout << valid << " valid documents loaded, " << rejected << " invalid ones reported, " << not_utf8
            << " not UTF-8, " << kParserDisagrees.size() << " where the parser disagrees\n";
}

}  // namespace
}  // namespace vexlo
