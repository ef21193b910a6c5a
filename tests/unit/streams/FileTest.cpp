#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.h"
#include "unix_file.h"

namespace {

class FileTest : public ::testing::Test {
  protected:
    // File "f" of the test's directory, written with content, opened in mode.
    qFile* openWith(const std::string& content, int mode) {
        zvtest::writeFile(path, content);
        return qFile_Open(path.c_str(), mode);
    }

    zvtest::TempDir dir;
    const std::string path = dir.file("f");
};

TEST_F(FileTest, OpenRefusesBadArguments) {
    EXPECT_EQ(qFile_Open(nullptr, 0), nullptr);
    EXPECT_EQ(qFile_Open("", 0), nullptr);
    EXPECT_EQ(qFile_Open(dir.file("x").c_str(), 3), nullptr);
    EXPECT_EQ(qFile_Open(std::string(4097, 'a').c_str(), 1), nullptr);
    EXPECT_EQ(qFile_Open(dir.file("missing").c_str(), 0), nullptr);
}

TEST_F(FileTest, ModesDecideWhatIsAllowed) {
    qFile* reader = openWith("old", qFileModeRead);
    ASSERT_NE(reader, nullptr);
    size_t count = 0;
    EXPECT_EQ(qFile_Write(reader, "x", 1, &count), qErrMode);
    EXPECT_EQ(qFile_Printf(reader, "%d", 1), qErrMode);
    EXPECT_EQ(qFile_SetUnbuffered(reader), qErrMode);
    EXPECT_EQ(qFile_Close(&reader), qErrNone);
    EXPECT_EQ(reader, nullptr);

    qFile* writer = qFile_Open(path.c_str(), qFileModeWrite);
    ASSERT_NE(writer, nullptr);
    char buffer[8];
    EXPECT_EQ(qFile_Read(writer, buffer, 1, &count), qErrMode);
    EXPECT_EQ(qFile_Printf(writer, "n=%d\n", 5), qErrNone);
    qFile_Close(&writer);
    EXPECT_EQ(zvtest::readFile(path), "n=5\n");
}

TEST_F(FileTest, AppendAddsAtEndAndCanReadBack) {
    qFile* file = openWith("abc", qFileModeAppend);
    ASSERT_NE(file, nullptr);
    size_t position = 0;
    EXPECT_EQ(qFile_GetPosition(file, &position), qErrNone);
    EXPECT_EQ(position, 3u);
    size_t count = 0;
    EXPECT_EQ(qFile_Write(file, "de", 2, &count), qErrNone);
    EXPECT_EQ(qFile_Seek(file, 0, 0), qErrNone);
    char buffer[8] = {};
    EXPECT_EQ(qFile_Read(file, buffer, sizeof buffer, &count), qErrNone);
    EXPECT_EQ(std::string(buffer, count), "abcde");
    EXPECT_EQ(qFile_Read(file, buffer, 1, &count), qErrEOF);
    qFile_Close(&file);
}

TEST_F(FileTest, SeekStaysWithinTheFile) {
    qFile* file = openWith("0123456789", qFileModeRead);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(qFile_Seek(file, 1, 2), qErrRange);
    EXPECT_EQ(qFile_Seek(file, -1, 0), qErrRange);
    EXPECT_EQ(qFile_Seek(file, 0, 2), qErrNone);
    size_t position = 0;
    EXPECT_EQ(qFile_GetPosition(file, &position), qErrNone);
    EXPECT_EQ(position, 10u);
    EXPECT_EQ(qFile_Seek(file, -3, 1), qErrNone);
    char c = 0;
    EXPECT_EQ(qFile_Read(file, &c, 1, nullptr), qErrNone);
    EXPECT_EQ(c, '7');
    EXPECT_EQ(qFile_Seek(file, 0, 7), qErrParam);

    // Position 0 is not stored: the caller's value survives.
    EXPECT_EQ(qFile_Seek(file, 0, 0), qErrNone);
    position = 42;
    EXPECT_EQ(qFile_GetPosition(file, &position), qErrNone);
    EXPECT_EQ(position, 42u);
    size_t size = 0;
    EXPECT_EQ(qFile_GetSize(file, &size), qErrNone);
    EXPECT_EQ(size, 10u);
    qFile_Close(&file);
}

TEST_F(FileTest, ReadLineReportsOverrunAndEndOfFile) {
    qFile* file = openWith("short\na-much-longer-line\nlast", qFileModeRead);
    ASSERT_NE(file, nullptr);
    char line[8];
    size_t length = 0;
    EXPECT_EQ(qFile_ReadLine(file, line, sizeof line, &length), qErrNone);
    EXPECT_STREQ(line, "short\n");
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(qFile_ReadLine(file, line, sizeof line, &length), qErrOverrun);
    EXPECT_EQ(length, 7u);
    char wide[64];
    EXPECT_EQ(qFile_ReadLine(file, wide, sizeof wide, &length), qErrNone);
    EXPECT_STREQ(wide, "longer-line\n");
    EXPECT_EQ(qFile_ReadLine(file, wide, sizeof wide, &length), qErrNone);
    EXPECT_STREQ(wide, "last");
    EXPECT_EQ(qFile_ReadLine(file, wide, sizeof wide, &length), qErrEOF);
    EXPECT_EQ(length, 0u);
    qFile_Close(&file);
}

TEST_F(FileTest, ExistsAndDelete) {
    EXPECT_FALSE(qFile_Exists(path.c_str()));
    EXPECT_EQ(qFile_Delete(path.c_str()), qErrNotFound);
    zvtest::writeFile(path, "x");
    EXPECT_TRUE(qFile_Exists(path.c_str()));
    EXPECT_FALSE(qFile_Exists(dir.path().c_str()));
    EXPECT_FALSE(qFile_Exists(nullptr));
    EXPECT_EQ(qFile_Delete(path.c_str()), qErrNone);
    EXPECT_FALSE(qFile_Exists(path.c_str()));
    // A directory is not a file to unlink.
    EXPECT_EQ(qFile_Delete(dir.path().c_str()), qErrIO);
}

// Root may delete in any directory, so as root the check runs in a child that has given up root
// for the unprivileged "nobody" (uid and gid 65534), with the scratch directory handed to it.
int deleteInLockedDirectory(const std::string& dir) {
    std::string sub = dir + "/locked";
    std::string path = sub + "/f";
    if (mkdir(sub.c_str(), 0700) != 0) {
        return 2;
    }
    zvtest::writeFile(path, "x");
    if (chmod(sub.c_str(), 0500) != 0) {
        return 3;
    }
    qErr result = qFile_Delete(path.c_str());
    chmod(sub.c_str(), 0700);
    if (result != qErrPermission) {
        return 10 + static_cast<int>(result);
    }
    return zvtest::pathExists(path) ? 0 : 4;
}

TEST_F(FileTest, DeleteInLockedDirectoryIsPermission) {
    if (geteuid() != 0) {
        EXPECT_EQ(deleteInLockedDirectory(dir.path()), 0);
        return;
    }
    constexpr uid_t kNobody = 65534;
    ASSERT_EQ(chown(dir.path().c_str(), kNobody, kNobody), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0 || geteuid() == 0) {
            _exit(1);
        }
        _exit(deleteInLockedDirectory(dir.path()));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    // 0: refused with qErrPermission and the file kept; 1: root could not be given up; 10 + the
    // error when the delete gave another answer.
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
