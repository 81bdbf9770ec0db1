#include "upgrade/run/PackagePath.h"

#include "platform/Platform.h"

namespace upgrade {

bool JoinPackagePath(std::u16string_view folder, std::u16string_view fileName, std::u16string& out) {
    const size_t units = folder.size() + 1 + fileName.size() + 1;   // separator and terminator
    if (units > kPathCapacity) return false;
    std::u16string joined;
    joined.reserve(units);
    joined.append(folder);
    joined.push_back(platform::PathSeparator());
    joined.append(fileName);
    out = std::move(joined);
    return true;
}

}  // namespace upgrade
