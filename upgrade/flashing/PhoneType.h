// Telling Q7k cards from the others by their software version text.
#pragma once

#include <string_view>

namespace upgrade {

// Number of Q7k software markers the version text contains; 0 when it does
// not carry the family marker at all.
int CountQ7kMarkers(std::string_view version);

}  // namespace upgrade
