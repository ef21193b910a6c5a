// Writes that readers see whole or not at all, and the temporaries a killed writer leaves.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "AtomicFileWriter.h"
#include "TestSupport.h"

namespace {

pid_t pidOfAFinishedProcess() {
    pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    return child;
}

}  // namespace

TEST(AtomicFileWriter, TargetChangesOnlyOnCommit) {
    zvtest::TempDir dir;
    const std::string target = dir.file("x.settings");
    zvtest::writeFile(target, "OLD=1\n");
    {
        AtomicFileWriter writer(target);
        ASSERT_TRUE(writer.Open());
        ASSERT_EQ(writer.Write("NEW=2\n", 6), qErrNone);
        EXPECT_EQ(zvtest::readFile(target), "OLD=1\n");
        ASSERT_EQ(writer.Commit(), qErrNone);
    }
    EXPECT_EQ(zvtest::readFile(target), "NEW=2\n");
    {
        // Abandoned without a commit: the target and the directory stay as they were.
        AtomicFileWriter writer(target);
        ASSERT_TRUE(writer.Open());
        ASSERT_EQ(writer.Write("HALF", 4), qErrNone);
    }
    EXPECT_EQ(zvtest::readFile(target), "NEW=2\n");
    EXPECT_FALSE(
        zvtest::pathExists(dir.file(".x.settings.tmp-" + std::to_string(getpid()) + "-1")));
}

TEST(AtomicFileWriter, TemporariesOfKilledWritersAreClearedByTheNextWrite) {
    zvtest::TempDir dir;
    const std::string target = dir.file("1300.bird");
    const std::string dead =
        dir.file(".1300.bird.tmp-" + std::to_string(pidOfAFinishedProcess()) + "-0");
    const std::string live = dir.file(".1300.bird.tmp-" + std::to_string(getppid()) + "-0");
    const std::string other =
        dir.file(".1400.bird.tmp-" + std::to_string(pidOfAFinishedProcess()) + "-0");
    for (const std::string& path : {dead, live, other}) {
        zvtest::writeFile(path, "partial");
    }
    AtomicFileWriter writer(target);
    ASSERT_TRUE(writer.Open());
    ASSERT_EQ(writer.Write("BIRD", 4), qErrNone);
    ASSERT_EQ(writer.Commit(), qErrNone);
    EXPECT_FALSE(zvtest::pathExists(dead)) << "left by a process that is gone";
    EXPECT_TRUE(zvtest::pathExists(live)) << "a running writer's temporary";
    EXPECT_TRUE(zvtest::pathExists(other)) << "another file's temporary";
    EXPECT_EQ(zvtest::readFile(target), "BIRD");
}
