#include "digest/md5_lane_driver.h"

#include <algorithm>

// Every lane keeps `available` either 0 or at least a block, and a lane with bytes at hand holds
// no partial block in its context, as Md5AppendBlocks requires.

CMd5LaneDriver::CMd5LaneDriver(const Md5Kernel& kernel, int laneCount)
    : m_Kernel(kernel),
      m_Lanes(static_cast<size_t>(laneCount)),
      m_Contexts(m_Lanes.size()),
      m_Blocks(m_Lanes.size()) {}

int CMd5LaneDriver::Submit(size_t message) {
  const auto free = std::find_if(m_Lanes.begin(), m_Lanes.end(),
                                 [](const Lane& lane) { return lane.message == kFree; });
  Md5Init(free->context);
  free->data = nullptr;
  free->available = 0;
  free->message = message;
  free->last = false;
  ++m_Occupied;
  return static_cast<int>(free - m_Lanes.begin());
}

void CMd5LaneDriver::Feed(int lane, const unsigned char* data, size_t size, bool last) {
  Lane& fed = m_Lanes[static_cast<size_t>(lane)];
  fed.data = data;
  fed.available = size;
  fed.last = last;
  // The partial block left from before is completed first.
  const size_t held = (fed.context.bitCount[0] >> 3) % kMd5BlockSize;
  if (held > 0) {
    const size_t fill = std::min(size, kMd5BlockSize - held);
    Md5Append(fed.context, data, static_cast<int>(fill));
    fed.data += fill;
    fed.available -= fill;
  }
  KeepLeftover(fed);
}

void CMd5LaneDriver::Drop(int lane) {
  m_Lanes[static_cast<size_t>(lane)].message = kFree;
  --m_Occupied;
}

bool CMd5LaneDriver::IsWaiting(int lane) const {
  const Lane& asked = m_Lanes[static_cast<size_t>(lane)];
  return asked.message != kFree && asked.available == 0 && !asked.last;
}

bool CMd5LaneDriver::CanStep() const {
  return m_Occupied > 0 && std::none_of(m_Lanes.begin(), m_Lanes.end(), [](const Lane& lane) {
           return lane.message != kFree && lane.available == 0;
         });
}

size_t CMd5LaneDriver::Step() {
  size_t used = 0;
  size_t blockCount = SIZE_MAX;
  for (Lane& lane : m_Lanes) {
    if (lane.message == kFree) continue;
    if (lane.available == 0) return 0;
    m_Contexts[used] = &lane.context;
    m_Blocks[used] = lane.data;
    ++used;
    blockCount = std::min(blockCount, lane.available / kMd5BlockSize);
  }
  if (used == 0) return 0;
  const size_t size = blockCount * kMd5BlockSize;
  if (used == 1) {
    Md5AppendBytes(*m_Contexts[0], m_Blocks[0], size);
  } else {
    Md5AppendBlocks(m_Kernel, {m_Contexts.data(), used}, {m_Blocks.data(), used}, blockCount);
  }
  for (Lane& lane : m_Lanes) {
    if (lane.message == kFree) continue;
    lane.data += size;
    lane.available -= size;
    KeepLeftover(lane);
  }
  return blockCount;
}

bool CMd5LaneDriver::TakeFinished(size_t& message, Md5Digest& digest) {
  for (Lane& lane : m_Lanes) {
    if (lane.message == kFree || !lane.last || lane.available > 0) continue;
    Md5Finish(lane.context, digest.data());
    message = lane.message;
    lane.message = kFree;
    --m_Occupied;
    return true;
  }
  return false;
}

void CMd5LaneDriver::KeepLeftover(Lane& lane) {
  if (lane.available >= kMd5BlockSize) return;
  Md5Append(lane.context, lane.data, static_cast<int>(lane.available));
  lane.data += lane.available;
  lane.available = 0;
}

void Md5DigestMessages(const Md5Kernel& kernel,
                       std::span<const std::span<const unsigned char>> messages,
                       std::span<Md5Digest> digests) {
  CMd5LaneDriver lanes(kernel, kernel.laneCount);
  size_t next = 0;
  for (;;) {
    for (; next < messages.size() && lanes.Occupied() < lanes.LaneCount(); ++next) {
      lanes.Feed(lanes.Submit(next), messages[next].data(), messages[next].size(), true);
    }
    size_t message;
    Md5Digest digest;
    bool tookAny = false;
    while (lanes.TakeFinished(message, digest)) {
      digests[message] = digest;
      tookAny = true;
    }
    // Freed lanes take the next messages before the kernel runs again.
    if (!tookAny && lanes.Step() == 0) return;
  }
}
