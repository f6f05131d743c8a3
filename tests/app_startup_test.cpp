#include <gtest/gtest.h>

#include <string>

#include <unistd.h>

#include "app/process_guard.h"
#include "app/startup.h"
#include "common/message.h"

namespace {

TEST(DisplayCheck, InvisibleDriverIsRefusedUnlessRequested) {
    EXPECT_TRUE(invisibleDriverNotRequested("offscreen", nullptr));
    EXPECT_TRUE(invisibleDriverNotRequested("dummy", ""));
    EXPECT_TRUE(invisibleDriverNotRequested("dummy", "offscreen"));
    EXPECT_TRUE(invisibleDriverNotRequested("offscreen", "x11,dummyx"));
    EXPECT_FALSE(invisibleDriverNotRequested("dummy", "dummy"));
    EXPECT_FALSE(invisibleDriverNotRequested("offscreen", "x11,OffScreen"));
    EXPECT_FALSE(invisibleDriverNotRequested("x11", nullptr));
    EXPECT_FALSE(invisibleDriverNotRequested("wayland", "dummy"));

    // The hint names what is wrong: DISPLAY unset, or set to a server that
    // is not there.
    EXPECT_NE(noDisplayReason(nullptr).find("set DISPLAY"), std::string::npos);
    EXPECT_NE(noDisplayReason("").find("set DISPLAY"), std::string::npos);
    EXPECT_EQ(noDisplayReason(":99").find("set DISPLAY"), std::string::npos);
    EXPECT_NE(noDisplayReason(":99").find("cannot reach display :99"), std::string::npos);
}

TEST(ResourceLimits, TooLittleIsSaidInWords) {
    const unsigned long long unlimited = ~0ull;
    EXPECT_EQ(limitProblem(10, unlimited), "too few file descriptors (limit 10, needs 64)");
    EXPECT_EQ(limitProblem(64, unlimited), "");
    EXPECT_EQ(limitProblem(1024, 200000ull << 10),
              "too little address space (limit 200000 KiB, needs 262144 KiB)");
    EXPECT_EQ(limitProblem(1024, 256ull << 20), "");
    EXPECT_EQ(limitProblem(unlimited, unlimited), "");
}

TEST(UserMessages, OneLineWithTheProgramsNameGoesWhereMessagesAreSent) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    sendMessagesTo(ends[1]);
    tellUser("camera back");
    sendMessagesTo(STDERR_FILENO);
    close(ends[1]);
    std::string said;
    char chunk[64];
    for (ssize_t got; (got = read(ends[0], chunk, sizeof chunk)) > 0;)
        said.append(chunk, size_t(got));
    close(ends[0]);
    EXPECT_EQ(said, "cloakcam: camera back\n");
}

} // namespace
