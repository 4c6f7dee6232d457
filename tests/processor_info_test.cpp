#include <gtest/gtest.h>

#include "processor_info.h"
#include "support/recorders.h"

namespace {
constexpr std::uint32_t kSse2 = 1u << 26;  // leaf 1 EDX
constexpr std::uint32_t kAvx = 1u << 28;   // leaf 1 ECX
constexpr std::uint32_t kFma = 1u << 12;   // leaf 1 ECX
constexpr std::uint32_t kAvx2 = 1u << 5;   // leaf 7 EBX

ProcessorInfo Snapshot(std::uint32_t highest, std::uint32_t ecx1, std::uint32_t edx1,
                       std::uint32_t ebx7, bool os_avx = true) {
    std::vector<CpuidRecord> leaves(highest + 1);
    leaves[0].eax = highest;
    if (highest >= 1) {
        leaves[1].ecx = ecx1;
        leaves[1].edx = edx1;
    }
    if (highest >= 7) leaves[7].ebx = ebx7;
    return ProcessorInfo::FromLeaves(leaves, os_avx);
}

std::int32_t Level(const ProcessorInfo& info) { return SelectIsaLevel(info); }
}  // namespace

TEST(SelectIsaLevel, FeatureBitsChooseTheLevel) {
    EXPECT_EQ(Level(Snapshot(13, kAvx, kSse2, kAvx2)), kIsaAvxFma3);
    EXPECT_EQ(Level(Snapshot(13, kAvx, kSse2, 0)), kIsaAvx);
    EXPECT_EQ(Level(Snapshot(13, 0, kSse2, 0)), kIsaSse2);
    EXPECT_EQ(Level(Snapshot(13, 0, 0, 0)), kIsaSse2);
    // The FMA flag plays no part.
    EXPECT_EQ(Level(Snapshot(13, kAvx | kFma, kSse2, 0)), kIsaAvx);
    EXPECT_EQ(Level(Snapshot(13, kAvx, kSse2, kAvx2)),
              Level(Snapshot(13, kAvx | kFma, kSse2, kAvx2)));
}

TEST(SelectIsaLevel, ShortSnapshotsLeaveTheirWordsAtZero) {
    const ProcessorInfo leaf6 = Snapshot(6, kAvx, kSse2, 0);
    EXPECT_EQ(leaf6.leaf7_ebx, 0u);
    EXPECT_EQ(leaf6.standard_leaves.size(), 7u);
    EXPECT_EQ(Level(leaf6), kIsaAvx);
    const ProcessorInfo leaf0 = Snapshot(0, 0, 0, 0);
    EXPECT_EQ(leaf0.leaf1_ecx, 0u);
    EXPECT_EQ(leaf0.leaf1_edx, 0u);
    EXPECT_EQ(Level(leaf0), kIsaSse2);
}

TEST(SelectIsaLevel, NoAvxWithoutTheOperatingSystemsRegisterState) {
    EXPECT_EQ(Level(Snapshot(13, kAvx, kSse2, kAvx2, false)), kIsaSse2);
    EXPECT_EQ(Level(Snapshot(13, kAvx, kSse2, 0, false)), kIsaSse2);
}

TEST(SelectIsaLevel, TheCapLowersButNeverRaises) {
    const ProcessorInfo avx2 = Snapshot(13, kAvx, kSse2, kAvx2);
    const ProcessorInfo sse2 = Snapshot(13, 0, kSse2, 0);
    EXPECT_EQ(SelectIsaLevel(avx2, kIsaAvx), kIsaAvx);
    EXPECT_EQ(SelectIsaLevel(avx2, kIsaSse2), kIsaSse2);
    EXPECT_EQ(SelectIsaLevel(sse2, kIsaAvxFma3), kIsaSse2);
    EXPECT_EQ(Level(sse2), kIsaSse2);
    EXPECT_EQ(Level(avx2), kIsaAvxFma3);
}

TEST(ProcessorInfo, TheSnapshotOfThisProcessorIsConsistent) {
    const ProcessorInfo& info = TheProcessorInfo();
    ASSERT_GE(info.highest_standard_leaf, 1);
    EXPECT_EQ(info.standard_leaves.size(),
              static_cast<std::size_t>(info.highest_standard_leaf) + 1);
    EXPECT_EQ(info.leaf1_edx, info.standard_leaves[1].edx);
    EXPECT_NE(info.leaf1_edx & kSse2, 0u);  // every x86-64 has SSE2
    EXPECT_EQ(std::string(IsaLevelName(kIsaSse2)), "SSE2");
    EXPECT_EQ(std::string(IsaLevelName(kIsaAvx)), "AVX");
    EXPECT_EQ(std::string(IsaLevelName(kIsaAvxFma3)), "AVX+FMA3");
}
