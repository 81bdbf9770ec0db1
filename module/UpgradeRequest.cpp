#include "module/UpgradeRequest.h"

#include <cstring>

namespace module {

DualString CopyHostString(const uint8_t* bytes) {
    char16_t* wide = nullptr;
    int32_t length = 0;
    std::memcpy(&wide, bytes + offsetof(DualString, wide), sizeof wide);
    std::memcpy(&length, bytes + offsetof(DualString, length), sizeof length);
    if (wide == nullptr || length <= 0) {
        return DualString();
    }
    return DualString(wide, length);
}

UpgradeRequest CopyUpgradeRequest(const uint8_t* bytes) {
    UpgradeRequest request;
    std::memcpy(&request.field0, bytes + kRequestOffsets[0], 4);
    std::memcpy(&request.field1, bytes + kRequestOffsets[1], 4);
    std::memcpy(&request.port, bytes + kRequestOffsets[2], 4);
    std::memcpy(&request.field3, bytes + kRequestOffsets[3], 4);
    request.packageFolder = CopyHostString(bytes + kRequestOffsets[4]);
    std::memcpy(&request.field5, bytes + kRequestOffsets[5], 4);
    request.text6 = CopyHostString(bytes + kRequestOffsets[6]);
    std::memcpy(&request.field7, bytes + kRequestOffsets[7], 4);
    return request;
}

}  // namespace module
