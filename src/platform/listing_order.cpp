// The order of a folder listing, the one NTFS gives, on every system.
#include <algorithm>

#include "platform/portable.h"

namespace platform {

void SortInNtfsOrder(std::vector<ListedName>& names) {
  std::sort(names.begin(), names.end(), [](const ListedName& a, const ListedName& b) {
    if (a.upper != b.upper) return a.upper < b.upper;
    if (a.units != b.units) return a.units < b.units;
    return a.native < b.native;
  });
}
}  // namespace platform
