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
