#include "tests/edit/EditFixture.h"

#include "base/Files.h"

#include <stb_image.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <elf.h>
#endif

#ifndef VELMORA_BINARY
#error "VELMORA_BINARY must name the program"
#endif
#ifndef VELMORA_SOURCE_DIR
#error "VELMORA_SOURCE_DIR must name the source tree"
#endif

namespace EditTest {

namespace fs = std::filesystem;

namespace {

// The exit status of a program whose only sanitizer reports are leaks.
constexpr int leakExitCode = 66;

// The offsets of the program's file that hold machine code (its executable segments). A frame the
// sanitizer names as "program+0xOFFSET" outside them is not our code: the software rasteriser's
// compiled shaders run from memory mapped next to the program, and the unwinder stops there.
std::vector<std::pair<uint64_t, uint64_t>> codeOfProgram() {
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
#if defined(__linux__)
    std::ifstream file(VELMORA_BINARY, std::ios::binary);
    Elf64_Ehdr header{};
    if (!file.read(reinterpret_cast<char*>(&header), sizeof header) ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_phentsize != sizeof(Elf64_Phdr)) {
        return {{0, UINT64_MAX}};
    }
    for (int i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr segment{};
        file.seekg(static_cast<std::streamoff>(header.e_phoff + i * sizeof segment));
        if (!file.read(reinterpret_cast<char*>(&segment), sizeof segment)) {
            return {{0, UINT64_MAX}};
        }
        if (segment.p_type == PT_LOAD && (segment.p_flags & PF_X) != 0) {
            ranges.emplace_back(segment.p_vaddr, segment.p_vaddr + segment.p_memsz);
        }
    }
#else
    ranges.emplace_back(0, UINT64_MAX);
#endif
    return ranges;
}

// Whether one frame of a sanitizer's report is code of ours: a source file of the tree (tests
// aside), or the program's own code by its offset.
bool frameIsOurs(const std::string& frame, const std::vector<std::pair<uint64_t, uint64_t>>& code) {
    const std::string program = std::string(VELMORA_BINARY) + "+0x";
    const size_t inProgram = frame.find(program);
    if (inProgram != std::string::npos) {
        const uint64_t offset = std::strtoull(frame.c_str() + inProgram + program.size(), nullptr, 16);
        for (const auto& [from, to] : code) {
            if (offset >= from && offset < to) {
                return true;
            }
        }
        return false;
    }
    const std::string source = VELMORA_SOURCE_DIR;
    for (size_t at = frame.find(source); at != std::string::npos; at = frame.find(source, at + 1)) {
        if (frame.compare(at + source.size(), 7, "/tests/") != 0 &&
            frame.compare(at + source.size(), 6, "/build") != 0) {
            return true;
        }
    }
    return false;
}

} // namespace

std::string readFile(const std::string& path) {
    return VelmoraTest::readFile(path);
}

void writeFile(const std::string& path, const std::string& bytes) {
    VelmoraTest::writeFile(path, bytes);
}

bool renameOver(const std::string& from, const std::string& to) {
    std::string error;
    return Velmora::renameFile(from, to, error);
}

EditProcess::EditProcess(std::vector<std::string> arguments,
                         const std::function<void(const std::string&)>& prepare)
    : scratch(std::make_unique<VelmoraTest::ScratchFolder>("edit")), folder(scratch->path) {
    const fs::path source = fs::path(VELMORA_SOURCE_DIR) / "data";
    const fs::path data = fs::path(folder) / "data";
    fs::create_directories(data);
    fs::copy(source / "shaders", data / "shaders", fs::copy_options::recursive);
    fs::copy(source / "science", data / "science", fs::copy_options::recursive);
    VelmoraTest::linkOrCopy((source / "img").u8string(), (data / "img").u8string());
    VelmoraTest::linkOrCopy((source / "raw").u8string(), (data / "raw").u8string());
    VelmoraTest::linkOrCopy((source / "sydaembient.mp3").u8string(), (data / "sydaembient.mp3").u8string());
    // The page beside data/, as in the Windows zip (only what the server serves).
    const fs::path page = fs::path(VELMORA_SOURCE_DIR) / "editor";
    fs::create_directories(fs::path(folder) / "editor");
    fs::copy(page / "index.html", fs::path(folder) / "editor" / "index.html");
    fs::copy(page / "style.css", fs::path(folder) / "editor" / "style.css");
    fs::copy(page / "src", fs::path(folder) / "editor" / "src", fs::copy_options::recursive);

    if (prepare) {
        prepare(folder);
    }

    Velmora::ProcessDesc desc;
    desc.program = VELMORA_BINARY;
    desc.arguments = {"--edit", "--size", "320x180"};
    desc.arguments.insert(desc.arguments.end(), arguments.begin(), arguments.end());
    desc.outputFile = folder + "/out.txt";
    desc.errorFile = folder + "/err.txt";
    if (underSanitizer) {
        // Leaks are checked at the program's exit; every report ends it with leakExitCode.
        desc.environment.push_back("ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:exitcode=" +
                                   std::to_string(leakExitCode));
    }
    // The program reads ./data from its working folder.
    desc.workingDirectory = folder;
    std::string problem;
    if (!process.start(desc, problem)) {
        throw std::runtime_error("cannot start " + desc.program + ": " + problem);
    }
    // "Edit server: http://127.0.0.1:PORT/?token=TOKEN" once the window and the show are up.
    const std::string marker = "Edit server: http://127.0.0.1:";
    for (int i = 0; i < 6000 && process.running() && !finished; ++i) {
        const std::string text = output();
        const std::size_t at = text.find(marker);
        const std::size_t end = at == std::string::npos ? std::string::npos : text.find('\n', at);
        if (end != std::string::npos) {
            std::string line = text.substr(at + marker.size(), end - at - marker.size());
            // A Windows program's text output ends its lines with "\r\n".
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            serverPort = std::atoi(line.c_str());
            serverToken = line.substr(line.find("token=") + 6);
            break;
        }
        if ((finished = process.waitFor(0.01))) {
            break;
        }
    }
    if (serverPort > 0) {
        client = std::make_unique<httplib::Client>("127.0.0.1", serverPort);
        client->set_read_timeout(30, 0);
        client->set_keep_alive(true);
        client->set_tcp_nodelay(true);
    }
}

EditProcess::~EditProcess() {
    stop();
}

int EditProcess::stop() {
    if (stopped) {
        return 0;
    }
    stopped = true;
    client.reset();
    if (finished) {
        return exitCode(*finished);
    }
    if (!process.running()) {
        return -1;
    }
    process.interrupt();
    if (std::optional<Velmora::ExitStatus> status = process.waitFor(60.0)) {
        finished = status;
        return exitCode(*status);
    }
    process.kill();
    process.wait();
    return -1;
}

std::optional<int> EditProcess::waitForExit(double seconds) {
    if (!finished) {
        finished = process.waitFor(seconds);
    }
    if (!finished) {
        return std::nullopt;
    }
    return exitCode(*finished);
}

int EditProcess::exitCode(const Velmora::ExitStatus& status) const {
    if (!status.exited) {
        return -1;
    }
    // Reports of leaks alone: the program itself ended as it would have; what it ended with is
    // not known any more, but no test expects a clean end to fail, and leaksOfOurs judges them.
    const std::string said = errors();
    const bool onlyLeaks = said.find("ERROR: AddressSanitizer") == std::string::npos &&
                           said.find("runtime error:") == std::string::npos &&
                           said.find("ERROR: LeakSanitizer") != std::string::npos;
    if (status.code == leakExitCode && onlyLeaks) {
        return said.find("ERROR - ") != std::string::npos ? 1 : 0;
    }
    return status.code;
}

std::vector<std::string> EditProcess::leaksOfOurs() const {
    std::vector<std::string> ours;
    const std::string said = errors();
    const std::vector<std::pair<uint64_t, uint64_t>> code = codeOfProgram();
    for (size_t at = said.find(" leak of "); at != std::string::npos; at = said.find(" leak of ", at + 1)) {
        const size_t start = said.rfind('\n', at) + 1;
        size_t end = said.find("\n\n", at);
        end = end == std::string::npos ? said.size() : end;
        const std::string report = said.substr(start, end - start);
        for (size_t line = 0; line < report.size();) {
            const size_t lineEnd = std::min(report.find('\n', line), report.size());
            if (frameIsOurs(report.substr(line, lineEnd - line), code)) {
                ours.push_back(report);
                break;
            }
            line = lineEnd + 1;
        }
    }
    return ours;
}

std::string EditProcess::output() const {
    return readFile(folder + "/out.txt");
}

std::string EditProcess::errors() const {
    return readFile(folder + "/err.txt");
}

httplib::Headers EditProcess::withToken(const httplib::Headers& headers) const {
    httplib::Headers all = headers;
    if (all.find("X-Velmora-Token") == all.end()) {
        all.emplace("X-Velmora-Token", serverToken);
    }
    return all;
}

namespace {

Answer answerOf(const httplib::Result& result) {
    Answer answer;
    if (result) {
        answer.status = result->status;
        answer.body = result->body;
        answer.contentType = result->get_header_value("Content-Type");
    }
    return answer;
}

} // namespace

Answer EditProcess::get(const std::string& path, const httplib::Headers& headers) {
    return client ? answerOf(client->Get(path.c_str(), withToken(headers))) : Answer{};
}

Answer EditProcess::post(const std::string& path, const std::string& body, const std::string& type,
                         const httplib::Headers& headers) {
    return client ? answerOf(client->Post(path.c_str(), withToken(headers), body, type.c_str())) : Answer{};
}

Answer EditProcess::put(const std::string& path, const std::string& body, const std::string& type,
                        const httplib::Headers& headers) {
    return client ? answerOf(client->Put(path.c_str(), withToken(headers), body, type.c_str())) : Answer{};
}

std::vector<unsigned char> decodePngRgb(const std::string& bytes, int* width, int* height) {
    int channels = 0;
    unsigned char* pixels =
        stbi_load_from_memory(reinterpret_cast<const unsigned char*>(bytes.data()),
                              static_cast<int>(bytes.size()), width, height, &channels, 3);
    if (pixels == nullptr) {
        return {};
    }
    std::vector<unsigned char> rgb(pixels, pixels + static_cast<size_t>(*width) * *height * 3);
    stbi_image_free(pixels);
    return rgb;
}

std::vector<unsigned char> readPngRgb(const std::string& path, int* width, int* height) {
    return decodePngRgb(readFile(path), width, height);
}

std::string runProgram(const std::string& program, const std::vector<std::string>& arguments, int* status,
                       const std::string& folder) {
    Velmora::ProcessDesc desc;
    desc.program = program;
    desc.arguments = arguments;
    desc.captureOutput = true;
    desc.workingDirectory = folder;
    Velmora::ChildProcess child;
    std::string problem;
    if (!child.start(desc, problem)) {
        *status = -1;
        return problem;
    }
    const std::string text = child.readAllOutput();
    const Velmora::ExitStatus exit = child.wait();
    *status = exit.exited ? exit.code : -1;
    return text;
}

} // namespace EditTest
