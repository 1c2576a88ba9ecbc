#include "mcp/revision.h"

#include <array>
#include <utility>

namespace vesk::mcp {
namespace {

constexpr std::array<std::pair<Revision, std::string_view>, 5> kDates = {{
    {Revision::r2024_11_05, "2024-11-05"},
    {Revision::r2025_03_26, "2025-03-26"},
    {Revision::r2025_06_18, "2025-06-18"},
    {Revision::r2025_11_25, "2025-11-25"},
    {Revision::r2026_07_28, "2026-07-28"},
}};

}  // namespace

std::optional<Revision> revisionNamed(std::string_view date) {
  for (const auto& [revision, name] : kDates) {
    if (name == date) return revision;
  }
  return std::nullopt;
}

std::vector<std::string_view> allDates() {
  std::vector<std::string_view> dates;
  for (auto known = kDates.rbegin(); known != kDates.rend(); ++known)
    dates.push_back(known->second);
  return dates;
}

std::string_view dateOf(Revision revision) {
  for (const auto& [known, name] : kDates) {
    if (known == revision) return name;
  }
  return {};
}

}  // namespace vesk::mcp
