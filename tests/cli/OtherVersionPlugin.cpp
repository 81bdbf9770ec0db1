// A stand-in of a plug-in whose card operations are of an earlier version:
// it answers only for version 1, before rescues without data. Its GetModule hands out an object nothing
// calls, since a program that finds no usable version must stop there.
#include <cstdint>

#include "module/CardOperationsApi.h"

namespace {

int32_t Refuse(const FwupOptions*, const char*) { return -13314; }

const FwupCardOperationTable kVersion1 = {1, nullptr, &Refuse, &Refuse, nullptr, nullptr, nullptr};

}  // namespace

extern "C" __attribute__((visibility("default"))) void* GetModule() {
    static char unusedModule[64];
    return unusedModule;
}

extern "C" const FwupCardOperationTable* FwupCardOperations(uint32_t version) {
    return version == 1 ? &kVersion1 : nullptr;
}
