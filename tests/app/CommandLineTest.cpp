// Command-line parsing and how its choices reach the settings; no display needed.
#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

CommandLine parse(std::vector<const char*> words) {
    words.insert(words.begin(), "velmora");
    return parseCommandLine(static_cast<int>(words.size()), words.data());
}

DemoSettings settingsFor(std::vector<const char*> words) {
    DemoSettings settings;
    applyCommandLine(parse(std::move(words)), &settings);
    return settings;
}

} // namespace

TEST(CommandLine, NoArgumentsKeepTheDefaultsAndShowTheDialog) {
    const CommandLine commandLine = parse({});
    EXPECT_EQ(commandLine.action, CommandLine::Action::Run);
    EXPECT_FALSE(commandLine.skipDialog);
    const DemoSettings settings = settingsFor({});
    EXPECT_EQ(settings.width, 1280);
    EXPECT_EQ(settings.height, 720);
    EXPECT_EQ(settings.windowed, 1);
    EXPECT_EQ(settings.vsync, 1);
}

TEST(CommandLine, WindowChoicesSkipTheDialogAsIfConfirmed) {
    DemoSettings settings = settingsFor({"--size", "320x180"});
    EXPECT_EQ(settings.width, 320);
    EXPECT_EQ(settings.height, 180);
    EXPECT_EQ(settings.windowed, 1);
    EXPECT_EQ(settings.vsync, 0); // a confirmed dialog asks for swap interval 0
    EXPECT_TRUE(parse({"--size", "320x180"}).skipDialog);

    settings = settingsFor({"--fullscreen", "--size=1920x1080"});
    EXPECT_EQ(settings.windowed, 0);
    EXPECT_EQ(settings.width, 1920);
    EXPECT_EQ(settings.vsync, 0);

    settings = settingsFor({"--windowed"});
    EXPECT_EQ(settings.windowed, 1);
    EXPECT_EQ(settings.width, 1280);
    EXPECT_EQ(settings.vsync, 0);

    // --vsync keeps the driver's interval, with or without a window choice, in any order.
    EXPECT_EQ(settingsFor({"--vsync", "--size", "640x360"}).vsync, 1);
    EXPECT_EQ(settingsFor({"--vsync"}).vsync, 1);
    EXPECT_FALSE(parse({"--vsync"}).skipDialog);

    // Repeating a choice is fine; the last size counts.
    settings = settingsFor({"--windowed", "--size", "640x360", "--windowed", "--size", "800x450"});
    EXPECT_EQ(settings.width, 800);
    EXPECT_EQ(settings.height, 450);
}

TEST(CommandLine, HelpAndVersion) {
    EXPECT_EQ(parse({"--help"}).action, CommandLine::Action::Help);
    EXPECT_EQ(parse({"--size", "64x64", "--version"}).action, CommandLine::Action::Version);
    const std::string help = commandLineHelp("velmora");
    for (const char* option :
         {"--windowed", "--fullscreen", "--size WxH", "--vsync", "--help", "--version"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(versionText().rfind("velmora ", 0), 0u);
}

TEST(CommandLine, MistakesGiveOneLineNamingTheProblem) {
    struct Case {
        std::vector<const char*> words;
        const char* expected; // part of the message
    };
    const Case cases[] = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-w"}, "unknown option '-w'"},
        {{"fullscreen"}, "unexpected argument 'fullscreen'"},
        {{"--size"}, "--size needs a value WxH"},
        {{"--size="}, "bad size ''"},
        {{"--windowed=yes"}, "--windowed takes no value"},
        {{"--windowed", "--fullscreen"}, "--windowed and --fullscreen exclude each other"},
        {{"--size", "0x720"}, "bad size '0x720'"},
        {{"--size", "1280x0"}, "bad size '1280x0'"},
        {{"--size", "-1280x720"}, "bad size '-1280x720'"},
        {{"--size", "1280x-720"}, "bad size"},
        {{"--size", "+1280x720"}, "bad size"},
        {{"--size", "1280X720"}, "bad size"},
        {{"--size", "1280x"}, "bad size"},
        {{"--size", "x720"}, "bad size"},
        {{"--size", "1280x720x1"}, "bad size"},
        {{"--size", " 1280x720"}, "bad size"},
        {{"--size", "1280x720 "}, "bad size"},
        {{"--size", "1280*720"}, "bad size"},
        {{"--size", "16385x720"}, "width and height must be 1 to 16384"},
        {{"--size", "99999999999999999999x720"}, "bad size"},
        {{"--size", "4294968576x720"}, "bad size"},
        {{"--size", "640x360", "--nope"}, "unknown option '--nope'"},
    };
    for (const Case& c : cases) {
        const CommandLine commandLine = parse(c.words);
        EXPECT_EQ(commandLine.action, CommandLine::Action::Error) << c.expected;
        EXPECT_NE(commandLine.error.find(c.expected), std::string::npos) << commandLine.error;
        EXPECT_EQ(commandLine.error.find('\n'), std::string::npos) << commandLine.error;
    }
}

TEST(CommandLine, SizeLimits) {
    int width = 0;
    int height = 0;
    std::string problem;
    EXPECT_TRUE(parseSize("1x1", &width, &height, &problem));
    EXPECT_EQ(width, 1);
    EXPECT_TRUE(parseSize("16384x16384", &width, &height, &problem));
    EXPECT_EQ(height, 16384);
    EXPECT_TRUE(parseSize("0320x0180", &width, &height, &problem));
    EXPECT_EQ(width, 320);
    EXPECT_FALSE(parseSize("16384x16385", &width, &height, &problem));
    EXPECT_EQ(width, 320); // unchanged on failure
    EXPECT_FALSE(problem.empty());
}

TEST(CommandLine, EditModeTakesSizeStartPausedAndPort) {
    CommandLine commandLine = parse({"--edit"});
    ASSERT_EQ(commandLine.action, CommandLine::Action::Run) << commandLine.error;
    EXPECT_TRUE(commandLine.edit);
    EXPECT_TRUE(commandLine.skipDialog);
    EXPECT_EQ(commandLine.width, 1280);
    EXPECT_EQ(commandLine.height, 720);
    EXPECT_EQ(commandLine.port, 0);
    EXPECT_FALSE(commandLine.paused);

    commandLine = parse({"--edit", "--size", "320x180", "--from", "12.5", "--paused", "--port=8123"});
    ASSERT_EQ(commandLine.action, CommandLine::Action::Run) << commandLine.error;
    EXPECT_EQ(commandLine.width, 320);
    EXPECT_EQ(commandLine.offline.from, 12.5);
    EXPECT_TRUE(commandLine.paused);
    EXPECT_EQ(commandLine.port, 8123);

    struct Refused {
        std::vector<const char*> words;
        const char* error;
    };
    for (const Refused& refused : std::vector<Refused>{
             {{"--paused"}, "velmora: --paused and --port only apply to --edit"},
             {{"--port", "80"}, "velmora: --paused and --port only apply to --edit"},
             {{"--edit", "--port", "65536"}, "velmora: bad --port '65536': a port number from 0 to 65535"},
             {{"--edit", "--port", "-1"}, "velmora: bad --port '-1': a port number from 0 to 65535"},
             {{"--edit", "--timedemo"}, "velmora: --edit excludes --capture and --timedemo"},
             {{"--edit", "--fullscreen"},
              "velmora: --edit always opens a window: --fullscreen does not apply"},
             {{"--edit", "--to", "3"}, "velmora: --fps and --to do not apply to --edit"},
             {{"--edit", "--from", "-1"}, "velmora: bad --from '-1': a number of seconds, 0 or more"},
         }) {
        const CommandLine refusedLine = parse(refused.words);
        EXPECT_EQ(refusedLine.action, CommandLine::Action::Error) << refused.words[0];
        EXPECT_EQ(refusedLine.error, refused.error);
    }
}

TEST(CommandLine, ChunksAndTheirAssembly) {
    CommandLine chunk = parse({"--size", "64x36", "--from", "126", "--chunk", "3/4", "--preroll", "20",
                               "--overlap", "0", "--capture", "farm/"});
    ASSERT_EQ(chunk.action, CommandLine::Action::Run) << chunk.error;
    EXPECT_EQ(chunk.offline.mode, Velmora::OfflineMode::Capture);
    EXPECT_EQ(chunk.offline.chunkIndex, 3);
    EXPECT_EQ(chunk.offline.chunkCount, 4);
    EXPECT_EQ(chunk.offline.preroll, 20);
    EXPECT_EQ(chunk.offline.overlap, 0);
    CommandLine assemble = parse({"--assemble", "farm", "--capture", "show.mp4"});
    ASSERT_EQ(assemble.action, CommandLine::Action::Run) << assemble.error;
    EXPECT_EQ(assemble.offline.mode, Velmora::OfflineMode::Assemble);
    EXPECT_EQ(assemble.offline.assemble, "farm");
    // A plain capture may set its pre-roll.
    EXPECT_EQ(parse({"--preroll", "100", "--capture", "out/"}).offline.preroll, 100);

    const std::vector<std::pair<std::vector<const char*>, std::string>> refused = {
        {{"--chunk", "4/4", "--capture", "farm/"}, "bad --chunk '4/4'"},
        {{"--chunk", "1/0", "--capture", "farm/"}, "bad --chunk '1/0'"},
        {{"--chunk", "-1/4", "--capture", "farm/"}, "bad --chunk '-1/4'"},
        {{"--chunk", "1/4x", "--capture", "farm/"}, "bad --chunk '1/4x'"},
        {{"--chunk", "/4", "--capture", "farm/"}, "bad --chunk '/4'"},
        {{"--preroll", "-3", "--capture", "out/"}, "bad --preroll '-3'"},
        {{"--overlap", "5", "--capture", "out/"}, "--overlap only applies to --chunk"},
        {{"--chunk", "0/2", "--timedemo"},
         "--chunk, --assemble, --preroll and --overlap only apply to --capture"},
        {{"--assemble", "farm"}, "--assemble needs --capture OUT"},
        {{"--assemble", "farm", "--size", "64x36", "--capture", "o/"}, "--assemble takes the size"},
        {{"--assemble", "farm", "--chunk", "0/2", "--capture", "o/"}, "no --chunk or --preroll"},
    };
    for (const auto& [words, message] : refused) {
        const CommandLine commandLine = parse(words);
        EXPECT_EQ(commandLine.action, CommandLine::Action::Error) << message;
        EXPECT_NE(commandLine.error.find(message), std::string::npos) << commandLine.error;
    }
}
