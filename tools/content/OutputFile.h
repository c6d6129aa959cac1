// Writes a whole file at once and fails loudly (VFileException naming the file) if any of it cannot be
// written; creates missing parent folders.
#pragma once

#include <string>
#include <vector>

namespace Content {

void writeWholeFile(const std::string& path, const std::vector<unsigned char>& bytes);

// Reads a whole file of at most maxBytes; throws VFileException when it cannot be read or is larger.
std::vector<unsigned char> readWholeFile(const std::string& path, std::size_t maxBytes);

} // namespace Content
