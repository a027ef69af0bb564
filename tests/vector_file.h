// Reads the tab-separated known-answer vectors, one map of column name to
// value per line.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kestrune::test {

using VectorRow = std::map<std::string, std::string>;

std::vector<VectorRow> read_vector_file(const std::string& name);

}  // namespace kestrune::test
