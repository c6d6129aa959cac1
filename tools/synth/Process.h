// Runs the external programs the tool relies on (the MP3 encoder, the loudness meter) directly,
// without a shell, so paths need no quoting.
#pragma once

#include <string>
#include <vector>

namespace Synth {

// Runs `args` (args[0] looked up on the PATH) with an empty standard input and collects its
// standard output and error in `output`. Returns its exit status, or -1 when it could not be
// started or was killed.
int runCapture(const std::vector<std::string>& args, std::string& output);

} // namespace Synth
