// The real file system with a look at each rename before it is made (for
// tests): a test stops a run there, e.g. by killing the process.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "tests/support/PassThroughFileSystem.h"

namespace test_support {

class RenameWatch : public PassThroughFileSystem {
public:
    // Called with the number of the rename (from 1) and its target.
    using BeforeRename = std::function<void(uint32_t, const std::u16string&)>;

    void Watch(BeforeRename before) {
        before_ = std::move(before);
        renames_ = 0;
    }
    uint32_t Renames() const { return renames_; }

    bool ReplaceFile(const std::u16string& source, const std::u16string& target) override {
        ++renames_;
        if (before_) before_(renames_, target);
        return Real().ReplaceFile(source, target);
    }

private:
    BeforeRename before_;
    uint32_t renames_ = 0;
};

}  // namespace test_support
