// The built plug-in loaded with dlopen, as the host loads it.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <regex>

#include "host/kit/HostKit.h"
#include "platform/Platform.h"

namespace {

class Plugin : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host_.StartManager());
        ASSERT_TRUE(host_.LoadPlugin()) << hostkit::DefaultPluginPath();
    }
    hostkit::HostSession host_;
};

TEST_F(Plugin, GetModuleReturnsOneObject) {
    auto getModule = reinterpret_cast<hostkit::GetModuleFunction>(::dlsym(host_.PluginLibrary(), "GetModule"));
    ASSERT_NE(getModule, nullptr);
    EXPECT_EQ(getModule(), host_.Module());
    EXPECT_EQ(getModule(), getModule());
    EXPECT_EQ(host_.Module()->GetModuleId(), 268);
    EXPECT_EQ(host_.Module()->GetModuleName().Text(), u"CDMADataCardW326 FWUpgrade Module");
    // Nothing else of the library is visible to the host.
    EXPECT_EQ(::dlsym(host_.PluginLibrary(), "_ZN6module14GetModuleObjectEv"), nullptr);
}

TEST_F(Plugin, MessagesAsTheHostSendsThem) {
    std::vector<uint8_t> request(hostkit::UpgradeRequestSize() + 1);
    int32_t output = 0;
    int32_t result = 0;
    EXPECT_EQ(host_.Send(1025, 47, request.data(), 4, &output, 4, &result), -1);
    EXPECT_EQ(host_.Send(1025, 49, request.data(), 4, &output, 4, &result), -1);

    const uint8_t supported[4] = {0x2E, 0x1A, 0x00, 0x81};
    uint32_t identity;
    std::memcpy(&identity, supported, 4);
    uint8_t answer = 0;
    uint8_t resultByte = 0x55;
    EXPECT_EQ(host_.QueryIdentity(identity, answer, resultByte), 0);
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(resultByte, 0);

    int32_t value = 99;
    EXPECT_EQ(host_.Send(2, 0, nullptr, 4, &value, 4, &result), 0);
    EXPECT_EQ(result, -12289);
    EXPECT_EQ(value, 99);
    EXPECT_EQ(host_.Send(7, 0, nullptr, 0, nullptr, 4, &result), -2);
}

TEST_F(Plugin, RejectedPackageIsTracedToTheHostLog) {
    const hostkit::UpgradeAnswer answer = host_.RunUpgrade(4, u"/nonexistent/package/folder");
    EXPECT_EQ(answer.handled, 0);
    EXPECT_EQ(answer.result, -13313);
    const auto records = host_.Log().Records();
    ASSERT_FALSE(records.empty());
    const std::regex timeShape("[0-2][0-9]:[0-5][0-9]:[0-6][0-9] 2[0-9]{3}-[01][0-9]-[0-3][0-9]");
    for (const hostkit::DecodedLogRecord& record : records) {
        EXPECT_EQ(record.kind, 61);
        EXPECT_TRUE(record.unusedBytesZero);
        EXPECT_EQ(record.threadId, platform::CurrentThreadId());   // the host's calling thread
        EXPECT_EQ(record.file.find(u'\\'), std::u16string::npos);
        EXPECT_FALSE(record.function.empty());
        EXPECT_GE(record.line, 0);
        EXPECT_EQ(static_cast<size_t>(record.messageLength), record.message.size());
        const std::string time = platform::WideToUtf8(record.time);
        EXPECT_TRUE(std::regex_match(time, timeShape)) << time;
    }
}

TEST_F(Plugin, RegistrationWritesTheLibrarysOwnPath) {
    ASSERT_EQ(host_.Module()->RegisterModule(), 0);
    platform::RegistryKey key = platform::RegOpenKey(nullptr, u"Software\\vek\\vek Quillane\\268\\80");
    ASSERT_NE(key, nullptr);
    char16_t path[512] = {};
    uint32_t bytes = sizeof path - 2;
    ASSERT_TRUE(platform::RegQueryString(key, u"Path", path, bytes));
    platform::RegCloseKey(key);
    // The load-time initialisation stored the plug-in's own handle.
    EXPECT_EQ(platform::WideToUtf8(std::u16string(path, bytes / 2)), hostkit::DefaultPluginPath());
    EXPECT_EQ(host_.Module()->UnregisterModule(), 0);
}

}  // namespace
