#include "host/fwupgrade/card/ModemManager.h"

#include <systemd/sd-bus.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace fwupgrade {

namespace {

constexpr const char* kService = "org.freedesktop.ModemManager1";
constexpr const char* kManagerObject = "/org/freedesktop/ModemManager1";
constexpr const char* kManagerInterface = "org.freedesktop.ModemManager1";
constexpr const char* kModemInterface = "org.freedesktop.ModemManager1.Modem";
constexpr const char* kDeviceProperty = "Device";
constexpr const char* kAddressVariable = "FWUPGRADE_DBUS_ADDRESS";
// A ModemManager that hangs holds the run up for this long at most.
constexpr uint64_t kCallTimeoutUsec = 5'000'000;

struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;
using Append = int (*)(sd_bus_message* call, const void* arguments);

struct Target {
    const char* service;
    const char* object;
    const char* interface;
};
constexpr Target kBusDriver = {"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus"};
constexpr Target kManager = {kService, kManagerObject, kManagerInterface};
constexpr Target kObjectManager = {kService, kManagerObject, "org.freedesktop.DBus.ObjectManager"};

// The reply, or nullptr with the error's text. A call never starts a
// service that is not running: a ModemManager started by this would probe
// the card.
Message Call(sd_bus* bus, const Target& target, const char* member, Append append, const void* arguments,
             std::string& error) {
    sd_bus_message* raw = nullptr;
    int r = sd_bus_message_new_method_call(bus, &raw, target.service, target.object, target.interface, member);
    const Message call(raw);
    if (r >= 0) r = sd_bus_message_set_auto_start(raw, 0);
    if (r >= 0 && append) r = append(raw, arguments);
    if (r < 0) {
        error = std::strerror(-r);
        return nullptr;
    }
    sd_bus_error failure{};   // SD_BUS_ERROR_NULL, without its C compound literal
    sd_bus_message* reply = nullptr;
    r = sd_bus_call(bus, raw, kCallTimeoutUsec, &failure, &reply);
    if (r < 0) error = failure.message ? failure.message : std::strerror(-r);
    sd_bus_error_free(&failure);
    return Message(reply);
}

int AppendServiceName(sd_bus_message* call, const void*) { return sd_bus_message_append(call, "s", kService); }

struct InhibitArguments {
    const std::string& uid;
    bool inhibit;
};

int AppendInhibit(sd_bus_message* call, const void* arguments) {
    const auto* given = static_cast<const InhibitArguments*>(arguments);
    return sd_bus_message_append(call, "sb", given->uid.c_str(), static_cast<int>(given->inhibit));
}

bool SetInhibited(sd_bus* bus, const std::string& uid, bool inhibit, std::string& error) {
    const InhibitArguments arguments{uid, inhibit};
    return Call(bus, kManager, "InhibitDevice", AppendInhibit, &arguments, error) != nullptr;
}

// The system bus, or the bus FWUPGRADE_DBUS_ADDRESS names; nullptr with the error.
sd_bus* OpenBus(std::string& error) {
    sd_bus* bus = nullptr;
    const char* address = std::getenv(kAddressVariable);
    int r = 0;
    if (address && *address) {
        r = sd_bus_new(&bus);
        if (r >= 0) r = sd_bus_set_address(bus, address);
        if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
        if (r >= 0) r = sd_bus_start(bus);
    } else {
        r = sd_bus_open_system(&bus);
    }
    if (r >= 0) return bus;
    error = std::strerror(-r);
    sd_bus_close_unref(bus);
    return nullptr;
}

std::optional<bool> ServiceRuns(sd_bus* bus, std::string& error) {
    const Message reply = Call(bus, kBusDriver, "NameHasOwner", AppendServiceName, nullptr, error);
    int owned = 0;
    if (!reply) return std::nullopt;
    if (const int r = sd_bus_message_read(reply.get(), "b", &owned); r < 0) {
        error = std::strerror(-r);
        return std::nullopt;
    }
    return owned != 0;
}

// Reads one interface's properties (a{sv}), adding its Device to `devices`.
int ReadDeviceProperty(sd_bus_message* reply, std::vector<std::string>& devices) {
    int r = sd_bus_message_enter_container(reply, 'a', "{sv}");
    while (r >= 0 && (r = sd_bus_message_enter_container(reply, 'e', "sv")) > 0) {
        const char* name = nullptr;
        const char* contents = nullptr;
        r = sd_bus_message_read(reply, "s", &name);
        if (r >= 0) r = sd_bus_message_peek_type(reply, nullptr, &contents);
        const char* device = nullptr;
        if (r >= 0 && std::strcmp(name, kDeviceProperty) == 0 && std::strcmp(contents, "s") == 0) {
            r = sd_bus_message_read(reply, "v", "s", &device);
            if (r >= 0) devices.emplace_back(device);
        } else if (r >= 0) {
            r = sd_bus_message_skip(reply, "v");
        }
        if (r >= 0) r = sd_bus_message_exit_container(reply);
    }
    return r < 0 ? r : sd_bus_message_exit_container(reply);
}

// Reads one object's interfaces (a{sa{sv}}), keeping the modem's Device.
int ReadObjectInterfaces(sd_bus_message* reply, std::vector<std::string>& devices) {
    int r = sd_bus_message_enter_container(reply, 'a', "{sa{sv}}");
    while (r >= 0 && (r = sd_bus_message_enter_container(reply, 'e', "sa{sv}")) > 0) {
        const char* interface = nullptr;
        r = sd_bus_message_read(reply, "s", &interface);
        if (r >= 0)
            r = std::strcmp(interface, kModemInterface) == 0 ? ReadDeviceProperty(reply, devices)
                                                             : sd_bus_message_skip(reply, "a{sv}");
        if (r >= 0) r = sd_bus_message_exit_container(reply);
    }
    return r < 0 ? r : sd_bus_message_exit_container(reply);
}

// The Device of every modem ModemManager knows (GetManagedObjects).
std::optional<std::vector<std::string>> ModemDevices(sd_bus* bus, std::string& error) {
    const Message reply = Call(bus, kObjectManager, "GetManagedObjects", nullptr, nullptr, error);
    if (!reply) return std::nullopt;
    std::vector<std::string> devices;
    int r = sd_bus_message_enter_container(reply.get(), 'a', "{oa{sa{sv}}}");
    while (r >= 0 && (r = sd_bus_message_enter_container(reply.get(), 'e', "oa{sa{sv}}")) > 0) {
        r = sd_bus_message_skip(reply.get(), "o");
        if (r >= 0) r = ReadObjectInterfaces(reply.get(), devices);
        if (r >= 0) r = sd_bus_message_exit_container(reply.get());
    }
    if (r < 0) {
        error = "unreadable list of modems: " + std::string(std::strerror(-r));
        return std::nullopt;
    }
    return devices;
}

// Inhibits the card at `device`; the line to say, and `uid` set when done.
std::string InhibitOnBus(sd_bus* bus, const std::string& device, const std::string& card, std::string& uid) {
    std::string error;
    const std::optional<bool> runs = ServiceRuns(bus, error);
    if (!runs) return "ModemManager: the system bus did not answer (" + error + "): nothing to inhibit.";
    if (!*runs) return "ModemManager is not running: nothing to inhibit.";
    const auto devices = ModemDevices(bus, error);
    if (!devices) return "ModemManager did not list its modems (" + error + "): nothing to inhibit.";
    bool known = false;
    for (const std::string& candidate : *devices) known = known || candidate == device;
    if (!known) return "ModemManager does not know " + card + " (" + device + "): nothing to inhibit.";
    if (!SetInhibited(bus, device, true, error))
        return "ModemManager did not agree to leave " + card + " alone (" + error + "); the run goes on.";
    uid = device;
    return "ModemManager leaves " + card + " alone until the run ends.";
}

}  // namespace

std::string UsbDevicePath(const platform::posix::UsbTree& tree, const std::string& usbPort) {
    std::error_code error;
    const auto path = std::filesystem::canonical(tree.sysRoot + "/bus/usb/devices/" + usbPort, error);
    return error ? std::string() : path.string();
}

ModemManagerInhibition::ModemManagerInhibition(const std::string& pinName, Say say) : say_(std::move(say)) {
    if (const auto pin = platform::posix::ParseUsbPortName(pinName)) Inhibit(pin->usbPort);
}

void ModemManagerInhibition::Inhibit(const std::string& usbPort) {
    const std::string card = "the card on USB port " + usbPort;
    const std::string device = UsbDevicePath(platform::posix::UsbTreeFromEnvironment(), usbPort);
    if (device.empty())
        return say_("ModemManager: nothing is plugged in at USB port " + usbPort + ": nothing to inhibit.");
    std::string error;
    bus_ = OpenBus(error);
    if (!bus_) return say_("ModemManager: the system bus is not reachable (" + error + "): nothing to inhibit.");
    say_(InhibitOnBus(bus_, device, card, uid_));
    // Only an inhibition needs the connection kept open.
    if (uid_.empty()) bus_ = sd_bus_flush_close_unref(bus_);
}

// A run that a signal ends through _exit never comes here: its connection
// closes with the process, and ModemManager gives the card back then too.
ModemManagerInhibition::~ModemManagerInhibition() {
    if (!bus_) return;
    std::string error;
    if (!SetInhibited(bus_, uid_, false, error))
        say_("ModemManager did not take the card back (" + error + "); closing the connection gives it back.");
    sd_bus_flush_close_unref(bus_);
}

}  // namespace fwupgrade
