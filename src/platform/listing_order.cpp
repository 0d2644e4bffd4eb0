// The order of a folder listing, the one NTFS gives, on every system.
#include <algorithm>

#include "platform/portable.h"

namespace platform {

std::string UnitOrderKey(std::u16string_view units) {
  std::string key;
  key.reserve(2 * units.size());
  for (char16_t unit : units) {
    key.push_back(static_cast<char>(unit >> 8));
    key.push_back(static_cast<char>(unit & 0xFF));
  }
  return key;
}

std::vector<const ListedName*> InNtfsOrder(const std::vector<ListedName>& names) {
  std::vector<const ListedName*> order;
  order.reserve(names.size());
  for (const ListedName& name : names) order.push_back(&name);
  // Each pair of names compared once per level: a folder of many names costs millions of
  // comparisons.
  std::sort(order.begin(), order.end(), [](const ListedName* a, const ListedName* b) {
    if (int upper = a->upper.compare(b->upper); upper != 0) return upper < 0;
    if (int units = a->units.compare(b->units); units != 0) return units < 0;
    return a->native < b->native;
  });
  return order;
}

}  // namespace platform
