#include "tools/synth/Process.h"

#include "base/Process.h"

namespace Synth {

int runCapture(const std::vector<std::string>& args, std::string& output) {
    output.clear();
    if (args.empty()) {
        return -1;
    }
    Velmora::ProcessDesc desc;
    desc.program = Velmora::findProgramOnPath(args[0]);
    if (desc.program.empty()) {
        return -1;
    }
    desc.arguments.assign(args.begin() + 1, args.end());
    desc.captureOutput = true;
    desc.ownProcessGroup = false;
    Velmora::ChildProcess process;
    std::string error;
    if (!process.start(desc, error)) {
        return -1;
    }
    output = process.readAllOutput();
    const Velmora::ExitStatus status = process.wait();
    return status.exited ? status.code : -1;
}

} // namespace Synth
