// The Linux stand-ins for the Win32 memory calls (LocalAlloc and the
// process heap), checked against the Windows behaviour the plug-ins depend
// on: sizes, zeroing, failure, and the counts of live blocks.

#include <stdint.h>

#include "gtest/gtest.h"
#include "platform/win32_api.h"
#include "platform_test_support.h"

namespace {

using platformtest::Counts;

TEST(LocalMemory, BlocksKeepTheirSizeAndAreCounted) {
  const int64_t before = Counts().local_blocks;
  HLOCAL empty = LocalAlloc(LMEM_FIXED, 0);
  HLOCAL small = LocalAlloc(LMEM_FIXED, 7);
  HLOCAL large = LocalAlloc(LMEM_FIXED, 1 << 20);
  ASSERT_NE(empty, nullptr);
  ASSERT_NE(small, nullptr);
  ASSERT_NE(large, nullptr);
  EXPECT_NE(empty, small);
  EXPECT_EQ(LocalSize(empty), 0u);
  EXPECT_EQ(LocalSize(small), 7u);
  EXPECT_EQ(LocalSize(large), 1u << 20);
  EXPECT_EQ(Counts().local_blocks, before + 3);

  // Fixed blocks: the handle is the address, and unlocking keeps it usable.
  unsigned char* bytes = static_cast<unsigned char*>(LocalLock(large));
  EXPECT_EQ(static_cast<void*>(bytes), large);
  bytes[0] = 1;
  bytes[(1 << 20) - 1] = 2;
  EXPECT_TRUE(LocalUnlock(large));
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[(1 << 20) - 1], 2);

  EXPECT_EQ(LocalFree(empty), nullptr);
  EXPECT_EQ(LocalFree(small), nullptr);
  EXPECT_EQ(LocalFree(large), nullptr);
  EXPECT_EQ(LocalFree(nullptr), nullptr);
  EXPECT_EQ(Counts().local_blocks, before);
}

TEST(LocalMemory, ZeroInitAndUnsatisfiableRequests) {
  const int64_t before = Counts().local_blocks;
  HLOCAL zeroed = LocalAlloc(LPTR, 4096);
  ASSERT_NE(zeroed, nullptr);
  const unsigned char* bytes = static_cast<unsigned char*>(zeroed);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(bytes[i], 0) << i;
  LocalFree(zeroed);

  // Sizes that cannot be satisfied or would overflow the size header.
  EXPECT_EQ(LocalAlloc(LMEM_FIXED, SIZE_MAX), nullptr);
  EXPECT_EQ(LocalAlloc(LMEM_FIXED, SIZE_MAX - 8), nullptr);
  EXPECT_EQ(LocalAlloc(LMEM_FIXED, SIZE_T{1} << 50), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(HeapAlloc(GetProcessHeap(), 0, SIZE_MAX), nullptr);
  EXPECT_EQ(Counts().local_blocks, before);
}

TEST(LocalMemory, ChosenAllocationFailsOnceAcrossBothAllocators) {
  const PlatformCounts before = Counts();
  PlatformFailAllocation(3);
  HLOCAL first = LocalAlloc(LMEM_FIXED, 16);
  LPVOID second = HeapAlloc(GetProcessHeap(), 0, 16);
  HLOCAL third = LocalAlloc(LMEM_FIXED, 16);
  LPVOID fourth = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 16);
  EXPECT_NE(first, nullptr);
  EXPECT_NE(second, nullptr);
  EXPECT_EQ(third, nullptr);
  EXPECT_NE(fourth, nullptr);
  EXPECT_EQ(Counts().local_blocks, before.local_blocks + 1);
  EXPECT_EQ(Counts().heap_blocks, before.heap_blocks + 2);
  LocalFree(first);
  EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, second));
  EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, fourth));

  // Switched off: nothing fails.
  PlatformFailAllocation(1);
  PlatformFailAllocation(0);
  HLOCAL block = LocalAlloc(LMEM_FIXED, 1);
  EXPECT_NE(block, nullptr);
  LocalFree(block);
  EXPECT_EQ(Counts().local_blocks, before.local_blocks);
  EXPECT_EQ(Counts().heap_blocks, before.heap_blocks);
}

}  // namespace
