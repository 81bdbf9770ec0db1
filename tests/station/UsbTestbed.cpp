#include "UsbTestbed.h"

#include <umockdev.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <cstdlib>
#include <cstring>

namespace fwupgrade::station_tests {

namespace {

std::string Hex(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

}  // namespace

// umockdev_in_mock_environment() tells whether a testbed exists yet, not
// whether the preload is there.
bool UnderUmockdev() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

UsbTestbed::UsbTestbed() : testbed_(umockdev_testbed_new()) {}

UsbTestbed::~UsbTestbed() {
    if (testbed_ != nullptr) g_object_unref(testbed_);
}

void UsbTestbed::Plug(const std::string& port, uint16_t vendor, uint16_t product, bool announce) {
    const std::string vendorText = Hex(vendor), productText = Hex(product);
    gchar* path = umockdev_testbed_add_device(testbed_, "usb", port.c_str(), nullptr, "idVendor", vendorText.c_str(),
                                              "idProduct", productText.c_str(), nullptr, "DEVTYPE", "usb_device",
                                              "PRODUCT", (vendorText + "/" + productText + "/0").c_str(), nullptr);
    devices_[port] = path;
    g_free(path);
    if (announce) umockdev_testbed_uevent(testbed_, devices_[port].c_str(), "add");
}

void UsbTestbed::Unplug(const std::string& port) {
    const auto device = devices_.find(port);
    if (device == devices_.end()) return;
    umockdev_testbed_uevent(testbed_, device->second.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, device->second.c_str());
    devices_.erase(device);
}

bool UsbTestbed::WaitForListener() const {
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    const std::string folder = root;
    g_free(root);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.path().filename().string().rfind("event", 0) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void UsbTestbed::Reenumerate(const std::string& port, uint16_t product) {
    Unplug(port);
    Plug(port, 0x2e1a, product);
}

}  // namespace fwupgrade::station_tests
