// The two ways the Linux reads open and read ahead, driven directly on their slots: where each
// kind of entry leaves a slot, and what is left once the ring is drained or given up.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "search/file_reads.h"
#include "search/plain_reads-linux.h"
#include "search/read_ahead_slots-linux.h"
#include "search/ring_reads-linux.h"
#include "support/system_ring.h"
#include "support/temp_tree.h"

namespace {

using qz_test::SystemHasRing;

std::size_t OpenDescriptors() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++n;
  return n;
}

// A directory with an entry of every kind the reads meet, opened as the policy opens it.
struct Entries {
  Entries() {
    tree.File("text.txt", "alpha beta");
    tree.File("empty.txt", "");
    mkfifo(tree.Path("fifo.txt").c_str(), 0644);
    std::filesystem::create_directory(tree.Path("dir.txt"));
    std::filesystem::create_symlink(tree.Path("text.txt"), tree.Path("link.txt"));
    dirFd = open(tree.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  ~Entries() { close(dirFd); }
  qz_test::TempTree tree;
  int dirFd = -1;
  const std::vector<std::string> names = {"text.txt", "empty.txt", "fifo.txt",
                                          "dir.txt",  "link.txt",  "missing.txt"};
};

template <typename Way>
void OpenEvery(const Entries& entries, AheadSlots& slots, Way& way) {
  for (std::size_t i = 0; i < entries.names.size(); ++i) {
    slots.Take(i, /*ahead=*/true, /*relative=*/true);
    ASSERT_TRUE(way.StartOpen(i, entries.dirFd, entries.names[i].c_str()));
  }
  way.Submit();
  for (std::size_t i = 0; i < entries.names.size(); ++i) way.Settle(i);
}

// A regular file ends Done and measured (with its first part read, through the ring); an empty
// one Done with nothing to read; a FIFO and a directory are opened without blocking and passed
// over; a link is not followed, to be opened in its turn by its path; a missing name is passed
// over. Every open relative to the directory is counted once it completes.
TEST(ReadAheadWays, EachKindOfEntryEndsWhereThePolicyExpectsIt) {
  for (const bool ring : {false, true}) {
    Entries entries;
    ASSERT_GE(entries.dirFd, 0);
    AheadSlots slots;
    RingReads rings(slots);
    PlainReads plain(slots);
    if (ring) {
      if (!SystemHasRing()) GTEST_SKIP() << "this system sets up no io_uring";
      ASSERT_TRUE(rings.SetUp());
      OpenEvery(entries, slots, rings);
    } else {
      OpenEvery(entries, slots, plain);
    }
    const Slot& text = slots.For(0);
    EXPECT_EQ(text.state, SlotState::Done) << "ring " << ring;
    EXPECT_GE(text.fd, 0);
    EXPECT_EQ(text.size, 10u);
    if (ring) EXPECT_EQ(std::string_view(text.buffer.get(), text.got), "alpha beta");
    else EXPECT_EQ(text.got, 0u);  // the plain way reads nothing ahead
    EXPECT_NE(text.measuredAt.tv_sec, 0) << "opened ahead: the clock tick it was measured in";
    EXPECT_EQ(slots.For(1).state, SlotState::Done);
    EXPECT_EQ(slots.For(1).got, 0u);
    EXPECT_EQ(slots.For(2).state, SlotState::Passed);
    EXPECT_EQ(slots.For(3).state, SlotState::Passed);
    EXPECT_EQ(slots.For(4).state, SlotState::Retry);
    EXPECT_EQ(slots.For(4).error, ELOOP);
    EXPECT_EQ(slots.For(5).state, SlotState::Passed);
    EXPECT_EQ(slots.relativeOpens(), 4u);  // the four that opened
    slots.ResetAll();
    for (std::size_t i = 0; i < entries.names.size(); ++i) {
      EXPECT_EQ(slots.For(i).state, SlotState::Idle);
      EXPECT_EQ(slots.For(i).fd, -1);
    }
  }
}

// What the ring was given and not handed to the kernel dies with it when it is given up (to be
// opened in turn); what the kernel took is reaped by a drain and dropped: either way no
// descriptor is left behind, nor any slot under way.
TEST(ReadAheadWays, TheRingDrainedOrGivenUpLeavesNothingOpenOrUnderWay) {
  for (const bool submitted : {false, true}) {
    Entries entries;
    for (int i = 0; i < 20; ++i) entries.tree.File("f" + std::to_string(i), std::string(5000, 'x'));
    const std::size_t before = OpenDescriptors();
    AheadSlots slots;
    RingReads ring(slots);
    if (!SystemHasRing()) GTEST_SKIP() << "this system sets up no io_uring";
    ASSERT_TRUE(ring.SetUp());
    for (std::size_t i = 0; i < 20; ++i) {
      slots.Take(i, true, true);
      ASSERT_TRUE(ring.StartOpen(i, entries.dirFd, ("f" + std::to_string(i)).c_str()));
    }
    if (submitted) {
      ring.Submit();
      ring.Drain();
    } else {
      ring.GiveUp();
      EXPECT_FALSE(ring.usable());
    }
    for (std::size_t i = 0; i < 20; ++i) {
      const Slot& slot = slots.For(i);
      EXPECT_EQ(slot.state, submitted ? SlotState::Idle : SlotState::Retry) << i;
      EXPECT_EQ(slot.fd, -1) << i;
      EXPECT_FALSE(slot.queued) << i;
    }
    ring.Close();
    EXPECT_EQ(OpenDescriptors(), before);
  }
}

// Files the search is done with are closed through the ring: every close has ended (its
// descriptor free again) once the ring is drained or given up, whether or not the kernel had
// it yet, and no more than kClosesInFlight are ever under way: past that the caller closes.
TEST(ReadAheadWays, TheRingClosesWhatItIsGivenWithinItsBound) {
  if (!SystemHasRing()) GTEST_SKIP() << "this system sets up no io_uring";
  for (const bool drained : {true, false}) {
    Entries entries;
    const std::size_t before = OpenDescriptors();
    AheadSlots slots;
    RingReads ring(slots);
    ASSERT_TRUE(ring.SetUp());
    std::vector<int> refused;
    for (unsigned i = 0; i < RingReads::kClosesInFlight + 3; ++i) {
      const int fd = open(entries.tree.Path("text.txt").c_str(), O_RDONLY | O_CLOEXEC);
      ASSERT_GE(fd, 0);
      if (!ring.StartClose(fd)) refused.push_back(fd);
    }
    EXPECT_EQ(refused.size(), 3u) << "drained " << drained;
    for (const int fd : refused) close(fd);
    if (drained) {
      ring.Submit();
      ring.Drain();
      EXPECT_EQ(OpenDescriptors(), before + 1) << "the ring's own descriptor only";
      // Their ends make room for as many again.
      const int fd = open(entries.tree.Path("text.txt").c_str(), O_RDONLY | O_CLOEXEC);
      EXPECT_TRUE(ring.StartClose(fd));
    } else {
      ring.GiveUp();
      EXPECT_FALSE(ring.usable());
      EXPECT_FALSE(ring.StartClose(0));
    }
    ring.Close();
    EXPECT_EQ(OpenDescriptors(), before) << "drained " << drained;
  }
}

// Through the ring, the files of a directory that stays where it is come read ahead: each is
// lent its first part when its turn comes, not read then.
TEST(ReadAheadWays, TheRingReadsAheadTheFilesOfADirectoryLeftInPlace) {
  if (!SystemHasRing()) GTEST_SKIP() << "this system sets up no io_uring";
  qz_test::TempTree tree;
  std::vector<std::string> names;
  for (int i = 0; i < 12; ++i) names.push_back("f" + std::to_string(i) + ".txt");
  std::vector<PlannedFile> plan;
  for (const std::string& name : names) {
    tree.File(name, "the text of " + name);
    plan.push_back({name.c_str(), static_cast<std::uint32_t>(name.size()), true});
  }
  FileReads reads(ReadWay::Ring);
  reads.Plan(tree.path(), plan);
  for (const std::string& name : names) {
    ASSERT_TRUE(reads.NextFile());
    InputFile file;
    std::uint64_t length = 0;
    ASSERT_EQ(reads.Open(tree.Path(name), file, length), OpenResult::Opened) << name;
    EXPECT_EQ(reads.LendFirstPart(), "the text of " + name);
  }
  reads.End();
}

}  // namespace
