#include "inilist/ordered_list.h"

#include <algorithm>
#include <stdexcept>

#include "platform/platform.h"

namespace {

// Large enough that a run of many files needs few blocks, small enough that a short list costs
// little.
constexpr size_t kBlockSize = 64 * 1024;

// The order of the keys, by bytes while they allow it: several times as fast.
struct KeyLess {
  bool asBytes;
  bool operator()(std::string_view a, std::string_view b) const {
    return asBytes ? a < b : platform::CompareMultibyte(a, b) < 0;
  }
  bool operator()(const OrderedList::Entry& a, const OrderedList::Entry& b) const {
    return (*this)(a.Key(), b.Key());
  }
};

// The comparison is 0 only for the same bytes.
bool SameKey(const OrderedList::Entry& a, const OrderedList::Entry& b) {
  return a.Key() == b.Key();
}

}  // namespace

OrderedList::OrderedList(
    std::initializer_list<std::pair<std::string_view, std::string_view>> entries) {
  for (const auto& [key, value] : entries) Insert(key, value);
}

char* OrderedList::Allocate(size_t size) {
  if (size > m_Left) {
    // A text larger than a block gets one of its own; the current block stays in use.
    if (size > kBlockSize) return m_Blocks.emplace_back(new char[size]).get();
    m_Free = m_Blocks.emplace_back(new char[kBlockSize]).get();
    m_Left = kBlockSize;
  }
  char* room = m_Free;
  m_Free += size;
  m_Left -= size;
  return room;
}

void OrderedList::Insert(std::string_view key, std::string_view value) {
  constexpr size_t kLargest = UINT32_MAX;
  if (key.size() > kLargest || value.size() > kLargest) throw std::length_error("list entry");
  m_KeysCompareAsBytes = m_KeysCompareAsBytes && platform::ComparesAsBytes(key);
  char* text = Allocate(key.size() + value.size());
  std::copy(key.begin(), key.end(), text);
  std::copy(value.begin(), value.end(), text + key.size());
  Entry& entry = m_Entries.emplace_back();
  entry.m_Text = text;
  entry.m_KeySize = static_cast<std::uint32_t>(key.size());
  entry.m_ValueSize = static_cast<std::uint32_t>(value.size());
}

void OrderedList::PutInOrder() const {
  if (m_Ordered == m_Entries.size()) return;
  // Stable sorts and merges keep the first insert of a key ahead of the later ones, which unique
  // then drops.
  auto inserted = m_Entries.begin() + static_cast<std::ptrdiff_t>(m_Ordered);
  const KeyLess less{m_KeysCompareAsBytes};
  std::stable_sort(inserted, m_Entries.end(), less);
  m_Entries.erase(std::unique(inserted, m_Entries.end(), SameKey), m_Entries.end());
  std::inplace_merge(m_Entries.begin(), inserted, m_Entries.end(), less);
  m_Entries.erase(std::unique(m_Entries.begin(), m_Entries.end(), SameKey), m_Entries.end());
  m_Ordered = m_Entries.size();
}

std::span<const OrderedList::Entry> OrderedList::Entries() const {
  PutInOrder();
  return m_Entries;
}

const OrderedList::Entry* OrderedList::Find(std::string_view key) const {
  std::span<const Entry> entries = Entries();
  auto found = std::lower_bound(entries.begin(), entries.end(), key,
                                [](const Entry& entry, std::string_view wanted) {
                                  return platform::CompareMultibyte(entry.Key(), wanted) < 0;
                                });
  return found != entries.end() && found->Key() == key ? &*found : nullptr;
}
