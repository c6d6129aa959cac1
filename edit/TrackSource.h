// The show's tracks as the edit mode sees them: the fixed list of names, where each one's text
// source and compiled file live, the names of the interpolations on the API, and the text source
// written back from a list of keys (keeping the author's comments).
//
// Pure data and text: no files are read or written here, no GL.
#pragma once

#include "sync/TrackData.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Velmora {

namespace TrackSource {

// Every track the show reads, in the order the show asks for them ("e" last). Requests may name
// only these: no name reaches the file system unless it is in this list.
const std::vector<std::string>& trackNames();
bool isTrackName(const std::string& name);

// "./data/science/src/NAME.txt" and "./data/science/sync_NAME.track".
std::string sourcePath(const std::string& name);
std::string compiledPath(const std::string& name);
// The track named by a source or compiled file path in the watched folders, if any.
std::optional<std::string> trackOfSource(const std::string& path);
std::optional<std::string> trackOfCompiled(const std::string& path);

// The track files' names ("constant", "linear", "smoothstep", "quadratic") for codes 0..3; null
// otherwise.
const char* apiInterpolationName(std::int32_t code);
// The code of one of those names (exactly, in lower case); nullopt for anything else.
std::optional<std::int32_t> apiInterpolationCode(const std::string& name);

// The shortest decimal text that reads back as exactly this float ("0.1" for 0.1f).
std::string shortestFloatText(float value);
// The same, as the double a JSON writer prints with that text.
double shortestFloatValue(float value);

// The text source of `keys` (sorted, one key a line). The comment lines and blank lines at the top
// of `previous` (the file being replaced) are kept, and so is the comment at the end of a key line
// whose row still has a key.
std::string writeSource(const std::vector<TrackKey>& keys, const std::string& previous);

// The source `previous` with only the lines of keys that changed rewritten for `keys` (sorted):
// comments, blank lines, the order of the lines and their columns stay; a removed key's line goes,
// a new key's line goes after the line of the nearest row before it. Nullopt when `previous` does
// not parse, or the result would not read back as exactly `keys`.
std::optional<std::string> editSource(const std::string& previous, const std::vector<TrackKey>& keys);

// What a source says its track does: the comment lines at its top, up to the first blank or key
// line, without their '#' and with the leading "NAME:" of the first line dropped; lines joined by
// '\n'. Empty when the source starts with a key.
std::string description(const std::string& name, const std::string& text);

} // namespace TrackSource

} // namespace Velmora
