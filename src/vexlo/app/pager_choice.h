#pragma once
// Which pager `show` starts, if any, from the environment and from whether
// the run has privileges a pager could hand on.

#include <optional>
#include <string>

#include "vexlo/os/pager.h"

namespace vexlo {

struct PagerSettings {
  std::optional<std::string> vexlo_pager = {};  // VEXLO_PAGER
  std::optional<std::string> pager = {};        // PAGER
  std::optional<std::string> less = {};         // LESS
  std::optional<std::string> secure = {};       // VEXLO_PAGER_SECURE
  bool privileged = false;                 // root, or set-id

  // Read from the environment of this process.
  static PagerSettings of_process();
};

// VEXLO_PAGER, else PAGER, else `less -FRX`; a chosen value that is empty
// or "cat" means no pager. A command of the user's is run by /bin/sh, as
// other programs run it, with LESS=FRX when LESS is not set, so that less
// keeps the colours and quits on a short text.
//
// A privileged run starts `less -FRX` with LESSSECURE=1 and nothing else,
// whatever VEXLO_PAGER or PAGER say (they may come from the user a sudo
// rule lets run vexlo, and a pager's shell escape would run as root),
// unless VEXLO_PAGER_SECURE=0 says the user's pager may be trusted.
std::optional<os::PagerCommand> choose_pager(const PagerSettings& settings);

}  // namespace vexlo
