// `velmora --check`: checks the data folder (./data) without drawing anything on the screen (the
// shaders are compiled in an invisible window's context). One line per problem on standard error
// and status 1 when there is any; otherwise a one-line summary on standard output and status 0.
// Warnings (a track without a file, a track file nothing reads) are printed and do not fail.
#pragma once

namespace Velmora {

int runDataCheck();

} // namespace Velmora
