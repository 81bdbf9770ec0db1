#include <gtest/gtest.h>

#include <cstring>

#include "host/fwupgrade/plugin/HostModules.h"
#include "module/LogRecord.h"

namespace fwupgrade {
namespace {

TEST(HostModules, TheLogModuleTurnsARecordIntoATraceEntry) {
    std::vector<TraceEntry> received;
    LogModule log([&](const TraceEntry& entry) { received.push_back(entry); });
    EXPECT_EQ(log.GetModuleId(), 266);
    EXPECT_EQ(log.GetModuleInstance(), 1);

    module::LogRecordBytes record{};
    module::BuildLogRecord(record, platform::LocalTime{2027, 1, 3, 9, 7, 5}, u"..\\packet\\Serial", 42,
                           u"CSerial::Open", 77, u"Current Port is 3.......");
    int32_t result = -5;
    EXPECT_EQ(log.HandleMessage(1026, static_cast<int32_t>(module::kLogRecordSize), record.bytes, 0, nullptr, 4, &result),
              0);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(FormatTraceLine(received[0]), "09:07:05 2027-01-03 [77] Serial:42 CSerial::Open: Current Port is 3.......");

    // Another length or message is refused and reaches nobody.
    EXPECT_EQ(log.HandleMessage(1026, 100, record.bytes, 0, nullptr, 4, &result), -1);
    EXPECT_EQ(log.HandleMessage(1026, static_cast<int32_t>(module::kLogRecordSize), nullptr, 0, nullptr, 4, &result), -1);
    EXPECT_EQ(log.HandleMessage(1028, static_cast<int32_t>(module::kLogRecordSize), record.bytes, 0, nullptr, 4, &result),
              -2);
    EXPECT_EQ(received.size(), 1u);
    module::ReleaseLogRecord(record);
}

TEST(HostModules, TheDisplayModulePassesThePercentageOn) {
    std::vector<int> received;
    DisplayModule display([&](int percent) { received.push_back(percent); });
    EXPECT_EQ(display.GetModuleId(), 260);
    int32_t values[3] = {3, 4, 55};
    uint8_t result[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(display.HandleMessage(1028, 12, values, 0, nullptr, 4, result), 0);
    EXPECT_EQ(received, std::vector<int>{55});
    EXPECT_EQ(std::memcmp(result, "\0\0\0\0", 4), 0);
    // A short result buffer gets no more bytes than it has.
    uint8_t small[2] = {0xAA, 0xAA};
    EXPECT_EQ(display.HandleMessage(1028, 12, values, 0, nullptr, 1, small), 0);
    EXPECT_EQ(small[0], 0);
    EXPECT_EQ(small[1], 0xAA);
    EXPECT_EQ(display.HandleMessage(1028, 8, values, 0, nullptr, 4, result), -1);
    EXPECT_EQ(display.HandleMessage(1026, 12, values, 0, nullptr, 4, result), -2);
    EXPECT_EQ(received.size(), 2u);
}

}  // namespace
}  // namespace fwupgrade
