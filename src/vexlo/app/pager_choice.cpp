#include "vexlo/app/pager_choice.h"

namespace vexlo {

PagerSettings PagerSettings::of_process() {
  return {os::environment_value("VEXLO_PAGER"), os::environment_value("PAGER"), os::environment_value("LESS"),
          os::environment_value("VEXLO_PAGER_SECURE"), os::runs_privileged()};
}

std::optional<os::PagerCommand> choose_pager(const PagerSettings& settings) {
  const std::optional<std::string>& chosen = settings.vexlo_pager ? settings.vexlo_pager : settings.pager;
  // Declining a pager is safe for anyone.
  if (chosen && (chosen->empty() || *chosen == "cat")) return std::nullopt;
  const bool trusted = !settings.privileged || settings.secure == "0";
  if (!trusted) return os::PagerCommand{{"less", "-FRX"}, {"LESSSECURE=1"}};
  std::vector<std::string> environment;
  if (!settings.less) environment.emplace_back("LESS=FRX");
  if (!chosen) return os::PagerCommand{{"less", "-FRX"}, environment};
  return os::PagerCommand{{"/bin/sh", "-c", *chosen}, environment};
}

}  // namespace vexlo
