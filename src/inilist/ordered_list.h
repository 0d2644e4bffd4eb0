// The ordered list that the run's two file lists are: text keys and values, unique keys, in the
// order of the runtime's multibyte comparison in the ANSI code page.
//
// Made for hundreds of thousands of entries: the texts go into large blocks that are freed
// together, an insert only appends, and the entries are put in order when the list is next read,
// the new ones sorted among themselves and merged into those in order already. So n inserts
// with k reads between them cost O(n log n + k n) and no allocation per entry. (Merging the new
// entries whenever they grew to a quarter of the list took twice the time in all: each merge
// compares keys that lie all over memory.)
//
// Threads: a list belongs to one thread at a time; reading it may put it in order.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

class OrderedList {
 public:
  // One entry: its key and its value, stored one after the other.
  class Entry {
   public:
    std::string_view Key() const { return {m_Text, m_KeySize}; }
    std::string_view Value() const { return {m_Text + m_KeySize, m_ValueSize}; }

   private:
    friend class OrderedList;
    const char* m_Text;
    std::uint32_t m_KeySize;
    std::uint32_t m_ValueSize;
  };

  OrderedList() = default;
  OrderedList(std::initializer_list<std::pair<std::string_view, std::string_view>> entries);
  OrderedList(OrderedList&&) = default;
  OrderedList& operator=(OrderedList&&) = default;

  // Adds a copy of `key` and `value`, unless `key` is present: then the list stays as it was.
  // Throws std::length_error for a key or value of 4 GiB or more.
  void Insert(std::string_view key, std::string_view value);

  // The entries in ascending key order; valid until the next insert.
  std::span<const Entry> Entries() const;
  size_t Size() const { return Entries().size(); }
  const Entry* begin() const { return Entries().data(); }
  const Entry* end() const { return begin() + Size(); }
  // The entry of `key`, or null when it is not in the list.
  const Entry* Find(std::string_view key) const;

 private:
  // Room for `size` bytes that never moves.
  char* Allocate(size_t size);
  // Sorts the entries inserted since the last time and merges them in.
  void PutInOrder() const;

  // Entries [0, m_Ordered) are in order, each key once; those after are inserted since.
  mutable std::vector<Entry> m_Entries;
  mutable size_t m_Ordered = 0;
  // No key holds a byte that orders the keys otherwise than their bytes do.
  bool m_KeysCompareAsBytes = true;
  // The texts the entries view; a block never moves.
  std::vector<std::unique_ptr<char[]>> m_Blocks;
  char* m_Free = nullptr;
  size_t m_Left = 0;
};
