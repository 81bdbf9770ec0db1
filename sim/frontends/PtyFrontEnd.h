// The card on a pseudo-terminal: raw mode, a stable link path to the current
// terminal, a re-enumeration at every mode change (the old terminal hangs up,
// the link disappears, a new terminal appears under the same link once the
// card is back on the bus), an optional Wine dosdevices link, and an optional
// stand-in sysfs tree that shows the card on a USB port.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>

#include "sim/card/Card.h"
#include "sim/frontends/UsbBusTree.h"

namespace sim {

struct FrontEndOptions {
    std::string link;            // stable path of the current terminal
    std::string wineDosDevice;   // e.g. ~/.wine/dosdevices/com5; "" when unused
    std::string stateOut;        // state JSON written on exit and on request
    UsbBusOptions usb;           // the card's USB port in a stand-in sysfs tree; unused when its root is ""
    // The longest the front end sleeps when neither the host nor the card's
    // own schedule wakes it; signals wake it at once.
    uint32_t idleWaitMs = 50;
};

class PtyFrontEnd {
public:
    PtyFrontEnd(Card& card, FrontEndOptions options);
    ~PtyFrontEnd();
    PtyFrontEnd(const PtyFrontEnd&) = delete;
    PtyFrontEnd& operator=(const PtyFrontEnd&) = delete;

    // Serves until `stop` becomes non-zero; writes the state file whenever
    // `dumpState` is set (and clears it) and once more at the end.
    // Returns 0, or 1 when the terminal or the link cannot be made.
    int Run(volatile std::sig_atomic_t& stop, volatile std::sig_atomic_t& dumpState);

    bool WriteState(std::string& error);

private:
    bool OpenTerminal(std::string& error);
    void HangUp();
    void Pump();
    int WaitMs();

    Card& card_;
    FrontEndOptions options_;
    UsbBusTree usbTree_;
    int master_ = -1;
    int slave_ = -1;
    uint32_t generation_ = 0;
    std::string pending_;   // output the terminal did not take yet
};

// Points `link` at `target` in one step (a temporary link renamed over it).
bool ReplaceSymlink(const std::string& target, const std::string& link, std::string& error);

}  // namespace sim
