// Keeps the lanes of an MD5 kernel busy over many messages, as a job manager does: Submit gives a
// message a free lane, Feed hands the lane the message's bytes as they arrive, Step appends what
// every lane has at hand, TakeFinished hands back the messages that ended with their digests.
// Md5DigestMessages is the driver for messages in memory; the digest queue drives files with it.
//
// A lane is free or holds one message, which is in one of three states:
// - waiting: it goes on, but less than a block is at hand; Step does nothing until Feed;
// - ready: a block or more is at hand;
// - ended: its last bytes were fed and less than a block is left; TakeFinished completes it.
//
// Threads: one thread at a time per driver; drivers share nothing.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "digest/md5_lanes.h"

class CMd5LaneDriver {
 public:
  // `laneCount` lanes (any number from 1) on `kernel`: best its own lane count; fewer leave
  // lanes of the kernel idle, more take turns in it.
  CMd5LaneDriver(const Md5Kernel& kernel, int laneCount);

  int LaneCount() const { return static_cast<int>(m_Lanes.size()); }
  // The lanes that hold a message: the one count of their occupancy.
  int Occupied() const { return m_Occupied; }

  // Starts message `message` (a number of the caller's, handed back by TakeFinished) in a free
  // lane, waiting for its first bytes, and returns the lane. There must be a free lane.
  int Submit(size_t message);
  // Hands a waiting lane the next `size` bytes of its message, at `data`, where they must stay
  // until the lane waits again or ends; `last` when they end the message. Any number of bytes,
  // 0 included.
  void Feed(int lane, const unsigned char* data, size_t size, bool last);
  // Frees a lane without a digest: its message cannot be completed.
  void Drop(int lane);

  bool IsWaiting(int lane) const;
  size_t MessageOf(int lane) const { return m_Lanes[static_cast<size_t>(lane)].message; }
  // Whether Step has work: some lane holds a message and none waits or has ended.
  bool CanStep() const;

  // Appends the same number of whole blocks to every occupied lane, as many as the one with the
  // fewest has at hand, and returns that number: 0 when a lane waits or has ended. A lone lane
  // goes through the one-message code, as fast as the kernel with idle lanes is slow, so the last
  // message of a run flushes at full speed.
  size_t Step();
  // Completes one ended lane: writes its message's number and digest, frees the lane and returns
  // true. False when no lane has ended.
  bool TakeFinished(size_t& message, Md5Digest& digest);

 private:
  static constexpr size_t kFree = static_cast<size_t>(-1);
  struct Lane {
    Md5Context context;
    // The bytes fed and not yet appended. While the lane waits they are none: the bytes left
    // over are in the context's block, so that the caller may reuse its buffer at once.
    const unsigned char* data = nullptr;
    size_t available = 0;
    size_t message = kFree;
    bool last = false;
  };
  // Moves the bytes at hand of a lane with less than a block into its context.
  static void KeepLeftover(Lane& lane);

  Md5Kernel m_Kernel;
  std::vector<Lane> m_Lanes;
  int m_Occupied = 0;
  // Step's arguments for the kernel, kept to spare an allocation per step.
  std::vector<Md5Context*> m_Contexts;
  std::vector<const unsigned char*> m_Blocks;
};

// Writes the digest of messages[i] into digests[i], for every message (`digests` holds at least
// as many), keeping every lane of the kernel busy while two messages or more are left.
void Md5DigestMessages(const Md5Kernel& kernel,
                       std::span<const std::span<const unsigned char>> messages,
                       std::span<Md5Digest> digests);
