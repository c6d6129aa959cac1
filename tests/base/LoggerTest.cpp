// Logger line format and the exception classes; no display needed.
#include "base/Logger.h"
#include "base/VFileException.h"
#include "base/Vexception.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

using Velmora::Logger;

namespace {

std::string captureStdout(const std::function<void()>& body) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    body();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

} // namespace

TEST(Logger, WritesOneLevelledLinePerCall) {
    const std::string log = captureStdout([] {
        Logger& logger = Logger::instance();
        logger.debug("Hello Demo::Demo!");
        logger.warning("Texture %d already binded", 3);
        logger.error("%s", "0:1(2): error: syntax error\n0:3: second line");
        logger.debug("%s -> %d", "tint", -1);
        logger.debug("100%% of %i", 7);
        logger.error("%s", "");
    });
    EXPECT_EQ(log, "DEBUG - Hello Demo::Demo!\n"
                   "WARNING - Texture 3 already binded\n"
                   "ERROR - 0:1(2): error: syntax error\n0:3: second line\n"
                   "DEBUG - tint -> -1\n"
                   "DEBUG - 100% of 7\n"
                   "ERROR - \n");
    EXPECT_EQ(&Logger::instance(), &Logger::instance());
}

TEST(Logger, LongMessagesAreNotCut) {
    const std::string longText(10000, 'x');
    EXPECT_EQ(captureStdout([&] { Logger::instance().debug("%s", longText.c_str()); }),
              "DEBUG - " + longText + "\n");
}

TEST(Exceptions, CarryTheirMessageThroughCopiesAndBases) {
    std::string original = "Failed to open file \"./data/img/foo.png\"";
    const Velmora::VFileException thrown(original);
    original.clear(); // the exception keeps its own copy
    const Velmora::VFileException copy(thrown);
    EXPECT_STREQ(copy.what(), "Failed to open file \"./data/img/foo.png\"");
    EXPECT_STREQ(copy.what(), thrown.what());

    try {
        throw Velmora::VFileException("Failed to open file \"x\"");
    } catch (const std::exception& exception) {
        EXPECT_STREQ(exception.what(), "Failed to open file \"x\"");
        EXPECT_NE(dynamic_cast<const Velmora::Vexception*>(&exception), nullptr);
    }
    try {
        throw Velmora::Vexception("FBO stack is already empty!");
    } catch (const Velmora::VFileException&) {
        ADD_FAILURE() << "a Vexception is not a VFileException";
    } catch (const Velmora::Vexception& exception) {
        EXPECT_STREQ(exception.what(), "FBO stack is already empty!");
    }
}
