// How our temporary files are named, shared by the platform files: beside a file NEAR,
// ".NEAR-PID-XXXXXX" + suffix (NEAR shortened so that the whole name fits); in the temporary
// folder, "velmora-PID-XXXXXX" + suffix. The process id lets removeAbandonedTemporaries (Files.h)
// recognise the files of a process that was killed before it could remove them.
#pragma once

#include <cstddef>
#include <string>

namespace Velmora::TemporaryNames {

// Longest name of one folder entry (bytes on Linux, UTF-16 units on Windows: either way 255).
constexpr std::size_t nameLimit = 255;
// Length of the random part that ends the name before the suffix.
constexpr std::size_t randomLength = 6;

// The folder of the temporary files for `near` (the temporary folder when `near` is empty).
std::string folderFor(const std::string& near);

// Everything before the random part: "FOLDER/STEM-PID-".
std::string start(const std::string& near, const std::string& suffix, long processId);

// The process id in `name` (a name in folderFor(near)) when it is named as a temporary file for
// (near, suffix); -1 when it is not one of ours.
long ownerOf(const std::string& name, const std::string& near, const std::string& suffix);

} // namespace Velmora::TemporaryNames
