// The order of a listing, sorted 8 bytes of the order keys at a time, is the one a comparison of
// each pair of names gives, and names equal after upper-casing are twins.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/portable.h"

namespace {

using platform::ListedName;

bool ComparedLess(const ListedName* a, const ListedName* b) {
  if (a->upper != b->upper) return a->upper < b->upper;
  if (a->units != b->units) return a->units < b->units;
  return a->native < b->native;
}

// Random folders of names from a few units, so that they share prefixes of every length, end at
// every offset around the 8 bytes of a step (4 units) and fall equal after upper-casing ('a' and
// 'A'); the units have a zero high or low byte, or none, and stand on both sides of surrogates.
TEST(ListingOrder, SortsAsAComparisonOfEachPairAndFindsEveryTwin) {
  const char16_t units[] = {u'a', u'A', u'b', 0x0100, 0x4E2D, 0xD83D, 0xFFFD};
  std::mt19937 random(20261209);
  for (int folder = 0; folder < 300; ++folder) {
    std::vector<ListedName> names(std::uniform_int_distribution<size_t>(0, 80)(random));
    for (size_t i = 0; i < names.size(); ++i) {
      size_t length = std::uniform_int_distribution<size_t>(1, 13)(random);
      for (size_t unit = 0; unit < length; ++unit) {
        names[i].units += units[std::uniform_int_distribution<size_t>(0, 6)(random)];
      }
      std::u16string upper = names[i].units;
      std::replace(upper.begin(), upper.end(), u'a', u'A');
      names[i].upper = platform::UnitOrderKey(upper);
      // The same units may stand for several names (bytes that are no UTF-8 on POSIX).
      names[i].native = std::to_string(i);
    }
    std::vector<const ListedName*> expected;
    for (const ListedName& name : names) expected.push_back(&name);
    std::sort(expected.begin(), expected.end(), ComparedLess);

    const std::vector<platform::OrderedName> order = platform::InNtfsOrder(names);
    ASSERT_EQ(order.size(), expected.size());
    for (size_t i = 0; i < order.size(); ++i) {
      ASSERT_EQ(order[i].name, expected[i]) << "folder " << folder << ", name " << i;
      bool twin = (i > 0 && expected[i - 1]->upper == expected[i]->upper) ||
                  (i + 1 < order.size() && expected[i + 1]->upper == expected[i]->upper);
      EXPECT_EQ(order[i].hasCaseTwin, twin) << "folder " << folder << ", name " << i;
    }
  }
}

}  // namespace
