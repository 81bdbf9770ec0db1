// The module object linked into the test: its identity, the message table,
// the buffer rules and the progress report.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "host/kit/HostKit.h"
#include "module/Application.h"
#include "module/UpgradeModuleObject.h"
#include "packet/CardIdentity.h"

namespace {

using module::CHolModuleInterface;

class ModuleObject : public ::testing::Test {
protected:
    void SetUp() override {
        host_.UseLinkedModule(&GetModule);
        module_ = host_.Module();
        ASSERT_NE(module_, nullptr);
    }
    hostkit::HostSession host_;
    CHolModuleInterface* module_ = nullptr;
};

TEST_F(ModuleObject, OneObjectWithItsIdentity) {
    EXPECT_EQ(GetModule(), module_);
    EXPECT_EQ(module_->GetModuleId(), 268);
    EXPECT_EQ(module_->GetModuleInstance(), 80);
    EXPECT_EQ(module_->GetModuleName().Text(), u"CDMADataCardW326 FWUpgrade Module");
    const module::ModuleVersion* version = module_->GetModuleVersion();
    EXPECT_EQ(version->major, 0);
    EXPECT_EQ(version->minor, 0);
    EXPECT_EQ(version->build, 1);
    EXPECT_EQ(version->revision, 0);
    EXPECT_EQ(module_->GetModuleVersion(), version);   // the module's own copy
}

TEST_F(ModuleObject, UpgradeRequestOfTheWrongLengthRunsNothing) {
    ASSERT_TRUE(host_.StartManager());
    std::vector<uint8_t> request(hostkit::UpgradeRequestSize() + 1);
    hostkit::BuildUpgradeRequest(request.data(), 3, nullptr, 0);
    int32_t output = 0x11111111;
    int32_t result = 0x22222222;
    for (const size_t length : {size_t{47}, size_t{49}, request.size() - 2, request.size()}) {
        EXPECT_EQ(module_->HandleMessage(1025, static_cast<int32_t>(length), request.data(), 4, &output, 4, &result),
                  -1)
            << length;
    }
    EXPECT_EQ(output, 0x11111111);
    EXPECT_EQ(result, 0x22222222);
    EXPECT_TRUE(host_.Log().Records().empty());   // not a single step traced
}

TEST_F(ModuleObject, NullFolderIsTheEmptyFolderAndIsRejected) {
    ASSERT_TRUE(host_.StartManager());
    const hostkit::UpgradeAnswer answer = host_.RunUpgrade(3, u"");
    EXPECT_EQ(answer.handled, 0);
    EXPECT_EQ(answer.result, -13313);
    EXPECT_FALSE(host_.Log().Records().empty());
}

TEST_F(ModuleObject, ResultIsStoredWithAtMostItsFourBytes) {
    std::vector<uint8_t> request(hostkit::UpgradeRequestSize());
    hostkit::BuildUpgradeRequest(request.data(), 3, nullptr, 0);
    uint8_t result[8];
    std::memset(result, 0xEE, sizeof result);
    uint8_t output[2] = {0xEE, 0xEE};
    ASSERT_EQ(module_->HandleMessage(1025, static_cast<int32_t>(request.size()), request.data(), 2, output, 8,
                                     result),
              0);
    int32_t code;
    std::memcpy(&code, result, 4);
    EXPECT_EQ(code, -13313);
    for (size_t i = 4; i < sizeof result; ++i) {
        EXPECT_EQ(result[i], 0xEE) << "byte " << i << " written beyond the result code";
    }
    // A null buffer with a non-zero length is refused before anything runs.
    EXPECT_EQ(module_->HandleMessage(1025, static_cast<int32_t>(request.size()), request.data(), 4, nullptr, 4,
                                     result),
              -1);
    EXPECT_EQ(module_->HandleMessage(1025, static_cast<int32_t>(request.size()), request.data(), 0, nullptr, 4,
                                     nullptr),
              -1);
    EXPECT_EQ(module_->HandleMessage(1025, static_cast<int32_t>(request.size()), nullptr, 0, nullptr, 0, nullptr),
              -1);
}

// The card's identities as fwupgrade and the virtual card know them: the
// module upgrades the card in its firmware only, so a host that asks about
// the card in its boot downloader or flash programmer is told no.
TEST_F(ModuleObject, AnswersForTheCardInItsFirmwareOnly) {
    const auto ask = [this](packet::UsbIdentity card) {
        const uint8_t bytes[4] = {static_cast<uint8_t>(card.vendor >> 8), static_cast<uint8_t>(card.vendor),
                                  static_cast<uint8_t>(card.product >> 8), static_cast<uint8_t>(card.product)};
        uint32_t identity;
        std::memcpy(&identity, bytes, 4);
        uint8_t answer = 0;
        uint8_t result = 0xAA;
        EXPECT_EQ(host_.QueryIdentity(identity, answer, result), 0);
        return answer == 1;
    };
    EXPECT_TRUE(ask(packet::kCardFirmwareIdentity));
    EXPECT_FALSE(ask(packet::kCardBootDownloaderIdentity));
    EXPECT_FALSE(ask(packet::kCardProgrammerIdentity));
    EXPECT_FALSE(ask({packet::kCardVendor, 0x0099}));
}

TEST_F(ModuleObject, IdentityQuery) {
    // Vendor 0x2E1A then product 0x0081, each most significant byte first.
    const uint8_t supported[4] = {0x2E, 0x1A, 0x00, 0x81};
    uint32_t identity;
    std::memcpy(&identity, supported, 4);
    uint8_t answer = 0;
    uint8_t result = 0xAA;
    EXPECT_EQ(host_.QueryIdentity(identity, answer, result), 0);
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(result, 0);

    // Another identity leaves the answer as the caller passed it; the same
    // numbers in the other byte order are another identity.
    const uint8_t swapped[4] = {0x81, 0x00, 0x1A, 0x2E};
    uint32_t other;
    std::memcpy(&other, swapped, 4);
    for (const uint32_t candidate : {other, uint32_t{0}, uint32_t{0x2E1A0080}}) {
        for (const uint8_t start : {uint8_t{0}, uint8_t{7}}) {
            answer = start;
            EXPECT_EQ(host_.QueryIdentity(candidate, answer, result), 0);
            EXPECT_EQ(answer, start);
        }
    }
    // Wrong in-length, no answer byte, null buffers.
    uint8_t bigResult[4] = {9, 9, 9, 9};
    EXPECT_EQ(module_->HandleMessage(1026, 3, &identity, 1, &answer, 1, &result), -1);
    EXPECT_EQ(module_->HandleMessage(1026, 4, &identity, 0, &answer, 1, &result), -1);
    EXPECT_EQ(module_->HandleMessage(1026, 4, &identity, 1, nullptr, 1, &result), -1);
    EXPECT_EQ(module_->HandleMessage(1026, 4, nullptr, 1, &answer, 1, &result), -1);
    // A longer result buffer receives only the one result byte.
    answer = 0;
    EXPECT_EQ(module_->HandleMessage(1026, 4, &identity, 1, &answer, 4, bigResult), 0);
    EXPECT_EQ(bigResult[0], 0);
    EXPECT_EQ(bigResult[1], 9);
    EXPECT_EQ(answer, 1);
}

TEST_F(ModuleObject, GenericMessages) {
    int32_t value = 1234;
    int32_t result = 0;
    EXPECT_EQ(host_.Send(2, 0, nullptr, 4, &value, 4, &result), 0);
    EXPECT_EQ(result, -12289);
    EXPECT_EQ(value, 1234);
    EXPECT_EQ(host_.Send(1, 0, nullptr, 0, nullptr, 4, &result), 0);
    EXPECT_EQ(result, -12289);
    result = 0;
    EXPECT_EQ(host_.Send(3, 0, nullptr, 0, nullptr, 4, &result), 0);
    EXPECT_EQ(result, -12289);

    EXPECT_EQ(host_.Send(7, 0, nullptr, 0, nullptr, 4, &result), -2);
    EXPECT_EQ(host_.Send(1, 0, nullptr, 0, nullptr, 8, &result), -1);
    EXPECT_EQ(host_.Send(2, 0, nullptr, 2, &value, 4, &result), -1);
    EXPECT_EQ(host_.Send(2, 0, nullptr, 4, &value, 3, &result), -1);
    EXPECT_EQ(host_.Send(3, 0, nullptr, 0, nullptr, 4, nullptr), -1);
    EXPECT_EQ(host_.Send(2, 0, nullptr, 4, nullptr, 4, &result), -1);
}

// The generic messages look only at the buffers they use; a message outside
// the table is unknown whatever lengths and buffers come with it.
TEST_F(ModuleObject, GenericMessagesIgnoreBuffersTheyDoNotUse) {
    int32_t result = 0;
    int32_t value = 77;
    EXPECT_EQ(host_.Send(1, 48, nullptr, -1, nullptr, 4, &result), 0);
    EXPECT_EQ(result, -12289);
    result = 0;
    EXPECT_EQ(host_.Send(3, -5, nullptr, 12, nullptr, 4, &result), 0);
    EXPECT_EQ(result, -12289);
    result = 0;
    EXPECT_EQ(host_.Send(2, 16, nullptr, 4, &value, 4, &result), 0);
    EXPECT_EQ(result, -12289);
    EXPECT_EQ(value, 77);

    result = 5;
    EXPECT_EQ(host_.Send(7, 4, nullptr, 4, nullptr, 4, nullptr), -2);
    EXPECT_EQ(host_.Send(1027, -1, nullptr, -1, nullptr, -1, &result), -2);
    EXPECT_EQ(result, 5);
}

TEST_F(ModuleObject, RegisterAndUnregisterThroughTheModule) {
    ASSERT_EQ(module_->RegisterModule(), 0);
    const std::string key = hostkit::HostSession::RegistryRoot() + "/Software/vek/vek Quillane/268/80";
    EXPECT_TRUE(platform::PathExists(platform::Utf8ToWide(key + "/Path")));
    EXPECT_TRUE(platform::PathExists(platform::Utf8ToWide(key + "/Version")));
    ASSERT_EQ(module_->UnregisterModule(), 0);
    EXPECT_FALSE(platform::PathExists(
        platform::Utf8ToWide(hostkit::HostSession::RegistryRoot() + "/Software/vek/vek Quillane/268")));
}

TEST_F(ModuleObject, ProgressGoesToTheDisplayModule) {
    auto* upgrade = static_cast<module::CFWUpgradeDataCDMA7627Module*>(module_);
    EXPECT_FALSE(upgrade->ShowRatio(5));   // no manager yet: fails quietly
    ASSERT_TRUE(host_.StartManager());
    EXPECT_TRUE(upgrade->ShowRatio(42));
    host_.Display().SetAnswer(3);
    EXPECT_FALSE(upgrade->ShowRatio(43));
    const auto reports = host_.Display().Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].first, 3);
    EXPECT_EQ(reports[0].second, 4);
    EXPECT_EQ(reports[0].percent, 42);
    EXPECT_EQ(reports[1].percent, 43);
    // The upgrade operations report through the same path.
    upgrade->Upgrade().Reporter().ShowRatio(60);
    EXPECT_EQ(host_.Display().Percentages().back(), 60);
}

}  // namespace

namespace {

// Table entry of a virtual member function: under the Itanium ABI a pointer
// to a virtual member holds one plus the entry's byte offset.
template <typename Member>
long SlotOf(Member member) {
    struct Representation {
        uintptr_t pointer;
        ptrdiff_t adjustment;
    };
    static_assert(sizeof(Member) == sizeof(Representation));
    Representation representation{};
    std::memcpy(&representation, &member, sizeof representation);
    if ((representation.pointer & 1) == 0) return -1;
    return static_cast<long>((representation.pointer - 1) / sizeof(void*));
}

}  // namespace

TEST(ModuleSlots, EveryOperationSitsInTheSlotAHostCallsByPosition) {
    using module::FWUpgrade;
    EXPECT_EQ(SlotOf(&CHolModuleInterface::GetModuleId), 0);
    EXPECT_EQ(SlotOf(&CHolModuleInterface::GetModuleInstance), 1);
    EXPECT_EQ(SlotOf(&CHolModuleInterface::GetModuleName), 2);
    EXPECT_EQ(SlotOf(&CHolModuleInterface::GetModuleVersion), 3);
    EXPECT_EQ(SlotOf(&CHolModuleInterface::RegisterModule), 4);
    EXPECT_EQ(SlotOf(&CHolModuleInterface::UnregisterModule), 5);
    EXPECT_EQ(SlotOf(&CHolModuleInterface::HandleMessage), 6);
    EXPECT_EQ(SlotOf(&CHolModuleInterface::DeleteThis), 7);
    EXPECT_EQ(SlotOf(&CHolModuleInterface::OnMessage1), 8);
    EXPECT_EQ(SlotOf(&CHolModuleInterface::OnMessage2), 9);
    EXPECT_EQ(SlotOf(&CHolModuleInterface::OnMessage3), 10);
    EXPECT_EQ(SlotOf(&FWUpgrade::CheckPidVid), 11);
    EXPECT_EQ(SlotOf(&FWUpgrade::FirmWareUpgrade), 12);
}

TEST(ModuleSlots, DeleteThisWithoutTheFreeFlagOnlyDestroys) {
    // A host module built in place: slot 7 with flags 0 runs the destructor
    // and leaves the memory to its owner.
    alignas(hostkit::RecordingLogModule) unsigned char storage[sizeof(hostkit::RecordingLogModule)];
    auto* log = new (storage) hostkit::RecordingLogModule();
    EXPECT_EQ(log->DeleteThis(0), static_cast<void*>(storage));
    auto* heap = new hostkit::RecordingDisplayModule();
    EXPECT_EQ(heap->DeleteThis(1), static_cast<void*>(heap));   // freed: ASan reports a leak otherwise
}
