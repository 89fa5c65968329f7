#include "base/memory_budget.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <string>

namespace rzt2 {

namespace {

// The lowest memory limit on the way from the process's control group up to
// the root, in either cgroup version; UINT64_MAX when none is set.
uint64_t ControlGroupLimit() {
  uint64_t lowest = UINT64_MAX;
  std::ifstream groups("/proc/self/cgroup");
  std::string line;
  while (std::getline(groups, line)) {
    // "0::/path" (version 2) or "N:memory:/path" (version 1; controllers may be listed together).
    const size_t first = line.find(':');
    const size_t second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const bool v2 = controllers.empty();
    if (!v2 && ("," + controllers + ",").find(",memory,") == std::string::npos) continue;
    const std::string root = v2 ? "/sys/fs/cgroup" : "/sys/fs/cgroup/memory";
    const char* file = v2 ? "/memory.max" : "/memory.limit_in_bytes";
    std::string group = line.substr(second + 1);
    while (true) {
      std::ifstream limitFile(root + group + file);
      std::string text;
      uint64_t value = 0;
      if (limitFile >> text &&
          std::from_chars(text.data(), text.data() + text.size(), value).ec == std::errc()) {
        lowest = std::min(lowest, value);  // "max" does not parse: no limit there
      }
      if (group.empty() || group == "/") break;
      group.erase(group.rfind('/'));
    }
  }
  return lowest;
}

}  // namespace

uint64_t DefaultMemoryBudget() {
  static const uint64_t budget = [] {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    uint64_t memory = pages > 0 && pageSize > 0
                          ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize)
                          : uint64_t{1} << 32;
    memory = std::min(memory, ControlGroupLimit());
    return memory / 4;
  }();
  return budget;
}

bool ParseMemorySize(std::string_view text, uint64_t& bytes) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text.front()))) return false;
  double number = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), number, std::chars_format::fixed);
  if (error != std::errc()) return false;
  const std::string_view numberText = text.substr(0, static_cast<size_t>(end - text.data()));
  const std::string_view unit = text.substr(numberText.size());
  int shift = 0;
  if (unit.empty()) {
    if (numberText.find('.') != std::string_view::npos) return false;  // no fraction of a byte
  } else {
    constexpr std::string_view kUnits = "KMGT";
    const size_t at = kUnits.find(static_cast<char>(std::toupper(static_cast<unsigned char>(unit.front()))));
    if (unit.size() != 1 || at == std::string_view::npos) return false;
    shift = 10 * static_cast<int>(at + 1);
  }
  const double value = std::ldexp(number, shift);
  if (!(value <= std::ldexp(1.0, 60))) return false;
  bytes = static_cast<uint64_t>(value);
  return true;
}

MemoryBudget& MemoryBudget::Process() {
  static MemoryBudget budget(DefaultMemoryBudget());
  return budget;
}

bool MemoryBudget::TryTake(uint64_t bytes) {
  uint64_t held = inUse_.load(std::memory_order_relaxed);
  do {
    if (bytes > Limit() || held > Limit() - bytes) return false;
  } while (!inUse_.compare_exchange_weak(held, held + bytes, std::memory_order_relaxed));
  return true;
}

void MemoryBudget::Give(uint64_t bytes) { inUse_.fetch_sub(bytes, std::memory_order_relaxed); }

}  // namespace rzt2
