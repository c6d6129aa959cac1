#include "tests/support/TestProcess.h"

#include "base/Files.h"
#include "base/Process.h"
#include "tests/support/TestFiles.h"

namespace VelmoraTest {

RunResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const RunOptions& options) {
    RunResult result;
    ScratchFolder outputs("run");
    Velmora::ProcessDesc desc;
    desc.program = program;
    desc.arguments = arguments;
    desc.pipeInput = true;
    desc.outputFile = outputs.file("out");
    desc.errorFile = outputs.file("err");
    desc.environment = options.environment;
    desc.workingDirectory = options.workingDirectory;
    Velmora::ChildProcess child;
    std::string error;
    if (!child.start(desc, error)) {
        result.err = "cannot start " + program + ": " + error;
        return result;
    }
    // A program that does not read its input has it closed under it: that is no failure here.
    if (!options.input.empty()) {
        child.writeInput(options.input.data(), options.input.size(), error);
    }
    child.closeInput();
    const std::optional<Velmora::ExitStatus> status = child.waitFor(options.timeoutSeconds);
    if (!status) {
        child.kill();
        child.wait();
    } else if (status->exited) {
        result.status = status->code;
    }
    result.out = readFile(desc.outputFile);
    result.err = readFile(desc.errorFile);
    return result;
}

std::string findProgram(const std::string& name) {
    return Velmora::findProgramOnPath(name);
}

} // namespace VelmoraTest
