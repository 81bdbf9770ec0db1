// The markdown table of the matrix's scenarios and their outcomes.
#pragma once

#include <string>
#include <vector>

#include "tests/matrix/MatrixRun.h"

namespace matrix {

struct DocRow {
    Scenario scenario;
    Outcome outcome;
    std::string knownFault;   // why it is not run yet ("" when it ran)
};

std::string DocText(const std::vector<DocRow>& rows);
bool WriteDoc(const std::string& path, const std::vector<DocRow>& rows);

}  // namespace matrix
