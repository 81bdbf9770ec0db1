#include <gtest/gtest.h>

#include "upgrade/flashing/PhoneType.h"

using upgrade::CountQ7kMarkers;

TEST(PhoneType, MarkersCountOnlyInsideTheFamily) {
    EXPECT_EQ(CountQ7kMarkers("LUM_Q7KV1.0.0B05"), 1);
    EXPECT_EQ(CountQ7kMarkers("X_Q7kV1.0.0B03_Y"), 1);
    EXPECT_EQ(CountQ7kMarkers("Q7kV1.0.0B03 Q7kV1.0.0B05"), 2);
    EXPECT_EQ(CountQ7kMarkers("Q7kV1.0.0B04"), 0) << "a B04 build is only listed with the LUM prefix";
    EXPECT_EQ(CountQ7kMarkers("LUM_Q7KV1.0.0B07"), 0);
    EXPECT_EQ(CountQ7kMarkers("W326V1.0.0B05"), 0);
    EXPECT_EQ(CountQ7kMarkers(""), 0);
    // The family marker is case-sensitive: "q7" is not Q7.
    EXPECT_EQ(CountQ7kMarkers("lum_q7kv1.0.0b05"), 0);
}
