// The card as the kernel would show it on a USB port, in a tree of plain
// folders that stands for /sys and /dev: at each appearance a fresh USB
// device under the port (the product ID of the mode, serial interfaces with
// their ttys) and a node for the card's tty, which is a link to the card's
// current pseudo-terminal. Each appearance may take another tty number, as a
// real card does when its old number is still held.
#pragma once

#include <string>
#include <vector>

#include "sim/card/Card.h"

namespace sim {

struct UsbBusOptions {
    std::string sysRoot;          // stands for /sys; "" when the card shows no USB tree
    std::string devRoot;          // stands for /dev
    std::string usbPort = "1-1";  // the port's sysfs name
    std::vector<int> ttyNumbers;  // the number wished for at each appearance, the last one repeated
};

class UsbBusTree {
public:
    explicit UsbBusTree(UsbBusOptions options) : options_(std::move(options)) {}
    ~UsbBusTree() { Leave(); }
    UsbBusTree(const UsbBusTree&) = delete;
    UsbBusTree& operator=(const UsbBusTree&) = delete;

    bool Enabled() const { return !options_.sysRoot.empty(); }

    // The card comes onto the bus in `mode` with its port at `terminal`.
    bool Appear(CardMode mode, const std::string& terminal, std::string& error);
    // The card leaves the bus: its folders and nodes go.
    void Leave();

    // The node of the card's tty now ("" while off the bus).
    const std::string& CurrentNode() const { return node_; }

private:
    int WishedNumber() const;
    std::string ClaimNode(const std::string& prefix, int wished, const std::string& target, std::string& error);

    UsbBusOptions options_;
    size_t appearances_ = 0;
    std::vector<std::string> nodes_;     // every node this card holds now
    std::vector<std::string> folders_;   // every sysfs folder it made
    std::string node_;
};

}  // namespace sim
