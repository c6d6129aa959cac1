// The check of the data folder the show reads (./data, relative to the working folder): used by
// `velmora --check`, which an author runs on the folder being worked on, and before the off-screen
// runs draw anything, so that they never produce a video of a broken show.
//
// Problems name the file as the program reads it and, where known, the line. A track that the
// scene reads but no file provides is only a warning: the design makes it an empty track (0).
#pragma once

#include "demo/ShowData.h"

#include <string>
#include <utility>
#include <vector>

namespace Velmora {

struct DataProblem {
    std::string file; // "./data/shaders/bleh.fs"
    int line = 0;     // 0: the file as a whole
    std::string message;
    bool warning = false;
};

// "FILE:LINE: error: MESSAGE" (no line part for 0; "warning" for warnings), on one line: line
// breaks in the message become " / ".
std::string formatProblem(const DataProblem& problem);

struct DataCheckResult {
    std::vector<DataProblem> problems; // warnings included, in the order found
    // What was seen, for the summary line.
    int programs = 0;
    int tracksWithoutFile = 0;
    double musicSeconds = -1.0;   // the soundtrack's length, when it could be read
    double showEndSeconds = -1.0; // where the end track first goes below 0; -1: it never does

    int errors() const;
    int warnings() const;
};

enum class DataCheckDepth {
    // Before an off-screen run: every file present (tracks may be missing), a regular file within
    // its size limit, readable; the sprite decodes, the point clouds hold points, the soundtrack
    // opens as MPEG audio, the shader sources and track files can be read.
    Readable,
    // --check: also the point clouds parsed in full (finite coordinates, whole records or lines),
    // every track's keys (sorted, finite, known interpolations, a well-formed file), track files
    // that nothing reads, the whole soundtrack decoded and its length against the end track.
    Thorough,
};

// Checks the files of Demo::showData(); no GL needed.
DataCheckResult checkDataFiles(DataCheckDepth depth);

// Builds each program of Demo::showData() in the current GL context and adds the problems of those that
// do not compile or link (file, line, the driver's message); each problem once.
void checkShaderPrograms(DataCheckResult& result);

// The problems of every live ShaderProgram that did not link (after the show's objects were made),
// each once.
std::vector<DataProblem> unlinkedProgramProblems();

} // namespace Velmora
