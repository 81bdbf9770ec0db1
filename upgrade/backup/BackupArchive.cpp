#include "upgrade/backup/BackupArchive.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "upgrade/backup/BackupStore.h"
#include "upgrade/backup/NvBackupTable.h"
#include "upgrade/backup/Sha256.h"

namespace upgrade {
namespace {

constexpr std::string_view kMagicLine = "fwupgrade-backup-archive 1";
constexpr std::string_view kRecordMember = "backup-record.txt";
constexpr std::string_view kNvMember = "channel.nvm";
constexpr std::string_view kLockMember = "VEKLock_1";
// No line a writer makes comes near this; a longer one is not an archive's.
constexpr size_t kMaxLineBytes = 256;

std::string_view AsText(std::span<const uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Grown, then copied into: GCC 12 at -O3 takes an insert of a character
// range into a vector for an overflow.
void AppendText(std::vector<uint8_t>& out, std::string_view text) {
    const size_t at = out.size();
    out.resize(at + text.size());
    std::copy(text.begin(), text.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
}

void AppendMember(std::vector<uint8_t>& out, std::string_view name, std::span<const uint8_t> bytes) {
    AppendText(out, "file ");
    AppendText(out, name);
    AppendText(out, " ");
    AppendText(out, std::to_string(bytes.size()));
    AppendText(out, "\n");
    out.insert(out.end(), bytes.begin(), bytes.end());
}

size_t MemberLimit(std::string_view name) {
    if (name == kRecordMember) return kMaxRecordBytes;
    if (name == kNvMember) return nvtable::kTableSize;
    return kMaxArchiveLockBytes;
}

// What a member name must not be: anything that could name a place other
// than a file of the backup's own folder.
std::string NameProblem(std::string_view name) {
    if (name.empty()) return "an empty member name";
    if (name.front() == '/' || name.front() == '\\' || (name.size() > 1 && name[1] == ':'))
        return "an absolute member name";
    if (name.find_first_of("/\\") != std::string_view::npos) return "a member name with a folder separator";
    if (name == "." || name == "..") return "a member name that names a folder";
    return {};
}

std::string Quoted(std::string_view name) {
    std::string text = "'";
    for (char c : name.substr(0, 64)) text += (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) ? '?' : c;
    return text + (name.size() > 64 ? "...'" : "'");
}

class ArchiveReader {
public:
    ArchiveReader(std::span<const uint8_t> bytes, std::string& error) : bytes_(bytes), error_(error) {}

    bool Read(BackupArchive& out);

private:
    bool Fail(const std::string& why) {
        error_ = why;
        return false;
    }
    // The next line without its LF; false when none ends within the limit.
    bool Line(std::string_view& line) {
        const std::string_view rest = AsText(bytes_.subspan(at_));
        const size_t end = rest.substr(0, kMaxLineBytes + 1).find('\n');
        if (end == std::string_view::npos) {
            return Fail(rest.size() <= kMaxLineBytes ? "the archive is cut off (its last line does not end)"
                                                     : "a line longer than any line of an archive at offset " +
                                                           std::to_string(at_));
        }
        line = rest.substr(0, end);
        at_ += end + 1;
        return true;
    }
    bool Member(std::string_view line);
    bool Trailer(std::string_view line);
    bool Assemble(BackupArchive& out);

    std::span<const uint8_t> bytes_;
    std::string& error_;
    size_t at_ = 0;
    std::vector<std::pair<std::string, std::span<const uint8_t>>> members_;
};

bool ArchiveReader::Member(std::string_view line) {
    const size_t first = line.find(' ');
    const std::string_view kind = line.substr(0, first);
    if (kind == "link" || kind == "symlink" || kind == "hardlink" || kind == "dir" || kind == "folder")
        return Fail("a '" + std::string(kind) + "' entry: an archive holds plain files only");
    if (kind != "file") return Fail("an unknown entry " + Quoted(kind) + " at offset " + std::to_string(at_ - line.size() - 1));
    const size_t second = first == std::string_view::npos ? first : line.rfind(' ');
    if (second == first) return Fail("a 'file' entry without a name and a length");
    const std::string_view name = line.substr(first + 1, second - first - 1);
    const std::string_view lengthText = line.substr(second + 1);
    if (const std::string problem = NameProblem(name); !problem.empty())
        return Fail(problem + " " + Quoted(name) + ": nothing may be written outside the backup's folder");
    if (name != kRecordMember && name != kNvMember && name != kLockMember)
        return Fail("an unknown member " + Quoted(name) + " (a backup holds backup-record.txt, channel.nvm, VEKLock_1)");
    for (const auto& member : members_)
        if (member.first == name) return Fail("the member " + Quoted(name) + " appears twice");
    size_t length = 0;
    const auto parsed = std::from_chars(lengthText.data(), lengthText.data() + lengthText.size(), length);
    if (lengthText.empty() || parsed.ec != std::errc() || parsed.ptr != lengthText.data() + lengthText.size() ||
        lengthText.front() == '+' || lengthText.front() == '-')
        return Fail("the length of " + Quoted(name) + " is not a number");
    if (length > MemberLimit(name))
        return Fail("the member " + Quoted(name) + " is larger than a backup's " + std::string(name) + " (" +
                    std::to_string(MemberLimit(name)) + " bytes at most)");
    if (length > bytes_.size() - at_) return Fail("the archive is cut off inside the member " + Quoted(name));
    members_.emplace_back(std::string(name), bytes_.subspan(at_, length));
    at_ += length;
    return true;
}

bool ArchiveReader::Trailer(std::string_view line) {
    const std::string digest = Sha256Hex(bytes_.subspan(0, at_ - line.size() - 1));
    if (line.substr(4) != digest) return Fail("the archive's digest does not match its content");
    if (at_ != bytes_.size()) return Fail("bytes after the archive's 'end' line");
    return true;
}

std::span<const uint8_t> Find(const std::vector<std::pair<std::string, std::span<const uint8_t>>>& members,
                              std::string_view name, bool& found) {
    for (const auto& member : members)
        if (member.first == name) {
            found = true;
            return member.second;
        }
    found = false;
    return {};
}

bool ArchiveReader::Assemble(BackupArchive& out) {
    bool hasRecord = false, hasNv = false, hasLock = false;
    const auto record = Find(members_, kRecordMember, hasRecord);
    const auto nv = Find(members_, kNvMember, hasNv);
    const auto lock = Find(members_, kLockMember, hasLock);
    if (!hasRecord || !hasNv) return Fail(std::string("the archive holds no ") + (hasRecord ? "channel.nvm" : "backup-record.txt"));
    std::string why;
    if (!ParseBackupRecord(record, out.record, why)) return Fail("backup-record.txt is refused: " + why);
    const BackupRecord& r = out.record;
    if (!IsRecordTime(r.time)) return Fail("backup-record.txt: its time is not a UTC time like 20261208T034000Z");
    if (r.nvFile != kKeptNvName || (r.lockFilesSaved && r.lockFile != kKeptLockName))
        return Fail("backup-record.txt names files other than the archive's channel.nvm and VEKLock_1");
    if (r.lockFilesSaved != hasLock)
        return Fail(hasLock ? "the archive holds VEKLock_1 but its record saved no lock files"
                            : "the record lists lock files but the archive holds no VEKLock_1");
    if (nv.size() != nvtable::kTableSize || Sha256Hex(nv) != r.nvSha256)
        return Fail("channel.nvm does not match the length and digest of its record");
    uint64_t listed = 0;
    for (const RecordedLockFile& entry : r.lockFiles) listed += static_cast<uint64_t>(entry.size);
    if (hasLock && (lock.size() != listed || Sha256Hex(lock) != r.lockSha256))
        return Fail("VEKLock_1 does not match the length and digest of its record");
    out.nvTable.assign(nv.begin(), nv.end());
    out.lockBackup.assign(lock.begin(), lock.end());
    return true;
}

bool ArchiveReader::Read(BackupArchive& out) {
    if (bytes_.size() > kMaxArchiveBytes)
        return Fail("the archive is larger than any backup (" + std::to_string(kMaxArchiveBytes) + " bytes at most)");
    std::string_view line;
    if (!Line(line) || line != kMagicLine)
        return Fail("not a backup archive (the first line is not '" + std::string(kMagicLine) + "')");
    while (true) {
        if (at_ >= bytes_.size()) return Fail("the archive is cut off (no 'end' line)");
        if (!Line(line)) return false;
        if (line.rfind("end ", 0) == 0) return Trailer(line) && Assemble(out);
        if (!Member(line)) return false;
    }
}

}  // namespace

BackupRecord KeptDescription(const BackupRecord& record) {
    BackupRecord kept;
    kept.esn = record.esn;
    kept.version = record.version;
    kept.time = record.time;
    kept.nvFile = kKeptNvName;
    kept.nvSha256 = record.nvSha256;
    kept.wifiSaved = record.wifiSaved;
    kept.wifi = record.wifi;
    kept.lockFilesSaved = record.lockFilesSaved;
    if (record.lockFilesSaved) {
        kept.lockFile = kKeptLockName;
        kept.lockSha256 = record.lockSha256;
        for (const RecordedLockFile& entry : record.lockFiles) kept.lockFiles.push_back({entry.path, entry.size});
    }
    kept.readWhilePending = record.readWhilePending;
    return kept;
}

std::vector<uint8_t> EncodeBackupArchive(const BackupRecord& record, std::span<const uint8_t> nvTable,
                                         std::span<const uint8_t> lockBackup) {
    const BackupRecord kept = KeptDescription(record);
    const std::string recordText = EncodeBackupRecord(kept);
    std::vector<uint8_t> out;
    AppendText(out, kMagicLine);
    AppendText(out, "\n");
    AppendMember(out, kRecordMember, {reinterpret_cast<const uint8_t*>(recordText.data()), recordText.size()});
    AppendMember(out, kNvMember, nvTable);
    if (kept.lockFilesSaved) AppendMember(out, kLockMember, lockBackup);
    const std::string digest = Sha256Hex(out);
    AppendText(out, "end ");
    AppendText(out, digest);
    AppendText(out, "\n");
    return out;
}

bool ParseBackupArchive(std::span<const uint8_t> bytes, BackupArchive& out, std::string& error) {
    out = BackupArchive{};
    ArchiveReader reader(bytes, error);
    if (reader.Read(out)) return true;
    out = BackupArchive{};
    return false;
}

}  // namespace upgrade
