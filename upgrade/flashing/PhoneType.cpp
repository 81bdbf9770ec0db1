#include "upgrade/flashing/PhoneType.h"

namespace upgrade {

int CountQ7kMarkers(std::string_view version) {
    if (version.find("Q7") == std::string_view::npos) return 0;
    static constexpr std::string_view kMarkers[] = {
        "Q7kV1.0.0B03", "Q7kV1.0.0B05", "LUM_Q7KV1.0.0B04", "LUM_Q7KV1.0.0B05", "LUM_Q7KV1.0.0B06",
    };
    int count = 0;
    for (std::string_view marker : kMarkers)
        if (version.find(marker) != std::string_view::npos) ++count;
    return count;
}

}  // namespace upgrade
