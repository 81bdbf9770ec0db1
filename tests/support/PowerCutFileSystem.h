// A disk that loses power (for tests; nothing that ships links it).
//
// Everything below a root folder is kept in memory, loaded from the real
// folder at the start; other paths go to the real file system. A write stays
// pending until its file is flushed, and a new entry, a rename or a removal
// stays pending until its folder is synced. Every call that touches the root
// is one numbered operation; at the operation chosen for the cut, that call
// and every one after it fail, and the disk the next run finds is computed
// from what was durable, with each way the pending work may have ended.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace test_support {

// What became of writes not yet flushed when the power went.
enum class PendingWrites { Dropped, Kept, Torn };
constexpr uint32_t kSectorBytes = 512;

struct CutOutcome {
    PendingWrites writes = PendingWrites::Dropped;
    bool entriesUndone = true;   // renames, new entries and removals not yet synced are undone
    std::string Name() const;
};
// Every combination, in a fixed order.
std::vector<CutOutcome> AllCutOutcomes();

// What a disk holds below the root: files by relative path, and folders.
struct DiskImage {
    std::map<std::string, std::vector<uint8_t>> files;
    std::set<std::string> folders;
    bool operator==(const DiskImage&) const = default;
};

struct FileOperation {
    uint64_t number = 0;   // from 1
    std::string kind;      // "open", "create", "read", "write", "flush", "mkdir", "exists", "remove", "rename", "list", "sync"
    std::string path;      // relative to the root
};

class PowerCutFileSystem : public platform::FileSystem {
public:
    explicit PowerCutFileSystem(std::string root);
    ~PowerCutFileSystem() override;

    // The disk starts as this image, all of it durable; operations count from 1 again.
    void Load(const DiskImage& image);
    const std::string& Root() const { return root_; }

    // Cuts the power at that operation (0: never); onCut runs as it happens.
    void CutAt(uint64_t operation, std::function<void()> onCut = {});
    bool PowerCut() const { return cut_; }
    const std::vector<FileOperation>& Operations() const { return operations_; }

    // What the disk would hold if the power went now.
    DiskImage Durable(const CutOutcome& outcome) const;
    // What the process sees now (every pending write and entry in place).
    DiskImage Visible() const;
    // Files of the image that hold neither the content they had before the
    // last replacement nor the one after it (temporary ".new" files aside),
    // and files that were replaced and are gone; one line each.
    std::vector<std::string> NeitherOldNorNew(const DiskImage& image) const;

    std::unique_ptr<platform::FileHandle> OpenRead(const std::u16string& path) override;
    std::unique_ptr<platform::FileHandle> CreateWrite(const std::u16string& path) override;
    bool CreateDirectory(const std::u16string& path) override;
    bool PathExists(const std::u16string& path) override;
    bool RemoveFile(const std::u16string& path) override;
    bool ReplaceFile(const std::u16string& source, const std::u16string& target) override;
    std::vector<std::u16string> ListFolder(const std::u16string& folder) override;
    bool SyncFolder(const std::u16string& folder) override;

    struct Node;
    // Counts one operation on a path below the root; false once the power is cut.
    bool Operate(const std::string& kind, const std::string& path);

private:
    using Version = std::optional<std::vector<uint8_t>>;

    // The path relative to the root; nullopt when it lies outside.
    std::optional<std::string> Inside(const std::u16string& path) const;
    std::shared_ptr<Node> Find(const std::string& relative) const;
    std::shared_ptr<Node> ParentOf(const std::string& relative, std::string& name) const;
    void NoteVersion(const std::string& relative, Version version);

    std::string root_;
    std::unique_ptr<platform::FileSystem> real_;
    std::shared_ptr<Node> top_;
    std::vector<FileOperation> operations_;
    uint64_t cutAt_ = 0;
    bool cut_ = false;
    std::function<void()> onCut_;
    // Each file's whole contents as renames and removals left them, oldest first.
    std::map<std::string, std::vector<Version>> versions_;
};

// Reads a real folder into an image.
DiskImage ReadDiskImage(const std::string& root);

}  // namespace test_support
