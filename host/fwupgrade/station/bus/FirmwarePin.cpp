#include "host/fwupgrade/station/bus/FirmwarePin.h"

#include <fstream>
#include <iterator>

#include "host/fwupgrade/run/DurableText.h"
#include "platform/posix/UsbSerial.h"

namespace fwupgrade::station {

namespace {

constexpr const char* kFileName = "firmware-pin";
constexpr size_t kLongestPin = 64;

}  // namespace

bool KeepFirmwarePin(const std::string& portFolder, const std::string& pin, std::string& error) {
    return WriteTextDurably(portFolder + "/" + kFileName, pin + "\n", error);
}

std::optional<std::string> KeptFirmwarePin(const std::string& portFolder, const std::string& usbPort,
                                           std::string& problem) {
    problem.clear();
    const std::string path = portFolder + "/" + kFileName;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.size() > kLongestPin || text.empty() || text.back() != '\n') {
        problem = path + " does not hold one line with a USB interface";
        return std::nullopt;
    }
    text.pop_back();
    const auto pin = platform::posix::ParseUsbPortName(text);
    if (!pin || pin->interfaceNumber < 0 || pin->usbPort != usbPort) {
        problem = path + " holds \"" + text + "\", not an interface of USB port " + usbPort;
        return std::nullopt;
    }
    return text;
}

}  // namespace fwupgrade::station
