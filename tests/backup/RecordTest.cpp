// The backup record codec and the SHA-256 that ties it to its files: pure
// functions over bytes.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "upgrade/backup/BackupRecord.h"
#include "upgrade/backup/Sha256.h"

namespace {

using upgrade::BackupRecord;

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

BackupRecord FullRecord() {
    BackupRecord r;
    r.esn = 0x8012A5C3;
    r.version = "LUM_Q7KV1.0.0B05 build 7";   // a blank inside a value
    r.time = "20261208T034000Z";
    r.nvFile = u"/home/u/pkg dir/channel.nvm";
    r.nvSha256 = std::string(64, 'a');
    r.wifiSaved = true;
    r.wifi = {0x00, 0x1E, 0x10, 0x3A, 0x5C, 0x7F};
    r.lockFilesSaved = true;
    r.lockFile = u"/home/u/VEKLock_1";
    r.lockSha256 = std::string(64, '0');
    r.lockFiles = {{u"vek/a", 100, upgrade::RestoreResult::Done},
                   {u"vek/sub/b\nend", 3000, upgrade::RestoreResult::Failed},   // a hostile name from the card
                   {u"vek/%41 \u00e9", 0, upgrade::RestoreResult::NotRun}};
    r.leftFirmware = true;
    r.fullDownload = upgrade::FullDownloadReason::Override;
    r.cefsWriting = true;
    r.versionAfter = "LUM_Q7KV1.0.0B06";
    r.nvRestore = upgrade::RestoreResult::Failed;
    r.nvRestored = {77, 0, 22};
    r.nvNotRestored = {{88, 4}, {96, upgrade::kNotAttempted}};
    r.wifiRestore = upgrade::RestoreResult::NotRun;
    return r;
}

bool Parse(const std::string& text, BackupRecord& out, std::string& error) {
    return upgrade::ParseBackupRecord(Bytes(text), out, error);
}

void ExpectSame(const BackupRecord& a, const BackupRecord& b) {
    EXPECT_EQ(upgrade::EncodeBackupRecord(a), upgrade::EncodeBackupRecord(b));
    EXPECT_TRUE(a.SameDataAs(b));
    EXPECT_EQ(a.lockFiles.size(), b.lockFiles.size());
}

TEST(BackupRecordCodec, EveryFieldSurvivesTheRoundTrip) {
    const BackupRecord written = FullRecord();
    const std::string text = upgrade::EncodeBackupRecord(written);
    BackupRecord read;
    std::string error;
    ASSERT_TRUE(Parse(text, read, error)) << error << "\n" << text;
    ExpectSame(read, written);
    EXPECT_EQ(read.lockFiles[1].path, u"vek/sub/b\nend");
    EXPECT_EQ(read.lockFiles[2].path, u"vek/%41 \u00e9");
    EXPECT_EQ(read.lockFiles[1].restore, upgrade::RestoreResult::Failed);
    EXPECT_EQ(read.nvNotRestored, written.nvNotRestored);
    EXPECT_EQ(read.version, written.version);
    EXPECT_EQ(read.versionAfter, written.versionAfter);
    EXPECT_EQ(text.find("vek/sub/b\n"), std::string::npos) << "a name never breaks a line";

    BackupRecord bare;   // nothing saved but the NV items, nothing restored yet
    bare.nvSha256 = std::string(64, 'f');
    ASSERT_TRUE(Parse(upgrade::EncodeBackupRecord(bare), read, error)) << error;
    EXPECT_FALSE(read.wifiSaved);
    EXPECT_FALSE(read.lockFilesSaved);
    EXPECT_TRUE(read.nvRestored.empty());
}

TEST(BackupRecordCodec, ARestoreIsPendingFromTheSwitchOfAFullDownloadUntilTheRestoreEnds) {
    BackupRecord r;
    EXPECT_FALSE(r.RestorePending());
    r.fullDownload = upgrade::FullDownloadReason::Q7k;
    EXPECT_FALSE(r.RestorePending()) << "the card has not left its firmware";
    r.leftFirmware = true;
    EXPECT_TRUE(r.RestorePending());
    r.restored = true;
    EXPECT_FALSE(r.RestorePending());
    r.restored = false;
    r.fullDownload = upgrade::FullDownloadReason::None;
    EXPECT_FALSE(r.RestorePending()) << "a run without cefs never wipes the card";
}

TEST(BackupRecordCodec, EveryCutOfARecordIsRefused) {
    const std::string text = upgrade::EncodeBackupRecord(FullRecord());
    for (size_t length = 0; length < text.size(); ++length) {
        BackupRecord read;
        std::string error;
        EXPECT_FALSE(Parse(text.substr(0, length), read, error)) << "cut at " << length;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(read.esn, 0u) << "a refused record leaves nothing behind";
    }
}

// A write the power cut short can leave a file longer than what reached it
// (zeros after it), a sector of zeros, or a new record over an older, longer one.
TEST(BackupRecordCodec, WhatAPowerCutLeavesOfARecordIsRefused) {
    const std::string text = upgrade::EncodeBackupRecord(FullRecord());
    BackupRecord older = FullRecord();
    older.lockFiles.push_back(older.lockFiles.front());
    const std::string longer = upgrade::EncodeBackupRecord(older);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {text + std::string(512 - text.size() % 512, '\0'), "a control byte at offset " + std::to_string(text.size())},
        {std::string(512, '\0'), "a control byte at offset 0"},
        {text + longer.substr(text.size()), "lines after 'end'"},
    };
    for (const auto& [bytes, reason] : cases) {
        BackupRecord read;
        std::string error;
        EXPECT_FALSE(Parse(bytes, read, error)) << reason;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(BackupRecordCodec, MalformedRecordsAreRefusedWithTheirReason) {
    const std::string good = upgrade::EncodeBackupRecord(FullRecord());
    const std::string digest(64, 'a');
    struct Case {
        std::string text;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"", "the record is empty"},
        {"hello\n", "line 1: not a backup record"},
        {Replace(good, "record 1", "record 2"), "line 1: not a backup record"},
        {Replace(good, "esn 8012A5C3", "esn 8012A5C"), "line 2: 'esn' is not eight hex digits"},
        {Replace(good, "esn 8012A5C3", "esn 8012A5CG"), "'esn' is not eight hex digits"},
        {Replace(good, "esn ", "serial "), "line 2: expected 'esn', found 'serial'"},
        {Replace(good, "nv-sha256 " + digest, "nv-sha256 " + digest.substr(1)), "'nv-sha256' is not a SHA-256"},
        {Replace(good, "nv-sha256 " + digest, "nv-sha256 " + std::string(64, 'A')), "'nv-sha256' is not a SHA-256"},
        {Replace(good, "saved 001e103a5c7f", "saved 001e103a5c"), "'wifi' is neither none nor saved"},
        {Replace(good, "saved 001e103a5c7f", "saved 001e103a5cZZ"), "'wifi' address is not twelve hex digits"},
        {Replace(good, "lock-files saved", "lock-files some"), "'lock-files' is neither none nor saved"},
        {Replace(good, "lock 100 restored", "lock -100 restored"), "'lock' size is not a number"},
        {Replace(good, "lock 100 restored", "lock 2147483648 restored"), "'lock' size is not a number"},
        {Replace(good, "lock 100 restored", "lock 100 maybe"), "'lock' result is not pending"},
        {Replace(good, "lock 100 restored vek/a", "lock 100 restored"), "'lock' is not size, result and path"},
        {Replace(good, "restored vek/a", "restored vek/%FF"), "'lock' path is not an escaped UTF-8 path"},
        {Replace(good, "restored vek/a", "restored vek/%4"), "'lock' path is not an escaped UTF-8 path"},
        {Replace(good, "full-download override", "full-download always"), "'full-download' is not no, q7k"},
        {Replace(good, "left-firmware yes", "left-firmware true"), "'left-firmware' is neither yes nor no"},
        {Replace(good, "nv-restore failed", "nv-restore half"), "'nv-restore' is not done, failed or not-run"},
        {Replace(good, "nv-restored 77 0 22", "nv-restored 77 x 22"), "'nv-restored' holds something other"},
        {Replace(good, "nv-restored 77 0 22", "nv-restored 77 65536"), "'nv-restored' holds something other"},
        {Replace(good, "nv-not-restored 88:4", "nv-not-restored 88"), "'nv-not-restored' holds something other"},
        {Replace(good, "version LUM", "version L\x01UM"), "a control byte at offset"},
        {Replace(good, "version LUM", "version L\rUM"), "a control byte at offset"},
        {good.substr(0, good.size() - 1), "the record is cut off"},
        {Replace(good, "\nend\n", "\nend now\n"), "'end' carries a value"},
        {good + "more\n", "lines after 'end'"},
        {Replace(good, "wifi-restore not-run\n", ""), "expected 'wifi-restore', found 'end'"},
        {std::string(upgrade::kMaxRecordBytes + 1, 'x'), "larger than any record"},
    };
    for (const Case& c : cases) {
        BackupRecord read;
        std::string error;
        EXPECT_FALSE(Parse(c.text, read, error)) << c.reason;
        EXPECT_NE(error.find(c.reason), std::string::npos) << "expected: " << c.reason << "\n     got: " << error;
    }
}

TEST(BackupRecordCodec, SameDataComparesWhatTheCardOwnsNotHowFarTheRunGot) {
    const BackupRecord a = FullRecord();
    BackupRecord b = a;
    b.time = "20270101T000000Z";
    b.restored = true;
    b.nvFile = u"/elsewhere/channel.nvm";
    EXPECT_TRUE(a.SameDataAs(b));
    b.wifi[5] ^= 1;
    EXPECT_FALSE(a.SameDataAs(b));
    b = a;
    b.lockFiles[0].size = 101;
    EXPECT_FALSE(a.SameDataAs(b));
    b = a;
    b.esn = 1;
    EXPECT_FALSE(a.SameDataAs(b));
}

TEST(Sha256, KnownDigests) {
    EXPECT_EQ(upgrade::Sha256Hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(upgrade::Sha256Hex(Bytes("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(upgrade::Sha256Hex(Bytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(upgrade::Sha256Hex(std::vector<uint8_t>(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, PiecesOfAnyLengthGiveTheDigestOfTheWhole) {
    std::vector<uint8_t> data(1000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + 7);
    const std::string whole = upgrade::Sha256Hex(data);
    for (size_t piece : {1u, 55u, 56u, 63u, 64u, 65u, 999u}) {
        upgrade::Sha256 sha;
        for (size_t at = 0; at < data.size(); at += piece)
            sha.Update(std::span<const uint8_t>(data).subspan(at, std::min(piece, data.size() - at)));
        const auto digest = sha.Final();
        std::string hex;
        for (uint8_t b : digest) {
            static constexpr char kDigits[] = "0123456789abcdef";
            hex += kDigits[b >> 4];
            hex += kDigits[b & 15];
        }
        EXPECT_EQ(hex, whole) << "pieces of " << piece;
    }
}

}  // namespace
