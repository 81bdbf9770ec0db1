// A card that restarts comes back as a new device; if the old tty were still
// held, a real kernel would give the card another number. The run must
// therefore hold no port while it opens the next one, in any of its paths.
#include "CardRunFixture.h"

namespace backup_test {
namespace {

// Hands out the inner opener's ports and counts how many are still open
// whenever a new one is asked for.
class HoldCountingOpener final : public platform::ComPortOpener {
public:
    explicit HoldCountingOpener(platform::ComPortOpener& inner) : inner_(inner) {}

    std::unique_ptr<platform::ComPort> Open(const std::u16string& name, int32_t port) override {
        ++asked_;
        if (open_ > 0) ++askedWhileHolding_;
        std::unique_ptr<platform::ComPort> opened = inner_.Open(name, port);
        if (!opened) return nullptr;
        return std::make_unique<Counted>(std::move(opened), open_);
    }

    int Asked() const { return asked_; }
    int AskedWhileHolding() const { return askedWhileHolding_; }

private:
    class Counted final : public platform::ComPort {
    public:
        Counted(std::unique_ptr<platform::ComPort> inner, int& open) : inner_(std::move(inner)), open_(open) { ++open_; }
        ~Counted() override { --open_; }
        Counted(const Counted&) = delete;
        Counted& operator=(const Counted&) = delete;
        bool SetLine(const platform::LineSettings& settings) override { return inner_->SetLine(settings); }
        bool SetupComm(uint32_t in, uint32_t out) override { return inner_->SetupComm(in, out); }
        bool SetCommMask(uint32_t mask) override { return inner_->SetCommMask(mask); }
        bool SetCommTimeouts(const platform::PortTimeouts& timeouts) override { return inner_->SetCommTimeouts(timeouts); }
        bool PurgeComm(uint32_t flags) override { return inner_->PurgeComm(flags); }
        uint32_t QueuedInput() override { return inner_->QueuedInput(); }
        uint32_t Read(uint8_t* buffer, uint32_t count) override { return inner_->Read(buffer, count); }
        uint32_t Write(const uint8_t* data, uint32_t count) override { return inner_->Write(data, count); }
        bool IsVirtualCard() const override { return inner_->IsVirtualCard(); }

    private:
        std::unique_ptr<platform::ComPort> inner_;
        int& open_;
    };

    platform::ComPortOpener& inner_;
    int asked_ = 0;
    int askedWhileHolding_ = 0;
    int open_ = 0;
};

class PortHoldTest : public CardRunFixture {
protected:
    void SetUp() override {
        CardRunFixture::SetUp();
        platform::SetComPortOpener(&counting_);
    }
    HoldCountingOpener counting_{opener_};
};

TEST_F(PortHoldTest, AWholeUpgradeHoldsNoPortWhileItOpensTheNext) {
    Prepare(CardKind::Q7k);
    Plug(original_);
    ASSERT_EQ(Run(), 0);
    EXPECT_GE(counting_.Asked(), 4) << "the first open and one per restart at least";
    EXPECT_EQ(counting_.AskedWhileHolding(), 0);
}

TEST_F(PortHoldTest, AFailedRunAndItsRetryHoldNoPortWhileTheyOpenTheNext) {
    Prepare(CardKind::NeedsOverride);
    // The new firmware stops answering after the reset: the run fails
    // after the wipe, the retry gives the card its data back.
    Plug(original_, Faults({"answer_once_after_reset"}));
    EXPECT_EQ(Run(), -13314);
    Replug();
    RetryRestoresTheOriginalData();
    EXPECT_EQ(counting_.AskedWhileHolding(), 0);
}

}  // namespace
}  // namespace backup_test
