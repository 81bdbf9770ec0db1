// Any bytes from the host to the virtual card, in each of its modes: AT
// commands, the firmware's diagnostic port, the boot downloader and the
// flash programmer. Whatever it is sent, every frame the card answers with
// is well formed (its check sequence holds), so the card never feeds the
// module's decoders garbage of its own making.
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz/common/FuzzInput.h"
#include "fuzz/common/VirtualTime.h"
#include "packet/Codec.h"
#include "sim/card/Card.h"
#include "sim/card/Hdlc.h"
#include "sim/frontends/ProgrammerStandIn.h"

namespace {

void Require(bool property) {
    if (!property) std::abort();
}

sim::Bytes Frame(const sim::Bytes& body, bool leadingFlag) { return sim::BuildFrame(body, leadingFlag); }

void Drain(sim::Card& card) {
    std::vector<uint8_t> out(card.Available());
    card.Read(out.data(), out.size());
}

// Lets a mode change finish: the card leaves the bus and comes back.
void Reenumerate(sim::Card& card) {
    fuzz::InstallVirtualTime().Advance(200);
    card.Present();
    fuzz::InstallVirtualTime().Advance(2000);
    card.Present();
    Drain(card);
}

sim::CardData SmallCard(bool atMode) {
    sim::CardData data = sim::DefaultCardData();
    data.startInAtMode = atMode;
    for (auto& [name, partition] : data.partitions) {
        partition.content.resize(std::min<size_t>(partition.content.size(), 256));
    }
    return data;
}

// The card in the boot downloader, and then running the programmer.
void ToDownloader(sim::Card& card) {
    card.Receive(Frame({0x3A}, false));
    Reenumerate(card);
}

void ToProgrammer(sim::Card& card) {
    ToDownloader(card);
    const sim::Bytes image = sim::ProgrammerStandIn();
    for (size_t offset = 0; offset < image.size(); offset += 1017) {
        const size_t n = std::min<size_t>(1017, image.size() - offset);
        const uint32_t a = static_cast<uint32_t>(0x00500000 + offset);
        sim::Bytes body = {0x0F, static_cast<uint8_t>(a >> 24), static_cast<uint8_t>(a >> 16),
                           static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a), static_cast<uint8_t>(n >> 8),
                           static_cast<uint8_t>(n)};
        body.insert(body.end(), image.begin() + static_cast<std::ptrdiff_t>(offset),
                    image.begin() + static_cast<std::ptrdiff_t>(offset + n));
        card.Receive(Frame(body, true));
        Drain(card);
    }
    card.Receive(Frame({0x05, 0x00, 0x50, 0x00, 0x00}, true));
    Reenumerate(card);
}

const std::vector<sim::Card>& Templates() {
    static const std::vector<sim::Card>* const cards = [] {
        fuzz::InstallVirtualTime();
        auto* out = new std::vector<sim::Card>();
        out->emplace_back(SmallCard(true));
        out->emplace_back(SmallCard(false));
        out->emplace_back(SmallCard(false));
        ToDownloader(out->back());
        out->emplace_back(SmallCard(false));
        ToProgrammer(out->back());
        if (out->at(0).Mode() != sim::CardMode::AtCommand || out->at(1).Mode() != sim::CardMode::Diagnostic ||
            out->at(2).Mode() != sim::CardMode::BootDownloader || out->at(3).Mode() != sim::CardMode::FlashProgrammer) {
            std::abort();
        }
        return out;
    }();
    return *cards;
}

// Every closed frame of the card's output checks. Text (the AT replies)
// stands outside frames and is skipped.
void CheckFrames(const std::vector<uint8_t>& out) {
    packet::codec::ForEachStreamingFrame(out, [](std::span<const uint8_t> frame) {
        if (frame.empty()) return;
        std::vector<uint8_t> plain(frame.size());
        const size_t n = packet::codec::Unescape(frame, plain).length;
        Require(packet::codec::CheckFcs(std::span<const uint8_t>(plain.data(), n)));
    });
}

bool HasText(const std::vector<uint8_t>& out) {
    for (uint8_t b : out) {
        if (b == '\r' || b == '\n') return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto& templates = Templates();
    fuzz::FuzzInput in(data, size);
    // One card for the whole run, set to a template's whole state for each
    // input: assigning reuses the storage of the last input's card, where a
    // fresh copy would allocate the downloader's megabyte of RAM anew.
    static sim::Card* const shared = new sim::Card(templates[0]);
    sim::Card& card = *shared;
    card = templates[in.U8() % templates.size()];
    // The host's bytes arrive in pieces, with pauses between them.
    std::vector<uint8_t> out;
    while (!in.Empty()) {
        const uint8_t piece = in.U8();
        card.Receive(in.Bytes(piece == 0 ? 1 : piece));
        if ((piece & 0x80) != 0) fuzz::InstallVirtualTime().Advance(piece);
        std::vector<uint8_t> got(card.Available());
        got.resize(card.Read(got.data(), got.size()));
        out.insert(out.end(), got.begin(), got.end());
    }
    fuzz::InstallVirtualTime().Advance(4000);
    std::vector<uint8_t> got(card.Available());
    got.resize(card.Read(got.data(), got.size()));
    out.insert(out.end(), got.begin(), got.end());
    if (!HasText(out)) CheckFrames(out);
    return 0;
}
