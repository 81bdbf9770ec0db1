// The host calls the module by virtual-table slot with the member-call
// convention of Windows (32-bit: thiscall, object in ECX, arguments on the
// stack, callee pops; 64-bit: the one x64 convention, object in RCX). These
// tests read the slot of every operation and call the plug-in's object
// through raw slots, as a host does.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "module/UpgradeModuleObject.h"
#include "platform/win32/WinApi.h"
#include "tests/windows/Harness.h"
#include "tests/windows/WinTestSupport.h"

namespace {

using module::CHolModuleInterface;
using module::FWUpgrade;

// Slot of a virtual member function: a pointer to a virtual member holds
// one plus the byte offset of its table entry.
template <typename Member>
int SlotOf(Member member) {
    struct Representation {
        uintptr_t pointer;
        ptrdiff_t adjustment;
    };
    static_assert(sizeof(Member) == sizeof(Representation));
    Representation representation{};
    std::memcpy(&representation, &member, sizeof representation);
    if ((representation.pointer & 1) == 0) return -1;
    return static_cast<int>((representation.pointer - 1) / sizeof(void*));
}

// A member function of an unrelated class has the same calling convention as
// the module's operations, so a table entry is called through a
// pointer to such a member built from the entry's address.
struct AnyObject {};
using SlotNoArgs = int32_t (AnyObject::*)();
using SlotHandleMessage = int32_t (AnyObject::*)(int32_t, int32_t, void*, int32_t, void*, int32_t, void*);
using SlotCheckPidVid = int32_t (AnyObject::*)(uint32_t, uint8_t*);

template <typename Member>
Member Slot(void* object, int index) {
    void** table = *static_cast<void***>(object);
    struct Representation {
        void* pointer;
        ptrdiff_t adjustment;
    };
    static_assert(sizeof(Member) == sizeof(Representation));
    const Representation representation{table[index], 0};
    Member member;
    std::memcpy(&member, &representation, sizeof member);
    return member;
}

AnyObject* AsAny(void* object) { return static_cast<AnyObject*>(object); }

}  // namespace

TEST(Slots_HostFacingOperationsKeepTheirOrder) {
    CHECK_EQ(SlotOf(&CHolModuleInterface::GetModuleId), 0);
    CHECK_EQ(SlotOf(&CHolModuleInterface::GetModuleInstance), 1);
    CHECK_EQ(SlotOf(&CHolModuleInterface::GetModuleName), 2);
    CHECK_EQ(SlotOf(&CHolModuleInterface::GetModuleVersion), 3);
    CHECK_EQ(SlotOf(&CHolModuleInterface::RegisterModule), 4);
    CHECK_EQ(SlotOf(&CHolModuleInterface::UnregisterModule), 5);
    CHECK_EQ(SlotOf(&CHolModuleInterface::HandleMessage), 6);
    CHECK_EQ(SlotOf(&CHolModuleInterface::DeleteThis), 7);
    CHECK_EQ(SlotOf(&CHolModuleInterface::OnMessage1), 8);
    CHECK_EQ(SlotOf(&CHolModuleInterface::OnMessage2), 9);
    CHECK_EQ(SlotOf(&CHolModuleInterface::OnMessage3), 10);
    CHECK_EQ(SlotOf(&FWUpgrade::CheckPidVid), 11);
    CHECK_EQ(SlotOf(&FWUpgrade::FirmWareUpgrade), 12);
}

TEST(Slots_RawThiscallCallsReachTheModule) {
    CHolModuleInterface* module = wintest::PluginModule();
    REQUIRE(module != nullptr);
    CHECK_EQ((AsAny(module)->*Slot<SlotNoArgs>(module, 0))(), int32_t{268});
    CHECK_EQ((AsAny(module)->*Slot<SlotNoArgs>(module, 1))(), int32_t{80});

    const SlotHandleMessage handle = Slot<SlotHandleMessage>(module, 6);
    AnyObject* object = AsAny(module);
    int32_t result = 0;
    CHECK_EQ((object->*handle)(7, 0, nullptr, 0, nullptr, 4, &result), int32_t{-2});
    CHECK_EQ((object->*handle)(1, 0, nullptr, 0, nullptr, 4, &result), int32_t{0});
    CHECK_EQ(result, int32_t{-12289});
    const uint8_t identity[4] = {0x2E, 0x1A, 0x00, 0x81};
    uint8_t answer = 0;
    uint8_t answerResult = 0xAA;
    CHECK_EQ((object->*handle)(1026, 4, const_cast<uint8_t*>(identity), 1, &answer, 1, &answerResult), int32_t{0});
    CHECK_EQ(answer, uint8_t{1});

    // The generic operations and the identity check at the slots this build gives them.
    const int first = SlotOf(&CHolModuleInterface::OnMessage1);
    REQUIRE(first == 8);
    CHECK_EQ((object->*Slot<SlotNoArgs>(module, first))(), int32_t{-12289});
    CHECK_EQ((object->*Slot<SlotNoArgs>(module, first + 2))(), int32_t{-12289});
    uint32_t packed = 0;
    std::memcpy(&packed, identity, 4);
    answer = 0;
    CHECK_EQ((object->*Slot<SlotCheckPidVid>(module, first + 3))(packed, &answer), int32_t{0});
    CHECK_EQ(answer, uint8_t{1});
}
