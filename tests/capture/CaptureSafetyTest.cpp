// The off-screen runs as a careless or unlucky user meets them: a full disk, Ctrl-C and SIGTERM,
// two captures to one file, names that look like options, closed or full standard output, stale
// files of killed runs. In every case a failure is reported as one, and no existing file is lost.
// The program runs on the made-up show of ShowFixture under the test's X server.
#include "capture/FramePlan.h"
#include "tests/capture/CaptureTestSupport.h"
#include "tests/capture/ShowFixture.h"
#include "tests/support/TestProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using CaptureTest::Background;
using CaptureTest::ShowFixture;

namespace {

ShowFixture& fixture() {
    static std::unique_ptr<ShowFixture> show = std::make_unique<ShowFixture>();
    return *show;
}

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// The shell command that runs the program in the fixture's folder; `redirect` sends its output.
std::string command(const std::string& arguments, const std::string& redirect,
                    const std::string& environment = "") {
    return "cd '" + fixture().root() + "' && " + environment + " exec '" VELMORA_BINARY "' " + arguments +
           " " + redirect;
}

// Runs the program in the fixture's folder (or `folder` inside it); `environment` adds "NAME=value"
// entries.
Result velmora(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {},
               const std::string& folder = "") {
    VelmoraTest::RunOptions options;
    options.workingDirectory = fixture().root() + (folder.empty() ? "" : "/" + folder);
    options.environment = environment;
    const VelmoraTest::RunResult run = VelmoraTest::runProgram(VELMORA_BINARY, arguments, options);
    return Result{run.status, run.out, run.err};
}

// Frames of the first video stream, or -1 when ffprobe cannot read the file.
int videoFrames(const std::string& file) {
    const std::string out = file + ".frames";
    const int status =
        CaptureTest::runShell("ffprobe -v error -count_packets -select_streams v:0 -show_entries "
                              "stream=nb_read_packets -of csv=p=0 'file:" +
                              file + "' > '" + out + "' 2>/dev/null");
    const std::string text = CaptureTest::readFile(out);
    std::remove(out.c_str());
    return status == 0 && !text.empty() ? std::atoi(text.c_str()) : -1;
}

// Names in the folder that a run left behind: temporary files of ours (".NAME-PID-XXXXXX...").
std::vector<std::string> leftovers(const std::string& folder) {
    std::vector<std::string> found;
    const std::regex temporary(R"(^\..*-[0-9]+-[A-Za-z0-9]{6}.*$)");
    for (const std::string& name : CaptureTest::listFolder(folder)) {
        if (std::regex_match(name, temporary) ||
            (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0)) {
            found.push_back(name);
        }
    }
    return found;
}

// A stand-in for ffmpeg: runs `script` (a shell fragment, with REAL set to the real ffmpeg) in place
// of the real program, which it may call. Returns the environment that puts it first on the PATH.
std::string fakeFfmpeg(const std::string& folder, const std::string& script) {
    const std::string real = [] {
        const std::string out = fixture().file("which");
        CaptureTest::runShell("command -v ffmpeg > '" + out + "'");
        std::string path = CaptureTest::readFile(out);
        std::remove(out.c_str());
        while (!path.empty() && path.back() == '\n') {
            path.pop_back();
        }
        return path;
    }();
    CaptureTest::runShell("mkdir -p '" + folder + "'");
    CaptureTest::writeFile(folder + "/ffmpeg", "#!/bin/sh\nREAL='" + real + "'\n" + script + "\n");
    chmod((folder + "/ffmpeg").c_str(), 0755);
    return CaptureTest::pathWith(folder);
}

// A small tmpfs mounted for the test's life (root only), to fill the disk on purpose.
class SmallDisk {
public:
    explicit SmallDisk(const std::string& mountPoint, int kilobytes) : path(mountPoint) {
        CaptureTest::runShell("mkdir -p '" + path + "'");
        mounted =
            geteuid() == 0 && CaptureTest::runShell("mount -t tmpfs -o size=" + std::to_string(kilobytes) +
                                                    "k tmpfs '" + path + "' 2>/dev/null") == 0;
    }
    ~SmallDisk() {
        if (mounted) {
            CaptureTest::runShell("umount '" + path + "' 2>/dev/null || umount -l '" + path + "'");
        }
    }
    // Leaves about `kilobytes` free.
    void fillUpTo(int kilobytes) const {
        CaptureTest::runShell("rm -f '" + path + "/filler'; head -c $(( $(df -k --output=avail '" + path +
                              "' | tail -n 1) * 1024 - " + std::to_string(kilobytes * 1024) +
                              " )) /dev/zero > '" + path + "/filler' 2>/dev/null");
    }

    const std::string path;
    bool mounted = false;
};

} // namespace

TEST(CaptureSafety, AFullDiskFailsTheCaptureNamesTheCauseAndKeepsTheOldVideo) {
    // The size of the finished video, to fill the disk up to just before its end (the index and
    // the rewrite that puts it first) and to well before (the frames themselves).
    const std::string probeVideo = fixture().file("size.mp4");
    ASSERT_EQ(velmora({"--capture", probeVideo, "--size", "320x180", "--fps", "10"}).status, 0);
    struct stat info;
    ASSERT_EQ(stat(probeVideo.c_str(), &info), 0);
    const int videoKilobytes = static_cast<int>(info.st_size / 1024);
    std::remove(probeVideo.c_str());

    SmallDisk disk(fixture().file("disk"), 4096);
    if (!disk.mounted) {
        GTEST_SKIP() << "a small tmpfs is needed (run as root to mount one); the full-disk cases did not run";
    }
    for (int freeKilobytes : {8, videoKilobytes - 4, videoKilobytes + 4}) {
        SCOPED_TRACE("free KiB: " + std::to_string(freeKilobytes));
        CaptureTest::writeFile(disk.path + "/old.mp4", "an earlier video");
        disk.fillUpTo(freeKilobytes);
        Result result = velmora({"--capture", disk.path + "/old.mp4", "--size", "320x180", "--fps", "10"});
        if (result.status == 0) {
            // It fitted after all: then it is whole.
            EXPECT_EQ(videoFrames(disk.path + "/old.mp4"), 25) << result.err;
            continue;
        }
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_NE(result.err.find("No space left on device"), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("was left as it was"), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("capture: wrote"), std::string::npos) << result.err;
        EXPECT_EQ(CaptureTest::readFile(disk.path + "/old.mp4"), "an earlier video");
        EXPECT_EQ(CaptureTest::listFolder(disk.path), (std::vector<std::string>{"filler", "old.mp4"}));
    }

    // A folder capture on a full disk: status 1 with the cause; the frames that exist are whole.
    disk.fillUpTo(60);
    Result frames = velmora({"--capture", disk.path + "/frames", "--size", "320x180", "--fps", "10"});
    EXPECT_EQ(frames.status, 1) << frames.err;
    EXPECT_NE(frames.err.find("No space left on device"), std::string::npos) << frames.err;
    EXPECT_TRUE(leftovers(disk.path + "/frames").empty());
}

TEST(CaptureSafety, AnInterruptedCaptureKeepsItsFramesBesideTheUntouchedVideo) {
    const std::string folder = fixture().file("interrupt");
    CaptureTest::runShell("mkdir -p '" + folder + "'");
    const std::string video = folder + "/show.mp4";
    CaptureTest::writeFile(video, "a finished video");
    // After 5 frames have reached it, the encoder's stand-in sends the signal and goes on encoding.
    const int frameBytes = 320 * 180 * 4;
    for (const char* signal : {"INT", "TERM"}) {
        const std::string path = fakeFfmpeg(fixture().file("fake-" + std::string(signal)),
                                            "{ dd bs=" + std::to_string(frameBytes) +
                                                " count=5 iflag=fullblock 2>/dev/null; kill -" + signal +
                                                " $PPID; cat; } | \"$REAL\" \"$@\"");
        Result result = velmora({"--capture", video, "--size", "320x180", "--fps", "10"}, {path});
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_NE(result.err.find(std::string("interrupted (SIG") + signal + ")"), std::string::npos)
            << result.err;
        EXPECT_EQ(CaptureTest::readFile(video), "a finished video");
        EXPECT_NE(result.err.find("'" + video + "' was left as it was"), std::string::npos) << result.err;
        std::smatch kept;
        ASSERT_TRUE(
            std::regex_search(result.err, kept, std::regex("the ([0-9]+) frames written are in '([^']+)'")))
            << result.err;
        const int written = std::stoi(kept[1]);
        EXPECT_GE(written, 5);
        EXPECT_LT(written, 25);
        EXPECT_EQ(videoFrames(kept[2]), written) << kept[2];
    }
    // Each stopped capture got a name of its own; nothing else was left.
    EXPECT_EQ(CaptureTest::listFolder(folder),
              (std::vector<std::string>{"show.mp4", "show.partial-2.mp4", "show.partial.mp4"}));

    // Stopped while loading, before any frame: nothing is kept at all.
    const std::string errLog = fixture().file("early.err");
    Background run(command("--capture '" + video + "' --size 320x180 --fps 10", "2> '" + errLog + "'"));
    ASSERT_TRUE(CaptureTest::waitFor(
        60, [&] { return CaptureTest::readFile(errLog).find("capture: ") != std::string::npos; }));
    run.signal(SIGINT);
    EXPECT_EQ(run.wait(60), 1);
    const std::string err = CaptureTest::readFile(errLog);
    EXPECT_EQ(CaptureTest::readFile(video), "a finished video");
    if (err.find("no frame was written") != std::string::npos) {
        EXPECT_EQ(CaptureTest::listFolder(folder).size(), 3u) << err;
    } else { // the machine was faster than the signal: the frames drawn are kept as above
        EXPECT_NE(err.find("frames written are in"), std::string::npos) << err;
    }
    EXPECT_TRUE(leftovers(folder).empty());
    CaptureTest::runShell("rm -rf '" + folder + "'");
}

TEST(CaptureSafety, AnInterruptedFolderCaptureHasTheAudioOfItsFrames) {
    const std::string frames = fixture().file("stopped");
    const std::string errLog = fixture().file("stopped.err");
    // 500 frames: far more than are drawn before the signal.
    Background run(command("--capture '" + frames + "' --size 160x90 --fps 200", "2> '" + errLog + "'"));
    ASSERT_TRUE(CaptureTest::waitFor(120, [&] { return CaptureTest::exists(frames + "/frame_000003.png"); }));
    run.signal(SIGINT);
    ASSERT_EQ(run.wait(60), 1) << CaptureTest::readFile(errLog);
    const std::string err = CaptureTest::readFile(errLog);
    EXPECT_NE(err.find("interrupted (SIGINT)"), std::string::npos) << err;
    std::vector<std::string> names = CaptureTest::listFolder(frames);
    ASSERT_GE(names.size(), 5u);
    ASSERT_EQ(names.front(), "audio.wav");
    const int64_t kept = static_cast<int64_t>(names.size()) - 1;
    EXPECT_LT(kept, 500);
    EXPECT_EQ(names.back(), "frame_" + std::string(6 - std::to_string(kept - 1).size(), '0') +
                                std::to_string(kept - 1) + ".png");
    Velmora::FramePlan plan;
    plan.fps = 200;
    plan.frameCount = kept;
    EXPECT_EQ(CaptureTest::readFile(frames + "/audio.wav").size(),
              44u + 4u * static_cast<size_t>(plan.sampleCount(44100)));
    EXPECT_NE(err.find("keeps frames 0 to " + std::to_string(kept - 1) + " and audio.wav"), std::string::npos)
        << err;
    CaptureTest::runShell("rm -rf '" + frames + "'");
}

TEST(CaptureSafety, TwoCapturesToOneFileDoNotMeet) {
    const std::string video = fixture().file("race.mp4");
    const std::string errLog[2] = {fixture().file("race1.err"), fixture().file("race2.err")};
    Background first(command("--capture '" + video + "' --size 320x180 --fps 10", "2> '" + errLog[0] + "'"));
    Background second(command("--capture '" + video + "' --size 320x180 --fps 10", "2> '" + errLog[1] + "'"));
    EXPECT_EQ(first.wait(120), 0) << CaptureTest::readFile(errLog[0]);
    EXPECT_EQ(second.wait(120), 0) << CaptureTest::readFile(errLog[1]);
    EXPECT_EQ(videoFrames(video), 25);
    EXPECT_TRUE(leftovers(fixture().root()).empty());
    std::remove(video.c_str());
}

TEST(CaptureSafety, TwoCapturesIntoOneFolderDoNotMix) {
    // The second one refuses (before or after the first has begun), whichever comes first.
    const std::string frames = fixture().file("both");
    const std::string errLog[2] = {fixture().file("both1.err"), fixture().file("both2.err")};
    Background first(command("--capture '" + frames + "' --size 320x180 --fps 10", "2> '" + errLog[0] + "'"));
    Background second(command("--capture '" + frames + "' --size 160x90 --fps 10", "2> '" + errLog[1] + "'"));
    const int statuses[2] = {first.wait(120), second.wait(120)};
    EXPECT_EQ(std::min(statuses[0], statuses[1]), 0)
        << CaptureTest::readFile(errLog[0]) << CaptureTest::readFile(errLog[1]);
    EXPECT_EQ(std::max(statuses[0], statuses[1]), 2)
        << CaptureTest::readFile(errLog[0]) << CaptureTest::readFile(errLog[1]);
    const std::string refused = CaptureTest::readFile(errLog[statuses[0] == 0 ? 1 : 0]);
    EXPECT_TRUE(refused.find("another capture") != std::string::npos ||
                refused.find("already holds a capture") != std::string::npos)
        << refused;
    EXPECT_EQ(CaptureTest::listFolder(frames).size(), 26u); // 25 frames of one capture and their audio
    CaptureTest::runShell("rm -rf '" + frames + "'");

    // A mark left by a capture that was killed does not stop the next one, which removes it.
    const pid_t ended = fork();
    if (ended == 0) {
        _exit(0);
    }
    waitpid(ended, nullptr, 0);
    CaptureTest::runShell("mkdir -p '" + frames + "'");
    CaptureTest::writeFile(frames + "/.velmora-capture", std::to_string(ended));
    EXPECT_EQ(velmora({"--capture", frames, "--size", "160x90", "--fps", "10", "--to", "0.5"}).status, 0);
    EXPECT_EQ(CaptureTest::listFolder(frames).size(), 6u);
    CaptureTest::runShell("rm -rf '" + frames + "'");
}

TEST(CaptureSafety, OutputNamesAreFilesEvenWhenTheyLookLikeOptionsOrProtocols) {
    const std::string folder = fixture().file("names");
    CaptureTest::runShell("mkdir -p '" + folder + "' && ln -s ../data '" + folder + "/data'");
    for (const std::string name : {"-out.mp4", "12:30.mp4", "file:x.mkv"}) {
        Result result =
            velmora({"--capture", name, "--size", "320x180", "--fps", "10", "--to", "1"}, {}, "names");
        EXPECT_EQ(result.status, 0) << name << ": " << result.err;
        EXPECT_EQ(videoFrames(folder + "/" + name), 10) << name;
    }
    EXPECT_EQ(CaptureTest::listFolder(folder),
              (std::vector<std::string>{"-out.mp4", "12:30.mp4", "data", "file:x.mkv"}));
    CaptureTest::runShell("rm -rf '" + folder + "'");
}

TEST(CaptureSafety, UnusableNamesAreRefusedWithStatusTwoAndLeftoversOfKilledRunsGo) {
    const std::string longName(300, 'n');
    for (const std::string& out : {longName, longName + ".mp4", "sub/" + longName + "/"}) {
        Result result = velmora({"--capture", out, "--size", "320x180", "--fps", "10"});
        EXPECT_EQ(result.status, 2) << result.err;
        EXPECT_NE(result.err.find("File name too long"), std::string::npos) << result.err;
    }
    Result beyond = velmora(CaptureTest::words("--timedemo --size 64x36 --from 1e300"));
    EXPECT_EQ(beyond.status, 2);
    EXPECT_NE(beyond.err.find("--from 1e+300 is beyond the music"), std::string::npos) << beyond.err;
    EXPECT_LT(beyond.err.size(), 80u) << beyond.err;

    // Temporary files of a killed capture (its process has gone) are removed by the next one;
    // those of a running process are not.
    const pid_t ended = fork();
    if (ended == 0) {
        _exit(0);
    }
    waitpid(ended, nullptr, 0);
    const std::string dead = std::to_string(ended);
    const std::string temporary = fixture().file("tmp");
    CaptureTest::runShell("mkdir -p '" + temporary + "'");
    const std::vector<std::string> stale = {fixture().file(".stale.mp4-" + dead + "-aB3dE5.part"),
                                            temporary + "/velmora-" + dead + "-aB3dE5-audio.wav",
                                            temporary + "/velmora-" + dead + "-aB3dE5-ffmpeg.log"};
    const std::string alive = fixture().file(".stale.mp4-1-aB3dE5.part");
    for (const std::string& file : stale) {
        CaptureTest::writeFile(file, "left by a killed run");
    }
    CaptureTest::writeFile(alive, "pid 1 runs");
    Result result = velmora(CaptureTest::words("--capture stale.mp4 --size 320x180 --fps 10 --to 0.5"),
                            {"TMPDIR=" + temporary});
    EXPECT_EQ(result.status, 0) << result.err;
    for (const std::string& file : stale) {
        EXPECT_FALSE(CaptureTest::exists(file)) << file;
    }
    EXPECT_TRUE(CaptureTest::exists(alive));
    EXPECT_TRUE(CaptureTest::listFolder(temporary).empty());
    CaptureTest::runShell("rm -rf '" + temporary + "' '" + alive + "' '" + fixture().file("stale.mp4") + "'");
}

TEST(CaptureSafety, TimedemoOutputThatCannotBeWrittenIsAFailureAndTheReportCanBeJson) {
    Result full = velmora(CaptureTest::words("--timedemo --size 64x36 --fps 10 --to 0.5"));
    ASSERT_EQ(full.status, 0) << full.err;
    const std::string outLog = fixture().file("full.err");
    EXPECT_EQ(CaptureTest::runShell(
                  command("--timedemo --size 64x36 --fps 10 --to 0.5", "> /dev/full 2> '" + outLog + "'")),
              1);
    EXPECT_NE(CaptureTest::readFile(outLog).find(
                  "cannot write the report to standard output: No space left on device"),
              std::string::npos)
        << CaptureTest::readFile(outLog);

    // Standard output closed: the run neither hangs nor fails.
    EXPECT_EQ(CaptureTest::runShell("timeout 120 sh -c \"" +
                                    command("--timedemo --size 64x36 --to 0.1", ">&- 2>/dev/null") + "\""),
              0);

    // --report: the eight lines as before, and the same figures as JSON.
    const std::string json = fixture().file("report.json");
    Result result =
        velmora({"--timedemo", "--size", "64x36", "--fps", "10", "--to", "0.5", "--report", json});
    ASSERT_EQ(result.status, 0) << result.err;
    std::map<std::string, std::string> lines;
    std::istringstream out(result.out);
    int reportLines = 0;
    for (std::string line; std::getline(out, line);) {
        if (line.rfind("timedemo: ", 0) == 0) {
            ++reportLines;
            std::istringstream words(line.substr(10));
            std::string name;
            std::string value;
            words >> name >> value;
            lines[name] = value;
        }
    }
    EXPECT_EQ(reportLines, 8);
    const std::string text = CaptureTest::readFile(json);
    for (const auto& [key, line] : std::vector<std::pair<std::string, std::string>>{{"frames", "frames"},
                                                                                    {"total_s", "total"},
                                                                                    {"mean_ms", "mean"},
                                                                                    {"median_ms", "median"},
                                                                                    {"p99_ms", "p99"},
                                                                                    {"worst_ms", "worst"},
                                                                                    {"first_ms", "first"}}) {
        const std::string member = "\"" + key + "\": " + lines[line];
        EXPECT_TRUE(text.find(member + ",\n") != std::string::npos ||
                    text.find(member + "\n}") != std::string::npos)
            << key << " in " << text;
    }
    EXPECT_NE(text.find("\"width\": 64,"), std::string::npos) << text;
    EXPECT_NE(text.find("\"from_s\": 0.000,"), std::string::npos) << text;
    EXPECT_EQ(text.front(), '{');
    EXPECT_EQ(text.substr(text.size() - 2), "}\n");

    // Refused before anything is drawn.
    EXPECT_EQ(velmora(CaptureTest::words("--capture x --report r.json")).status, 2);
    Result nowhere = velmora(CaptureTest::words("--timedemo --report missing/r.json"));
    EXPECT_EQ(nowhere.status, 2);
    EXPECT_NE(nowhere.err.find("does not exist"), std::string::npos) << nowhere.err;
    Result folder = velmora(CaptureTest::words("--timedemo --report data"));
    EXPECT_EQ(folder.status, 2);
    EXPECT_NE(folder.err.find("is a folder"), std::string::npos) << folder.err;
    std::remove(json.c_str());
}
