#include <gtest/gtest.h>

#include "host/kit/HostKit.h"
#include "module/ModuleManagerAgent.h"
#include "module/Register.h"

namespace {

using module::GetModuleManagerAgent;

// A host module that answers with a fixed value and remembers what reached it.
class EchoModule : public hostkit::HostModule {
public:
    EchoModule() : HostModule(300, 2, u"echo") {}
    int32_t HandleMessage(int32_t message, int32_t inLength, void* inBuffer, int32_t outLength, void* outBuffer,
                          int32_t resultLength, void* resultBuffer) override {
        lastMessage = message;
        lastIn = inBuffer;
        lastInLength = inLength;
        lastOut = outBuffer;
        lastOutLength = outLength;
        lastResult = resultBuffer;
        lastResultLength = resultLength;
        return 77;
    }
    int32_t lastMessage = 0, lastInLength = 0, lastOutLength = 0, lastResultLength = 0;
    void *lastIn = nullptr, *lastOut = nullptr, *lastResult = nullptr;
};

TEST(Agent, TargetChecksComeBeforeAnyRegistryWork) {
    hostkit::HostSession host;
    int32_t result = 0;
    EXPECT_EQ(GetModuleManagerAgent().SendModuleMessage(255, 1, 1, nullptr, 0, nullptr, 0, &result, 4),
              module::kTargetIdTooLow);
    EXPECT_EQ(GetModuleManagerAgent().SendModuleMessage(256, 0, 1, nullptr, 0, nullptr, 0, &result, 4),
              module::kTargetInstanceTooLow);
    EXPECT_EQ(GetModuleManagerAgent().SendModuleMessage(256, -3, 1, nullptr, 0, nullptr, 0, &result, 4),
              module::kTargetInstanceTooLow);
}

TEST(Agent, NoManagerRegisteredFailsTheSameWayEachTime) {
    hostkit::HostSession host;
    if (GetModuleManagerAgent().ManagerModule() != nullptr) {
        GTEST_SKIP() << "needs a fresh process (ctest runs every test on its own)";
    }
    int32_t result = 5;
    const int32_t first = GetModuleManagerAgent().SendModuleMessage(266, 1, 1026, nullptr, 0, nullptr, 0, &result, 4);
    EXPECT_EQ(first, module::kKeyFailed);   // no 256\1 key
    EXPECT_EQ(GetModuleManagerAgent().SendModuleMessage(266, 1, 1026, nullptr, 0, nullptr, 0, &result, 4), first);
    EXPECT_EQ(result, 5);

    // A registered path that does not load, then a library without GetModule.
    ASSERT_TRUE(hostkit::RegisterLibraryPath(256, 1, "/no/such/manager.so"));
    EXPECT_EQ(GetModuleManagerAgent().SendModuleMessage(266, 1, 1026, nullptr, 0, nullptr, 0, &result, 4),
              module::kLibraryNotLoaded);
    ASSERT_TRUE(hostkit::RegisterLibraryPath(256, 1, FWUP_NO_EXPORT_MANAGER));
    EXPECT_EQ(GetModuleManagerAgent().SendModuleMessage(266, 1, 1026, nullptr, 0, nullptr, 0, &result, 4),
              module::kNoGetModuleExport);
    EXPECT_EQ(GetModuleManagerAgent().ManagerModule(), nullptr);
}

TEST(Agent, RoutesEveryPackagingThroughTheManager) {
    hostkit::HostSession host;
    ASSERT_TRUE(host.StartManager());
    EchoModule echo;
    ASSERT_TRUE(host.Attach(&echo));
    uint8_t in[3] = {1, 2, 3};
    uint8_t out[2] = {};
    int32_t result = 0;
    auto& agent = GetModuleManagerAgent();

    EXPECT_EQ(agent.SendModuleMessage(300, 2, 9, in, 3, out, 2, &result, 4), 77);
    EXPECT_EQ(echo.lastMessage, 9);
    EXPECT_EQ(echo.lastIn, in);
    EXPECT_EQ(echo.lastInLength, 3);
    EXPECT_EQ(echo.lastOut, out);
    EXPECT_EQ(echo.lastOutLength, 2);
    EXPECT_EQ(echo.lastResult, &result);
    EXPECT_EQ(echo.lastResultLength, 4);
    EXPECT_NE(agent.ManagerModule(), nullptr);

    EXPECT_EQ(agent.SendMessageTo(module::ModuleAddress{300, 2, 10},
                                  module::ModuleBuffers{3, in, 2, out, 4, &result}),
              77);
    EXPECT_EQ(echo.lastMessage, 10);
    EXPECT_EQ(echo.lastIn, in);
    EXPECT_EQ(echo.lastResult, &result);
    EXPECT_EQ(agent.SendMessageTo(module::ModuleIdentity{300, 2}, 11, 3, in, 2, out, 4, &result), 77);
    EXPECT_EQ(echo.lastMessage, 11);
    EXPECT_EQ(echo.lastOutLength, 2);
    EXPECT_EQ(agent.SendResultOnly(300, 2, 12, 4, &result), 77);
    EXPECT_EQ(echo.lastMessage, 12);
    EXPECT_EQ(echo.lastIn, nullptr);
    EXPECT_EQ(echo.lastInLength, 0);
    EXPECT_EQ(echo.lastOut, nullptr);
    EXPECT_EQ(echo.lastResult, &result);

    // A target the manager does not know: its own answer comes back.
    EXPECT_EQ(agent.SendModuleMessage(301, 1, 1, nullptr, 0, nullptr, 0, &result, 4), module::kUnknownMessage);
}

TEST(Agent, ManagerLeavingTheResultSlotYieldsTheTargetIdentifier) {
    hostkit::HostSession host;
    if (GetModuleManagerAgent().ManagerModule() != nullptr) {
        GTEST_SKIP() << "needs a fresh process (ctest runs every test on its own)";
    }
    ASSERT_TRUE(hostkit::RegisterLibraryPath(256, 1, FWUP_SILENT_MANAGER));
    int32_t result = 0;
    EXPECT_EQ(GetModuleManagerAgent().SendModuleMessage(266, 1, 1026, nullptr, 0, nullptr, 0, &result, 4), 266);
    EXPECT_EQ(GetModuleManagerAgent().SendModuleMessage(260, 1, 1028, nullptr, 0, nullptr, 0, &result, 4), 260);
}

}  // namespace
