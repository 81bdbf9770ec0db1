#include "upgrade/backup/BackupRecord.h"

#include <charconv>
#include <cstdio>
#include <string_view>

#include "platform/Platform.h"

namespace upgrade {
namespace {

constexpr std::string_view kFirstLine = "fwupgrade-backup-record 1";
constexpr std::string_view kLastLine = "end";

// ---- values

// Text values are percent-escaped so that a value never holds a blank, a
// line break or a control byte: a hostile name from the card stays one token.
std::string Escape(std::string_view text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte <= 0x20 || byte == 0x7F || byte == '%') {
            out += '%';
            out += kDigits[byte >> 4];
            out += kDigits[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Unescape(std::string_view text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            if (text[i] == ' ') return false;
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int high = HexDigit(text[i + 1]);
        const int low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0) return false;
        out += static_cast<char>(high << 4 | low);
        i += 2;
    }
    return true;
}

std::string WideValue(const std::u16string& text) { return Escape(platform::WideToUtf8(text)); }

// Only text that converts back unchanged is UTF-8 the writer made.
bool WideFromValue(std::string_view value, std::u16string& out) {
    std::string utf8;
    if (!Unescape(value, utf8)) return false;
    out = platform::Utf8ToWide(utf8);
    return platform::WideToUtf8(out) == utf8;
}

const char* YesNo(bool value) { return value ? "yes" : "no"; }

const char* ReasonName(FullDownloadReason reason) {
    switch (reason) {
        case FullDownloadReason::Q7k: return "q7k";
        case FullDownloadReason::Override: return "override";
        case FullDownloadReason::Rescue: return "rescue";
        case FullDownloadReason::None: break;
    }
    return "no";
}

const char* ResultName(RestoreResult result) {
    switch (result) {
        case RestoreResult::Done: return "done";
        case RestoreResult::Failed: return "failed";
        case RestoreResult::NotRun: break;
    }
    return "not-run";
}

const char* LockResultName(RestoreResult result) {
    switch (result) {
        case RestoreResult::Done: return "restored";
        case RestoreResult::Failed: return "failed";
        case RestoreResult::NotRun: break;
    }
    return "pending";
}

std::string HexBytes(const uint8_t* data, size_t size) {
    std::string out;
    char pair[3];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", data[i]);
        out += pair;
    }
    return out;
}

bool IsSha256Hex(std::string_view text) {
    if (text.size() != 64) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

template <typename Number>
bool ParseNumber(std::string_view text, Number& out, int base = 10) {
    if (text.empty()) return false;
    for (char c : text)
        if (HexDigit(c) < 0 || (base == 10 && (c < '0' || c > '9'))) return false;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// ---- lines

class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {}

    bool AtEnd() const { return next_ >= text_.size(); }
    int Number() const { return line_; }
    // The next line's key and value; false at the end of the text.
    bool Next(std::string_view& key, std::string_view& value) {
        if (AtEnd()) return false;
        const size_t end = text_.find('\n', next_);
        const std::string_view line = text_.substr(next_, end - next_);
        next_ = end + 1;
        ++line_;
        const size_t blank = line.find(' ');
        key = line.substr(0, blank);
        value = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
        return true;
    }
    // Looks at the next key without taking the line.
    std::string_view PeekKey() const {
        if (AtEnd()) return {};
        const std::string_view rest = text_.substr(next_);
        return rest.substr(0, std::min(rest.find(' '), rest.find('\n')));
    }

private:
    std::string_view text_;
    size_t next_ = 0;
    int line_ = 0;
};

// "'key' rest", appended piece by piece: GCC 12 at -O3 warns falsely of an
// overlapping copy in "'" + std::string(key) + "...".
std::string KeyMessage(std::string_view key, std::string_view rest) {
    std::string text = "'";
    text.append(key).append("' ").append(rest);
    return text;
}

class RecordParser {
public:
    RecordParser(std::string_view text, BackupRecord& out, std::string& error)
        : lines_(text), out_(out), error_(error) {}

    bool Parse();

private:
    bool Fail(const std::string& why) {
        error_ = "line " + std::to_string(lines_.Number()) + ": " + why;
        return false;
    }
    // Takes the next line, which must carry this key.
    bool Expect(std::string_view key, std::string_view& value) {
        std::string_view found;
        if (!lines_.Next(found, value)) {
            error_ = "the record ends before '" + std::string(key) + "'";
            return false;
        }
        if (found != key) return Fail("expected '" + std::string(key) + "', found '" + std::string(found) + "'");
        return true;
    }
    bool Text(std::string_view key, std::string& out) {
        std::string_view value;
        if (!Expect(key, value)) return false;
        return Unescape(value, out) || Fail(KeyMessage(key, "is not an escaped text"));
    }
    bool Path(std::string_view key, std::u16string& out) {
        std::string_view value;
        if (!Expect(key, value)) return false;
        return WideFromValue(value, out) || Fail(KeyMessage(key, "is not an escaped UTF-8 path"));
    }
    bool Digest(std::string_view key, std::string& out) {
        std::string_view value;
        if (!Expect(key, value)) return false;
        if (!IsSha256Hex(value)) return Fail(KeyMessage(key, "is not a SHA-256 in lower-case hex"));
        out = value;
        return true;
    }
    bool Flag(std::string_view key, bool& out) {
        std::string_view value;
        if (!Expect(key, value)) return false;
        if (value != "yes" && value != "no") return Fail(KeyMessage(key, "is neither yes nor no"));
        out = value == "yes";
        return true;
    }
    bool Result(std::string_view key, RestoreResult& out) {
        std::string_view value;
        if (!Expect(key, value)) return false;
        if (value == "done") out = RestoreResult::Done;
        else if (value == "failed") out = RestoreResult::Failed;
        else if (value == "not-run") out = RestoreResult::NotRun;
        else return Fail(KeyMessage(key, "is not done, failed or not-run"));
        return true;
    }

    bool Header();
    bool Identity();
    bool Wifi();
    bool LockFiles();
    bool LockEntry(std::string_view value);
    bool Progress();
    bool NvOutcome();
    bool Trailer();

    LineReader lines_;
    BackupRecord& out_;
    std::string& error_;
};

bool RecordParser::Header() {
    std::string_view key, value;
    if (!lines_.Next(key, value) || std::string(key) + " " + std::string(value) != kFirstLine)
        return Fail("not a backup record (the first line is not '" + std::string(kFirstLine) + "')");
    return true;
}

bool RecordParser::Identity() {
    std::string_view value;
    if (!Expect("esn", value)) return false;
    if (value.size() != 8 || !ParseNumber(value, out_.esn, 16)) return Fail("'esn' is not eight hex digits");
    return Text("version", out_.version) && Text("time", out_.time) && Path("nv-file", out_.nvFile) &&
           Digest("nv-sha256", out_.nvSha256);
}

bool RecordParser::Wifi() {
    std::string_view value;
    if (!Expect("wifi", value)) return false;
    if (value == "none") return true;
    if (value.size() != 6 + 12 || value.substr(0, 6) != "saved ") return Fail("'wifi' is neither none nor saved and an address");
    for (size_t i = 0; i < 6; ++i) {
        const int high = HexDigit(value[6 + 2 * i]);
        const int low = HexDigit(value[7 + 2 * i]);
        if (high < 0 || low < 0) return Fail("'wifi' address is not twelve hex digits");
        out_.wifi[i] = static_cast<uint8_t>(high << 4 | low);
    }
    out_.wifiSaved = true;
    return true;
}

bool RecordParser::LockEntry(std::string_view value) {
    const size_t first = value.find(' ');
    const size_t second = first == std::string_view::npos ? first : value.find(' ', first + 1);
    if (second == std::string_view::npos) return Fail("'lock' is not size, result and path");
    RecordedLockFile entry;
    if (!ParseNumber(value.substr(0, first), entry.size)) return Fail("'lock' size is not a number up to 2147483647");
    const std::string_view result = value.substr(first + 1, second - first - 1);
    if (result == "restored") entry.restore = RestoreResult::Done;
    else if (result == "failed") entry.restore = RestoreResult::Failed;
    else if (result != "pending") return Fail("'lock' result is not pending, restored or failed");
    if (!WideFromValue(value.substr(second + 1), entry.path) || entry.path.empty())
        return Fail("'lock' path is not an escaped UTF-8 path");
    if (out_.lockFiles.size() >= kMaxRecordedLockFiles) return Fail("more lock files than a card holds");
    out_.lockFiles.push_back(std::move(entry));
    return true;
}

bool RecordParser::LockFiles() {
    std::string_view value;
    if (!Expect("lock-files", value)) return false;
    if (value == "none") return true;
    if (value != "saved") return Fail("'lock-files' is neither none nor saved");
    out_.lockFilesSaved = true;
    if (!Path("lock-file", out_.lockFile) || !Digest("lock-sha256", out_.lockSha256)) return false;
    while (lines_.PeekKey() == "lock") {
        std::string_view key;
        lines_.Next(key, value);
        if (!LockEntry(value)) return false;
    }
    return true;
}

bool RecordParser::Progress() {
    if (!Text("read-while-pending", out_.readWhilePending) || !Flag("left-firmware", out_.leftFirmware)) return false;
    std::string_view value;
    if (!Expect("full-download", value)) return false;
    if (value == "q7k") out_.fullDownload = FullDownloadReason::Q7k;
    else if (value == "override") out_.fullDownload = FullDownloadReason::Override;
    else if (value == "rescue") out_.fullDownload = FullDownloadReason::Rescue;
    else if (value != "no") return Fail("'full-download' is not no, q7k, override or rescue");
    return Flag("cefs-writing", out_.cefsWriting) && Flag("restored", out_.restored) &&
           Text("version-after", out_.versionAfter);
}

bool RecordParser::NvOutcome() {
    if (!Result("nv-restore", out_.nvRestore)) return false;
    std::string_view value;
    if (!Expect("nv-restored", value)) return false;
    for (size_t at = 0; at < value.size();) {
        const size_t end = std::min(value.find(' ', at), value.size());
        uint16_t item = 0;
        if (!ParseNumber(value.substr(at, end - at), item)) return Fail("'nv-restored' holds something other than item numbers");
        if (out_.nvRestored.size() >= kMaxRecordedNvItems) return Fail("more NV items than a backup holds");
        out_.nvRestored.push_back(item);
        at = end + 1;
    }
    if (!Expect("nv-not-restored", value)) return false;
    for (size_t at = 0; at < value.size();) {
        const size_t end = std::min(value.find(' ', at), value.size());
        const std::string_view pair = value.substr(at, end - at);
        const size_t colon = pair.find(':');
        NvItemNotRestored entry;
        const bool statusOk = colon != std::string_view::npos &&
                              (pair.substr(colon + 1) == "-" ? (entry.status = kNotAttempted, true)
                                                             : ParseNumber(pair.substr(colon + 1), entry.status));
        if (!statusOk || !ParseNumber(pair.substr(0, colon), entry.item))
            return Fail("'nv-not-restored' holds something other than item:status pairs");
        if (out_.nvNotRestored.size() >= kMaxRecordedNvItems) return Fail("more NV items than a backup holds");
        out_.nvNotRestored.push_back(entry);
        at = end + 1;
    }
    return Result("wifi-restore", out_.wifiRestore);
}

bool RecordParser::Trailer() {
    std::string_view value;
    if (!Expect(kLastLine, value)) return false;
    if (!value.empty()) return Fail("'end' carries a value");
    return lines_.AtEnd() || Fail("lines after 'end'");
}

bool RecordParser::Parse() {
    out_ = BackupRecord{};
    return Header() && Identity() && Wifi() && LockFiles() && Progress() && NvOutcome() && Trailer();
}

}  // namespace

bool BackupRecord::SameDataAs(const BackupRecord& other) const {
    if (esn != other.esn || nvSha256 != other.nvSha256 || wifiSaved != other.wifiSaved ||
        lockFilesSaved != other.lockFilesSaved || lockFiles.size() != other.lockFiles.size())
        return false;
    if (wifiSaved && wifi != other.wifi) return false;
    if (lockFilesSaved && lockSha256 != other.lockSha256) return false;
    for (size_t i = 0; i < lockFiles.size(); ++i)
        if (lockFiles[i].path != other.lockFiles[i].path || lockFiles[i].size != other.lockFiles[i].size) return false;
    return true;
}

std::string EncodeBackupRecord(const BackupRecord& record) {
    std::string out;
    auto line = [&out](std::string_view key, const std::string& value) {
        out.append(key).append(" ").append(value).append("\n");
    };
    out.append(kFirstLine).append("\n");
    line("esn", EsnText(record.esn));
    line("version", Escape(record.version));
    line("time", Escape(record.time));
    line("nv-file", WideValue(record.nvFile));
    line("nv-sha256", record.nvSha256);
    line("wifi", record.wifiSaved ? "saved " + HexBytes(record.wifi.data(), record.wifi.size()) : "none");
    line("lock-files", record.lockFilesSaved ? "saved" : "none");
    if (record.lockFilesSaved) {
        line("lock-file", WideValue(record.lockFile));
        line("lock-sha256", record.lockSha256);
        for (const RecordedLockFile& entry : record.lockFiles)
            line("lock", std::to_string(entry.size) + " " + LockResultName(entry.restore) + " " + WideValue(entry.path));
    }
    line("read-while-pending", Escape(record.readWhilePending));
    line("left-firmware", YesNo(record.leftFirmware));
    line("full-download", ReasonName(record.fullDownload));
    line("cefs-writing", YesNo(record.cefsWriting));
    line("restored", YesNo(record.restored));
    line("version-after", Escape(record.versionAfter));
    line("nv-restore", ResultName(record.nvRestore));
    std::string items;
    for (uint16_t item : record.nvRestored) items += (items.empty() ? "" : " ") + std::to_string(item);
    line("nv-restored", items);
    items.clear();
    for (const NvItemNotRestored& entry : record.nvNotRestored)
        items += (items.empty() ? "" : " ") + std::to_string(entry.item) + ":" +
                 (entry.status == kNotAttempted ? std::string("-") : std::to_string(entry.status));
    line("nv-not-restored", items);
    line("wifi-restore", ResultName(record.wifiRestore));
    out.append(kLastLine).append("\n");
    return out;
}

bool ParseBackupRecord(std::span<const uint8_t> bytes, BackupRecord& out, std::string& error) {
    if (bytes.empty()) {
        error = "the record is empty";
        return false;
    }
    if (bytes.size() > kMaxRecordBytes) {
        error = "the record is larger than any record a run writes";
        return false;
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        if ((bytes[i] < 0x20 && bytes[i] != '\n') || bytes[i] == 0x7F) {
            error = "a control byte at offset " + std::to_string(i);
            return false;
        }
    }
    if (bytes.back() != '\n') {
        error = "the record is cut off (its last line does not end)";
        return false;
    }
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    RecordParser parser(text, out, error);
    if (parser.Parse()) return true;
    out = BackupRecord{};
    return false;
}

std::string EsnText(uint32_t esn) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", esn);
    return text;
}

std::string RecordTimeNow() {
    platform::LocalTime now;
    if (!platform::UtcNow(now)) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02dZ", now.year, now.month, now.day, now.hour, now.minute,
                  now.second);
    return text;
}

bool IsRecordTime(std::string_view text) {
    if (text.size() != 16 || text[8] != 'T' || text[15] != 'Z') return false;
    for (size_t i = 0; i < 15; ++i)
        if (i != 8 && (text[i] < '0' || text[i] > '9')) return false;
    return true;
}

}  // namespace upgrade
