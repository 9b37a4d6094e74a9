#include "vexlo/app/pager_choice.h"

#include <gtest/gtest.h>

namespace vexlo {
namespace {

TEST(ChoosePager, PrivilegedRunsGetSecureLessUnlessTheyOptOut) {
  using Command = std::optional<os::PagerCommand>;
  const Command secure_less = os::PagerCommand{{"less", "-FRX"}, {"LESSSECURE=1"}};
  const Command plain_less = os::PagerCommand{{"less", "-FRX"}, {"LESS=FRX"}};
  const Command most = os::PagerCommand{{"/bin/sh", "-c", "most -s"}, {"LESS=FRX"}};
  const struct {
    PagerSettings settings;
    Command expected;
  } cases[] = {
      {{}, plain_less},
      {{.pager = "most -s"}, most},
      {{.vexlo_pager = "most -s", .pager = "more"}, most},
      {{.vexlo_pager = "most -s", .less = "R"}, os::PagerCommand{{"/bin/sh", "-c", "most -s"}, {}}},
      {{.pager = ""}, std::nullopt},
      {{.vexlo_pager = "cat", .pager = "more"}, std::nullopt},
      {{.vexlo_pager = "", .privileged = true}, std::nullopt},
      {{.privileged = true}, secure_less},
      {{.pager = "most -s", .privileged = true}, secure_less},
      {{.vexlo_pager = "less", .less = "R", .privileged = true}, secure_less},
      {{.pager = "most -s", .secure = "1", .privileged = true}, secure_less},
      {{.pager = "most -s", .secure = "", .privileged = true}, secure_less},
      {{.pager = "most -s", .secure = "0", .privileged = true}, most},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(choose_pager(c.settings), c.expected)
        << c.settings.vexlo_pager.value_or("-") << " " << c.settings.pager.value_or("-") << " "
        << c.settings.privileged;
  }
}

}  // namespace
}  // namespace vexlo
