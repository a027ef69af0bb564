#include "tests/vector_file.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kestrune::test {
namespace {

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream stream(line);
  while (std::getline(stream, field, '\t')) fields.push_back(field);
  if (!line.empty() && line.back() == '\t') fields.emplace_back();
  return fields;
}

}  // namespace

std::vector<VectorRow> read_vector_file(const std::string& name) {
  std::ifstream in(std::string(KESTRUNE_VECTORS_DIR) + "/" + name);
  if (!in) throw std::runtime_error("cannot open vector file " + name);
  std::string line;
  std::getline(in, line);
  const std::vector<std::string> columns = split_tabs(line);
  std::vector<VectorRow> rows;
  while (std::getline(in, line)) {
    const std::vector<std::string> fields = split_tabs(line);
    // A short or long line is a damaged file, not a row of empty values.
    if (fields.size() != columns.size())
      throw std::runtime_error(name + " line " + std::to_string(rows.size() + 2) + " has " +
                               std::to_string(fields.size()) + " fields, not " +
                               std::to_string(columns.size()));
    VectorRow row;
    for (std::size_t i = 0; i < columns.size(); ++i) row[columns[i]] = fields[i];
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace kestrune::test
