// The answer decoders and the byte-order helpers on byte vectors: each field
// comes from its offset in its byte order, and a field past the end of the
// answer reads as 0.
#include "packet/AnswerDecoders.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "packet/ByteOrder.h"

namespace packet_test {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace packet;

TEST(ByteOrder, FieldsKeepTheirByteOrderBothWays) {
    uint8_t b[4] = {};
    bytes::StoreLe32(b, 0x11223344);
    EXPECT_EQ(Bytes(b, b + 4), (Bytes{0x44, 0x33, 0x22, 0x11}));
    EXPECT_EQ(bytes::LoadLe32(b), 0x11223344u);
    EXPECT_EQ(bytes::LoadBe32(b), 0x44332211u);
    bytes::StoreBe32(b, 0x11223344);
    EXPECT_EQ(Bytes(b, b + 4), (Bytes{0x11, 0x22, 0x33, 0x44}));
    bytes::StoreLe16(b, 0xA1B2);
    EXPECT_EQ(bytes::LoadLe16(b), 0xA1B2);
    EXPECT_EQ(bytes::LoadBe16(b), 0xB2A1);
    bytes::StoreBe16(b, 0xA1B2);
    EXPECT_EQ((Bytes{b[0], b[1]}), (Bytes{0xA1, 0xB2}));

    Bytes appended;
    bytes::AppendLe16(appended, 0x0102);
    bytes::AppendBe16(appended, 0x0304);
    bytes::AppendLe32(appended, 0x05060708);
    bytes::AppendBe32(appended, 0x090A0B0C);
    EXPECT_EQ(appended, (Bytes{0x02, 0x01, 0x03, 0x04, 0x08, 0x07, 0x06, 0x05, 0x09, 0x0A, 0x0B, 0x0C}));
    EXPECT_EQ(bytes::ReadLe16(appended, 0), 0x0102);
    EXPECT_EQ(bytes::ReadBe16(appended, 2), 0x0304);
    EXPECT_EQ(bytes::ReadLe32(appended, 4), 0x05060708u);
    EXPECT_EQ(bytes::ReadBe32(appended, 8), 0x090A0B0Cu);
}

TEST(ByteOrder, BytesPastTheEndReadAsZero) {
    const Bytes b = {0x11, 0x22, 0x33};
    EXPECT_EQ(bytes::ReadLe32(b, 0), 0x00332211u);
    EXPECT_EQ(bytes::ReadBe32(b, 1), 0x22330000u);
    EXPECT_EQ(bytes::ReadLe16(b, 2), 0x0033);
    EXPECT_EQ(bytes::ReadBe16(b, 3), 0);
    EXPECT_EQ(bytes::ReadU8(b, 100), 0);
}

TEST(DiagAnswers, EsnAndNvFieldsComeFromTheirOffsets) {
    EXPECT_EQ(answer::Esn(Bytes{0x01, 0x78, 0x56, 0x34, 0x12}), 0x12345678u);
    EXPECT_EQ(answer::Esn(Bytes{0x01, 0x78}), 0x78u) << "an answer cut short gives zeros, never stray bytes";

    Bytes nv(answer::kNvStatusAt + 2, 0xEE);
    nv[0] = 0x26;
    nv[1] = 0xC5;
    nv[2] = 0x01;
    nv[answer::kNvStatusAt] = 0x05;
    nv[answer::kNvStatusAt + 1] = 0x00;
    EXPECT_EQ(answer::NvItem(nv), 453);
    EXPECT_EQ(answer::NvStatus(nv), 5);
    nv.resize(answer::kNvStatusAt);
    EXPECT_EQ(answer::NvStatus(nv), 0);
}

TEST(DownloadAnswers, NakReasonIsBigEndianAndParametersAreRangeChecked) {
    EXPECT_EQ(answer::NakReason(Bytes{0x03, 0x00, 0x06}), 6);
    EXPECT_EQ(answer::NakReason(Bytes{0x03, 0x01, 0x00}), 0x100);

    const ParamRecord p = answer::Params(Bytes{0x08, 0x05, 0x02, 0x00, 0x04, 0x00, 0x00, 0x33, 0x04, 0x07});
    EXPECT_EQ(p.responseCode, 0x08);
    EXPECT_EQ(p.protocolVersion, 5);
    EXPECT_EQ(p.minimumVersion, 2);
    EXPECT_EQ(p.maximumWriteSize, 0x400u);
    EXPECT_EQ(p.model, 0x33);
    EXPECT_EQ(p.flashSizeCode, 4);
    EXPECT_EQ(p.flashSizeBytes, 0x200000u);
    EXPECT_EQ(p.deviceType, 7);
    EXPECT_STREQ(p.modelName, "Unknown");

    const ParamRecord out = answer::Params(Bytes{0x08, 0x05, 0x02, 0, 0, 0, 0, 0, 7, 35});
    EXPECT_EQ(out.flashSizeCodeReceived, 7);
    EXPECT_EQ(out.flashSizeCode, 0);
    EXPECT_EQ(out.flashSizeBytes, 0u);
    EXPECT_EQ(out.deviceType, 0);
}

TEST(StreamingAnswers, AddressAndReasonAreLittleEndianAfterTheCode) {
    EXPECT_EQ(answer::BlockWrittenAddress(Bytes{0x08, 0x00, 0x10, 0x02, 0x00}), 0x21000u);
    EXPECT_EQ(answer::StreamErrorReason(Bytes{0x0D, 0x0F, 0x00, 0x00, 0x00}), 15u);
}

TEST(EfsAnswers, EachAnswerGivesItsFields) {
    // header 4B 13 <command>, then little-endian fields of four bytes
    const Bytes words = {0x4B, 0x13, 0x0C, 0x00, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0,
                         4,    0,    0,    0,    5, 0, 0, 0};
    EXPECT_EQ(answer::EfsCommand(words), 0x000C);
    EXPECT_EQ(answer::EfsHandle(words).handle, 1u);
    EXPECT_EQ(answer::EfsHandle(words).error, 2u);
    EXPECT_EQ(answer::EfsStatus(words).error, 1u);
    EXPECT_EQ(answer::EfsOpen(words).descriptor, 1u);
    EXPECT_EQ(answer::EfsOpen(words).error, 2u);
    EXPECT_EQ(answer::EfsFstat(words).error, 1u);
    EXPECT_EQ(answer::EfsFstat(words).size, 3u);
    EXPECT_EQ(answer::EfsRead(words).count, 3u);
    EXPECT_EQ(answer::EfsRead(words).error, 4u);
    EXPECT_EQ(answer::EfsWrite(words).error, 4u);
    EXPECT_EQ(answer::EfsReadDir(words).error, 3u);
    EXPECT_EQ(answer::EfsReadDir(words).type, 4u);

    const Bytes cut(words.begin(), words.begin() + 14);
    EXPECT_EQ(answer::EfsFstat(cut).size, 3u) << "the two bytes carried";
    EXPECT_EQ(answer::EfsRead(cut).error, 0u);
}

}  // namespace
}  // namespace packet_test
