// The record the module-manager agent hands to the host's module manager
// (message 1025): target identifier, target instance, message code, input
// length, input address, output length, output address, result length,
// result address. On a 32-bit build these are nine 32-bit little-endian
// fields (36 bytes). On a 64-bit build the three addresses are pointer-wide
// and aligned to 8, which makes the record 56 bytes; the field order stays.
// The buffers belong to the sender and are valid only during the call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace module {

struct ModuleRoute {
    int32_t targetId = 0;
    int32_t targetInstance = 0;
    int32_t message = 0;
    int32_t inLength = 0;
    void* inBuffer = nullptr;
    int32_t outLength = 0;
    void* outBuffer = nullptr;
    int32_t resultLength = 0;
    void* resultBuffer = nullptr;
};

#if UINTPTR_MAX == 0xFFFFFFFF
constexpr size_t kModuleRouteSize = 36;
constexpr size_t kRouteOffsets[9] = {0, 4, 8, 12, 16, 20, 24, 28, 32};
#else
constexpr size_t kModuleRouteSize = 56;
constexpr size_t kRouteOffsets[9] = {0, 4, 8, 12, 16, 24, 32, 40, 48};
#endif
static_assert(sizeof(ModuleRoute) == kModuleRouteSize);
static_assert(offsetof(ModuleRoute, targetId) == kRouteOffsets[0] &&
              offsetof(ModuleRoute, targetInstance) == kRouteOffsets[1] &&
              offsetof(ModuleRoute, message) == kRouteOffsets[2] &&
              offsetof(ModuleRoute, inLength) == kRouteOffsets[3] &&
              offsetof(ModuleRoute, inBuffer) == kRouteOffsets[4] &&
              offsetof(ModuleRoute, outLength) == kRouteOffsets[5] &&
              offsetof(ModuleRoute, outBuffer) == kRouteOffsets[6] &&
              offsetof(ModuleRoute, resultLength) == kRouteOffsets[7] &&
              offsetof(ModuleRoute, resultBuffer) == kRouteOffsets[8]);

// Writes the record field by field at its offsets (bytes: kModuleRouteSize).
inline void EncodeModuleRoute(const ModuleRoute& route, uint8_t* bytes) {
    std::memset(bytes, 0, kModuleRouteSize);
    std::memcpy(bytes + kRouteOffsets[0], &route.targetId, 4);
    std::memcpy(bytes + kRouteOffsets[1], &route.targetInstance, 4);
    std::memcpy(bytes + kRouteOffsets[2], &route.message, 4);
    std::memcpy(bytes + kRouteOffsets[3], &route.inLength, 4);
    std::memcpy(bytes + kRouteOffsets[4], &route.inBuffer, sizeof(void*));
    std::memcpy(bytes + kRouteOffsets[5], &route.outLength, 4);
    std::memcpy(bytes + kRouteOffsets[6], &route.outBuffer, sizeof(void*));
    std::memcpy(bytes + kRouteOffsets[7], &route.resultLength, 4);
    std::memcpy(bytes + kRouteOffsets[8], &route.resultBuffer, sizeof(void*));
}

// Reads a record written by a sender (bytes: kModuleRouteSize).
inline ModuleRoute DecodeModuleRoute(const uint8_t* bytes) {
    ModuleRoute route;
    std::memcpy(&route.targetId, bytes + kRouteOffsets[0], 4);
    std::memcpy(&route.targetInstance, bytes + kRouteOffsets[1], 4);
    std::memcpy(&route.message, bytes + kRouteOffsets[2], 4);
    std::memcpy(&route.inLength, bytes + kRouteOffsets[3], 4);
    std::memcpy(&route.inBuffer, bytes + kRouteOffsets[4], sizeof(void*));
    std::memcpy(&route.outLength, bytes + kRouteOffsets[5], 4);
    std::memcpy(&route.outBuffer, bytes + kRouteOffsets[6], sizeof(void*));
    std::memcpy(&route.resultLength, bytes + kRouteOffsets[7], 4);
    std::memcpy(&route.resultBuffer, bytes + kRouteOffsets[8], sizeof(void*));
    return route;
}

}  // namespace module
