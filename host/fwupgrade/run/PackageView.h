// The working folder of one card when several are flashed at once. The
// module writes "channel.nvm" into the package folder and the lock backup
// file into the current folder, so every card gets a folder of its own with
// a view of the package: links to the image files, no copies.
//
//   <root>/card<N>/            current folder of the card's worker
//   <root>/card<N>/package/    links to the package files; channel.nvm lands here
#pragma once

#include <string>

namespace fwupgrade {

struct CardFolder {
    std::string folder;    // absolute
    std::string package;   // absolute, the view of the package
};

// Creates (or refreshes) the folder of card `index` below `root`. Links point
// at the absolute paths of the package files that exist; nothing else is
// linked, so no card's backups can end up in the shared package. Returns
// false with `error` set when a folder or link cannot be made.
bool MakeCardFolder(const std::string& root, size_t index, const std::string& package, CardFolder& out,
                    std::string& error);

// The absolute form of a path (the current folder prepended when relative).
std::string AbsolutePath(const std::string& path);

// One name for every path of the same device: the resolved path when it
// exists (links such as /dev/serial/by-id/... included), else the absolute one.
std::string SameDeviceKey(const std::string& path);

}  // namespace fwupgrade
