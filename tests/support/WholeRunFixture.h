// The ground of every in-process whole run through message 1025: the host
// kit's session with the module linked in (one per suite), and a scratch
// folder that is both the current folder (the lock backup lands there) and
// the per-user data folder (the kept backups). A test puts its own clock and
// port opener in place with Enter() from its SetUp.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>

#include "host/kit/HostKit.h"
#include "module/Application.h"
#include "module/UpgradeModuleObject.h"
#include "platform/Platform.h"
#include "tests/support/TempFolder.h"

namespace test_support {

class WholeRunFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        session_ = new hostkit::HostSession();
        ASSERT_TRUE(session_->StartManager());
        module::InitialiseLibrary();
        session_->UseLinkedModule(&GetModule);
    }

    void Enter(platform::Clock& clock, platform::ComPortOpener& opener) {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(work_.path());
        ASSERT_EQ(::setenv("XDG_DATA_HOME", (work_ / "data").c_str(), 1), 0);
        platform::SetClock(&clock);
        platform::SetComPortOpener(&opener);
        session_->Log().Clear();
        session_->Display().Clear();
    }
    void TearDown() override {
        platform::SetComPortOpener(nullptr);
        platform::SetClock(nullptr);
        if (!previous_.empty()) std::filesystem::current_path(previous_);
    }

    static inline hostkit::HostSession* session_ = nullptr;
    TempFolder work_;
    std::filesystem::path previous_;
};

}  // namespace test_support
