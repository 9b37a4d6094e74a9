#include "vexlo/os/random.h"

#include <sys/random.h>

#include <cerrno>
#include <vector>

#include "vexlo/os/os_error.h"

namespace vexlo::os {

Result<std::string> random_hex(std::size_t bytes) {
  std::vector<unsigned char> random(bytes);
  std::size_t got = 0;
  while (got < bytes) {
    const ssize_t n = getrandom(random.data() + got, bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::unexpected(os_error(errno));
    got += static_cast<std::size_t>(n);
  }
  constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const unsigned char byte : random) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xf];
  }
  return text;
}

}  // namespace vexlo::os
