// The order of a folder listing, the one NTFS gives, on every system.
#include <algorithm>
#include <cstdint>

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

namespace {

// A name in the sort, with the 8 bytes of its order key at the offset the sort has reached,
// high byte first, zeros past the key's end.
struct SortedName {
  std::uint64_t digit = 0;
  const ListedName* name = nullptr;
  bool hasCaseTwin = false;
};

std::uint64_t DigitAt(std::string_view key, size_t offset) {
  std::uint64_t digit = 0;
  for (size_t i = offset; i < offset + 8; ++i) {
    digit = digit << 8 | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
  }
  return digit;
}

bool NtfsLess(const SortedName& a, const SortedName& b) {
  if (int upper = a.name->upper.compare(b.name->upper); upper != 0) return upper < 0;
  if (int units = a.name->units.compare(b.name->units); units != 0) return units < 0;
  return a.name->native < b.name->native;
}

// Sorts [first, last), names whose order keys agree before `offset`, by their keys from there
// on, 8 bytes at a time: most comparisons are then of numbers held in the array, not of texts
// held elsewhere. No unit of a name is 0, so names whose digits agree either all end there
// (equal after upper-casing: twins, put in order by the names themselves) or all go on, but for
// a key that ends just at the digit's end.
void SortFrom(SortedName* first, SortedName* last, size_t offset) {
  for (SortedName* name = first; name != last; ++name) {
    name->digit = DigitAt(name->name->upper, offset);
  }
  std::sort(first, last,
            [](const SortedName& a, const SortedName& b) { return a.digit < b.digit; });
  for (SortedName* run = first; run != last;) {
    SortedName* end =
        std::find_if(run, last, [&](const SortedName& name) { return name.digit != run->digit; });
    if (end - run > 1) {
      bool goOn = std::any_of(
          run, end, [&](const SortedName& name) { return name.name->upper.size() > offset + 8; });
      if (goOn) {
        SortFrom(run, end, offset + 8);
      } else {
        std::sort(run, end, NtfsLess);
        for (SortedName* twin = run; twin != end; ++twin) twin->hasCaseTwin = true;
      }
    }
    run = end;
  }
}

}  // namespace

std::vector<OrderedName> InNtfsOrder(const std::vector<ListedName>& names) {
  std::vector<SortedName> sorted(names.size());
  for (size_t i = 0; i < names.size(); ++i) sorted[i].name = &names[i];
  SortFrom(sorted.data(), sorted.data() + sorted.size(), 0);
  std::vector<OrderedName> order;
  order.reserve(sorted.size());
  for (const SortedName& name : sorted) order.push_back({name.name, name.hasCaseTwin});
  return order;
}

}  // namespace platform
