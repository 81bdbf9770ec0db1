#include "tests/support/PowerCutFileSystem.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace test_support {

struct PowerCutFileSystem::Node {
    bool folder = false;
    std::vector<uint8_t> data;      // what the process sees
    std::vector<uint8_t> durable;   // what the disk holds
    std::map<std::string, std::shared_ptr<Node>> entries;
    std::map<std::string, std::shared_ptr<Node>> durableEntries;
};

namespace {

using Node = PowerCutFileSystem::Node;

std::vector<std::string> Components(const std::string& path) {
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= path.size()) {
        const size_t end = std::min(path.find('/', at), path.size());
        const std::string part = path.substr(at, end - at);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    return parts;
}

std::string Joined(const std::vector<std::string>& parts, size_t from) {
    std::string out;
    for (size_t i = from; i < parts.size(); ++i) out += (out.empty() ? "" : "/") + parts[i];
    return out;
}

std::string CurrentFolder() {
    std::string buffer(4096, '\0');
    if (::getcwd(buffer.data(), buffer.size()) == nullptr) return "/";
    return buffer.c_str();
}

std::shared_ptr<Node> NewNode(bool folder) {
    auto node = std::make_shared<Node>();
    node->folder = folder;
    return node;
}

std::vector<uint8_t> Content(const Node& node, PendingWrites writes) {
    if (node.data == node.durable || writes == PendingWrites::Dropped) return node.durable;
    if (writes == PendingWrites::Kept) return node.data;
    // Torn: the first half of the sectors reached the disk.
    const size_t sectors = (node.data.size() + kSectorBytes - 1) / kSectorBytes;
    const size_t kept = std::min(node.data.size(), sectors / 2 * kSectorBytes);
    return {node.data.begin(), node.data.begin() + static_cast<std::ptrdiff_t>(kept)};
}

void Collect(const Node& folder, const std::string& prefix, const CutOutcome& outcome, DiskImage& image) {
    for (const auto& [name, node] : outcome.entriesUndone ? folder.durableEntries : folder.entries) {
        const std::string path = prefix.empty() ? name : prefix + "/" + name;
        if (node->folder) {
            image.folders.insert(path);
            Collect(*node, path, outcome, image);
        } else {
            image.files[path] = Content(*node, outcome.writes);
        }
    }
}

class MemoryFile : public platform::FileHandle {
public:
    MemoryFile(PowerCutFileSystem& disk, std::shared_ptr<Node> node, std::string path)
        : disk_(disk), node_(std::move(node)), path_(std::move(path)) {}

    uint64_t Length() override { return disk_.PowerCut() ? 0 : node_->data.size(); }
    bool Seek(uint64_t offset) override {
        if (disk_.PowerCut()) return false;
        position_ = static_cast<size_t>(offset);
        return true;
    }
    uint32_t Read(uint8_t* buffer, uint32_t count) override {
        if (!disk_.Operate("read", path_) || position_ >= node_->data.size()) return 0;
        const size_t n = std::min<size_t>(count, node_->data.size() - position_);
        std::copy_n(node_->data.begin() + static_cast<std::ptrdiff_t>(position_), n, buffer);
        position_ += n;
        return static_cast<uint32_t>(n);
    }
    uint32_t Write(const uint8_t* data, uint32_t count) override {
        if (!disk_.Operate("write", path_)) return 0;
        if (node_->data.size() < position_ + count) node_->data.resize(position_ + count);
        std::copy_n(data, count, node_->data.begin() + static_cast<std::ptrdiff_t>(position_));
        position_ += count;
        return count;
    }
    bool Flush() override {
        if (!disk_.Operate("flush", path_)) return false;
        node_->durable = node_->data;
        return true;
    }

private:
    PowerCutFileSystem& disk_;
    std::shared_ptr<Node> node_;
    std::string path_;
    size_t position_ = 0;
};

}  // namespace

std::string CutOutcome::Name() const {
    const char* write = writes == PendingWrites::Dropped ? "writes dropped"
                        : writes == PendingWrites::Kept  ? "writes kept"
                                                         : "writes torn";
    return std::string(write) + (entriesUndone ? ", entries undone" : ", entries kept");
}

std::vector<CutOutcome> AllCutOutcomes() {
    std::vector<CutOutcome> all;
    for (PendingWrites writes : {PendingWrites::Dropped, PendingWrites::Kept, PendingWrites::Torn})
        for (bool undone : {true, false}) all.push_back({writes, undone});
    return all;
}

DiskImage ReadDiskImage(const std::string& root) {
    DiskImage image;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string path = std::filesystem::relative(entry.path(), root).generic_string();
        if (entry.is_directory()) {
            image.folders.insert(path);
        } else if (entry.is_regular_file()) {
            std::ifstream in(entry.path(), std::ios::binary);
            image.files[path] = {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        }
    }
    return image;
}

PowerCutFileSystem::PowerCutFileSystem(std::string root)
    : root_(std::string("/").append(Joined(Components(root), 0))), real_(platform::MakeDefaultFileSystem()) {
    Load(ReadDiskImage(root_));
}

PowerCutFileSystem::~PowerCutFileSystem() = default;

void PowerCutFileSystem::Load(const DiskImage& image) {
    top_ = NewNode(true);
    versions_.clear();
    for (const std::string& folder : image.folders) {
        std::shared_ptr<Node> parent = top_;
        for (const std::string& part : Components(folder)) {
            auto& entry = parent->entries[part];
            if (entry == nullptr) entry = NewNode(true);
            parent = entry;
        }
    }
    for (const auto& [path, bytes] : image.files) {
        std::string name;
        const std::shared_ptr<Node> parent = ParentOf(path, name);
        if (parent == nullptr) continue;
        auto file = NewNode(false);
        file->data = file->durable = bytes;
        parent->entries[name] = file;
        versions_[path] = {bytes};
    }
    std::function<void(Node&)> settle = [&settle](Node& folder) {
        folder.durableEntries = folder.entries;
        for (auto& [name, node] : folder.entries)
            if (node->folder) settle(*node);
    };
    settle(*top_);
    operations_.clear();
    cutAt_ = 0;
    cut_ = false;
    onCut_ = {};
}

void PowerCutFileSystem::CutAt(uint64_t operation, std::function<void()> onCut) {
    cutAt_ = operation;
    onCut_ = std::move(onCut);
}

bool PowerCutFileSystem::Operate(const std::string& kind, const std::string& path) {
    if (cut_) return false;
    const uint64_t number = operations_.size() + 1;
    if (number == cutAt_) {
        cut_ = true;
        if (onCut_) onCut_();
        return false;
    }
    operations_.push_back({number, kind, path});
    return true;
}

DiskImage PowerCutFileSystem::Durable(const CutOutcome& outcome) const {
    DiskImage image;
    Collect(*top_, "", outcome, image);
    return image;
}

DiskImage PowerCutFileSystem::Visible() const { return Durable({PendingWrites::Kept, false}); }

std::vector<std::string> PowerCutFileSystem::NeitherOldNorNew(const DiskImage& image) const {
    auto isTemporary = [](const std::string& path) {
        return path.size() > 4 && path.compare(path.size() - 4, 4, ".new") == 0;
    };
    std::vector<std::string> problems;
    for (const auto& [path, history] : versions_) {
        if (isTemporary(path)) continue;
        const auto found = image.files.find(path);
        const Version actual = found == image.files.end() ? Version() : Version(found->second);
        const size_t from = history.size() > 1 ? history.size() - 2 : 0;
        if (std::find(history.begin() + static_cast<std::ptrdiff_t>(from), history.end(), actual) == history.end())
            problems.push_back(path + (actual ? " holds " + std::to_string(actual->size()) + " bytes of neither version"
                                              : " is gone"));
    }
    const DiskImage visible = Visible();
    for (const auto& [path, bytes] : image.files) {
        if (isTemporary(path) || versions_.count(path) != 0) continue;
        const auto now = visible.files.find(path);
        if (now == visible.files.end() || now->second != bytes)
            problems.push_back(path + " was written in place and is not whole");
    }
    return problems;
}

std::optional<std::string> PowerCutFileSystem::Inside(const std::u16string& path) const {
    std::string native = platform::WideToUtf8(path.empty() ? u"." : path);
    if (native.front() != '/') native = CurrentFolder() + "/" + native;
    const std::vector<std::string> parts = Components(native);
    const std::vector<std::string> root = Components(root_);
    if (parts.size() < root.size() || !std::equal(root.begin(), root.end(), parts.begin())) return std::nullopt;
    return Joined(parts, root.size());
}

std::shared_ptr<Node> PowerCutFileSystem::Find(const std::string& relative) const {
    std::shared_ptr<Node> node = top_;
    for (const std::string& part : Components(relative)) {
        if (!node->folder) return nullptr;
        const auto found = node->entries.find(part);
        if (found == node->entries.end()) return nullptr;
        node = found->second;
    }
    return node;
}

std::shared_ptr<Node> PowerCutFileSystem::ParentOf(const std::string& relative, std::string& name) const {
    std::vector<std::string> parts = Components(relative);
    if (parts.empty()) return nullptr;
    name = parts.back();
    parts.pop_back();
    const std::shared_ptr<Node> parent = Find(Joined(parts, 0));
    return parent != nullptr && parent->folder ? parent : nullptr;
}

void PowerCutFileSystem::NoteVersion(const std::string& relative, Version version) {
    auto& history = versions_[relative];
    if (history.empty()) {
        const std::shared_ptr<Node> before = Find(relative);
        history.push_back(before != nullptr && !before->folder ? Version(before->data) : Version());
    }
    history.push_back(std::move(version));
}

std::unique_ptr<platform::FileHandle> PowerCutFileSystem::OpenRead(const std::u16string& path) {
    const std::optional<std::string> relative = Inside(path);
    if (!relative) return real_->OpenRead(path);
    if (!Operate("open", *relative)) return nullptr;
    std::shared_ptr<Node> node = Find(*relative);
    if (node == nullptr || node->folder) return nullptr;
    return std::make_unique<MemoryFile>(*this, node, *relative);
}

std::unique_ptr<platform::FileHandle> PowerCutFileSystem::CreateWrite(const std::u16string& path) {
    const std::optional<std::string> relative = Inside(path);
    if (!relative) return real_->CreateWrite(path);
    if (!Operate("create", *relative)) return nullptr;
    std::string name;
    const std::shared_ptr<Node> parent = ParentOf(*relative, name);
    if (parent == nullptr) return nullptr;
    std::shared_ptr<Node>& entry = parent->entries[name];
    if (entry == nullptr) entry = NewNode(false);
    if (entry->folder) return nullptr;
    entry->data.clear();
    return std::make_unique<MemoryFile>(*this, entry, *relative);
}

bool PowerCutFileSystem::CreateDirectory(const std::u16string& path) {
    const std::optional<std::string> relative = Inside(path);
    if (!relative) return real_->CreateDirectory(path);
    if (!Operate("mkdir", *relative)) return false;
    std::string name;
    const std::shared_ptr<Node> parent = ParentOf(*relative, name);
    if (parent == nullptr || parent->entries.count(name) != 0) return false;
    parent->entries[name] = NewNode(true);
    return true;
}

bool PowerCutFileSystem::PathExists(const std::u16string& path) {
    const std::optional<std::string> relative = Inside(path);
    if (!relative) return real_->PathExists(path);
    return Operate("exists", *relative) && Find(*relative) != nullptr;
}

bool PowerCutFileSystem::RemoveFile(const std::u16string& path) {
    const std::optional<std::string> relative = Inside(path);
    if (!relative) return real_->RemoveFile(path);
    if (!Operate("remove", *relative)) return false;
    std::string name;
    const std::shared_ptr<Node> parent = ParentOf(*relative, name);
    const std::shared_ptr<Node> node = Find(*relative);
    if (parent == nullptr || node == nullptr || node->folder) return false;
    NoteVersion(*relative, std::nullopt);
    parent->entries.erase(name);
    return true;
}

bool PowerCutFileSystem::ReplaceFile(const std::u16string& source, const std::u16string& target) {
    const std::optional<std::string> from = Inside(source);
    const std::optional<std::string> to = Inside(target);
    if (!from && !to) return real_->ReplaceFile(source, target);
    if (!from || !to || !Operate("rename", *to)) return false;
    std::string fromName, toName;
    const std::shared_ptr<Node> fromParent = ParentOf(*from, fromName);
    const std::shared_ptr<Node> toParent = ParentOf(*to, toName);
    if (fromParent == nullptr || toParent == nullptr || fromParent->entries.count(fromName) == 0) return false;
    const std::shared_ptr<Node> node = fromParent->entries[fromName];
    const auto existing = toParent->entries.find(toName);
    if (node->folder || (existing != toParent->entries.end() && existing->second->folder)) return false;
    NoteVersion(*to, node->data);
    NoteVersion(*from, std::nullopt);
    fromParent->entries.erase(fromName);
    toParent->entries[toName] = node;
    return true;
}

std::vector<std::u16string> PowerCutFileSystem::ListFolder(const std::u16string& folder) {
    const std::optional<std::string> relative = Inside(folder);
    if (!relative) return real_->ListFolder(folder);
    std::vector<std::u16string> names;
    if (!Operate("list", *relative)) return names;
    const std::shared_ptr<Node> node = Find(*relative);
    if (node == nullptr || !node->folder) return names;
    for (const auto& [name, entry] : node->entries) names.push_back(platform::Utf8ToWide(name));
    return names;
}

bool PowerCutFileSystem::SyncFolder(const std::u16string& folder) {
    const std::optional<std::string> relative = Inside(folder);
    if (!relative) return real_->SyncFolder(folder);
    if (!Operate("sync", *relative)) return false;
    const std::shared_ptr<Node> node = Find(*relative);
    if (node == nullptr || !node->folder) return false;
    node->durableEntries = node->entries;
    return true;
}

}  // namespace test_support
