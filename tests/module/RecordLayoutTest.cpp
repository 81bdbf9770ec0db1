// The in-process records the host reads or writes, checked against offsets
// written out here (32-bit figures, or the pointer-wide 64-bit ones).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/kit/HostKit.h"
#include "module/ModuleRoute.h"
#include "module/UpgradeRequest.h"

namespace {

constexpr size_t kPointer = sizeof(void*);
constexpr bool kNarrowPointers = kPointer == 4;

template <typename T>
T ReadAt(const uint8_t* bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}

TEST(RecordLayout, ModuleRouteFieldsSitAtTheirOffsets) {
    int32_t in = 0, out = 0, result = 0;
    module::ModuleRoute route;
    route.targetId = 266;
    route.targetInstance = 1;
    route.message = 1026;
    route.inLength = 1136;
    route.inBuffer = &in;
    route.outLength = 0;
    route.outBuffer = &out;
    route.resultLength = 4;
    route.resultBuffer = &result;
    std::vector<uint8_t> bytes(module::kModuleRouteSize + 8, 0xEE);
    module::EncodeModuleRoute(route, bytes.data());

    EXPECT_EQ(module::kModuleRouteSize, kNarrowPointers ? 36u : 56u);
    const size_t offsets[9] = {0, 4, 8, 12, 16, kNarrowPointers ? 20u : 24u, kNarrowPointers ? 24u : 32u,
                               kNarrowPointers ? 28u : 40u, kNarrowPointers ? 32u : 48u};
    EXPECT_EQ(ReadAt<int32_t>(bytes.data(), offsets[0]), 266);
    EXPECT_EQ(ReadAt<int32_t>(bytes.data(), offsets[1]), 1);
    EXPECT_EQ(ReadAt<int32_t>(bytes.data(), offsets[2]), 1026);
    EXPECT_EQ(ReadAt<int32_t>(bytes.data(), offsets[3]), 1136);
    EXPECT_EQ(ReadAt<void*>(bytes.data(), offsets[4]), &in);
    EXPECT_EQ(ReadAt<int32_t>(bytes.data(), offsets[5]), 0);
    EXPECT_EQ(ReadAt<void*>(bytes.data(), offsets[6]), &out);
    EXPECT_EQ(ReadAt<int32_t>(bytes.data(), offsets[7]), 4);
    EXPECT_EQ(ReadAt<void*>(bytes.data(), offsets[8]), &result);
    EXPECT_EQ(bytes[module::kModuleRouteSize], 0xEE);   // nothing written past the record

    const module::ModuleRoute back = module::DecodeModuleRoute(bytes.data());
    EXPECT_EQ(back.targetId, 266);
    EXPECT_EQ(back.message, 1026);
    EXPECT_EQ(back.inBuffer, &in);
    EXPECT_EQ(back.resultBuffer, &result);
    EXPECT_EQ(back.resultLength, 4);
}

TEST(RecordLayout, UpgradeRequestIsCopiedFieldByFieldWithDeepStrings) {
    std::vector<uint8_t> bytes(hostkit::UpgradeRequestSize());
    EXPECT_EQ(bytes.size(), kNarrowPointers ? 48u : 80u);
    std::u16string folder = u"/data/package";
    hostkit::BuildUpgradeRequest(bytes.data(), 12, folder.c_str(), static_cast<int32_t>(folder.size()));
    // The second string, written the way a host lays it out.
    const size_t second = kNarrowPointers ? 32 : 48;
    const char16_t* other = u"unused";
    const int32_t otherLength = 6;
    std::memcpy(bytes.data() + second + kPointer, &other, kPointer);
    std::memcpy(bytes.data() + second + 2 * kPointer, &otherLength, 4);
    const int32_t first = 0x01020304;
    std::memcpy(bytes.data(), &first, 4);

    const module::UpgradeRequest request = module::CopyUpgradeRequest(bytes.data());
    EXPECT_EQ(request.field0, 0x01020304);
    EXPECT_EQ(request.port, 12);
    EXPECT_EQ(request.packageFolder.Text(), u"/data/package");
    EXPECT_NE(request.packageFolder.wide, folder.c_str());   // a copy, not the host's buffer
    EXPECT_EQ(request.text6.Text(), u"unused");
    folder[1] = u'X';   // the host may change its text afterwards
    EXPECT_EQ(request.packageFolder.Text(), u"/data/package");
}

TEST(RecordLayout, HostStringsWithoutTextAreEmpty) {
    std::vector<uint8_t> bytes(hostkit::UpgradeRequestSize());
    hostkit::BuildUpgradeRequest(bytes.data(), 1, nullptr, 25);   // null text, non-zero length
    EXPECT_TRUE(module::CopyUpgradeRequest(bytes.data()).packageFolder.Empty());
    const char16_t* text = u"abc";
    hostkit::BuildUpgradeRequest(bytes.data(), 1, text, -4);      // negative length
    EXPECT_TRUE(module::CopyUpgradeRequest(bytes.data()).packageFolder.Empty());
    hostkit::BuildUpgradeRequest(bytes.data(), 1, text, 2);       // a length shorter than the text
    EXPECT_EQ(module::CopyUpgradeRequest(bytes.data()).packageFolder.Text(), u"ab");
}

}  // namespace
