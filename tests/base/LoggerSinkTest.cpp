// The logger from several threads at once, through a sink: whole lines, none lost.
#include "base/Logger.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

using Velmora::Logger;

TEST(Logger, LinesFromManyThreadsReachTheSinkWhole) {
    std::vector<std::string> lines;
    Logger::Sink previous =
        Logger::instance().setSink([&](const std::string& line) { lines.push_back(line); });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i) {
                Logger::instance().debug("thread %d line %d %s", t, i, std::string(100, 'x').c_str());
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    Logger::instance().plain("no level");
    Logger::instance().setSink(previous);

    ASSERT_EQ(lines.size(), 2001u);
    std::set<std::string> distinct(lines.begin(), lines.end());
    EXPECT_EQ(distinct.size(), 2001u);
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_EQ(lines[i].rfind("DEBUG - thread ", 0), 0u) << lines[i];
        EXPECT_EQ(lines[i].substr(lines[i].size() - 101), " " + std::string(100, 'x')) << lines[i];
    }
    EXPECT_EQ(lines.back(), "no level");
}

// Messages for a person take one route with two streams: standard output's lines through the
// sink (as log lines do), standard error's text exactly as given (progress redraws included)
// through the error sink; neither stream's sink sees the other's messages.
TEST(Logger, MessagesForPeopleGoToTheStreamTheyBelongOn) {
    std::vector<std::string> lines;
    std::string errors;
    Logger& logger = Logger::instance();
    Logger::Sink previous = logger.setSink([&](const std::string& line) { lines.push_back(line); });
    Logger::Sink previousError = logger.setErrorSink([&](const std::string& text) { errors += text; });
    logger.say(Velmora::LogStream::Output, "timedemo: 10 frames\nmedian 4.1 ms\n");
    logger.say(Velmora::LogStream::Error, "\rcapture: frame 1 of 2");
    logger.say(Velmora::LogStream::Error, "\rcapture: frame 2 of 2\n");
    logger.error("%s", "a log line stays on the log's sink");
    logger.say(Velmora::LogStream::Output, "Edit server: http://127.0.0.1:1/?token=t\n");
    logger.setErrorSink(previousError);
    logger.setSink(previous);

    EXPECT_EQ(lines, (std::vector<std::string>{"timedemo: 10 frames", "median 4.1 ms",
                                               "ERROR - a log line stays on the log's sink",
                                               "Edit server: http://127.0.0.1:1/?token=t"}));
    EXPECT_EQ(errors, "\rcapture: frame 1 of 2\rcapture: frame 2 of 2\n");
    std::string why;
    EXPECT_TRUE(logger.outputWritten(why)) << why;
}
