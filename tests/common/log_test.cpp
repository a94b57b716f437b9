// The log stream: one prefixed debugger string per flush, and whole messages from concurrent writers.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "common/Log.h"

#ifdef _WIN32
#include "DebugCapture.h"
#else
#include <cstdio>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
using vxtest::DebugCapture;
#else
// Standard error stands in for the debugger on the host; the capture yields its lines.
class DebugCapture {
public:
    DebugCapture()
    {
        fflush(stderr);
        file_ = tmpfile();
        saved_ = dup(2);
        dup2(fileno(file_), 2);
    }
    ~DebugCapture()
    {
        Restore();
        fclose(file_);
    }

    std::vector<std::string> Take()
    {
        Restore();
        std::string all;
        rewind(file_);
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, file_)) > 0)
            all.append(buf, n);
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < all.size()) {
            size_t end = all.find('\n', start);
            end = end == std::string::npos ? all.size() : end + 1;
            lines.push_back(all.substr(start, end - start));
            start = end;
        }
        return lines;
    }

private:
    void Restore()
    {
        if (saved_ < 0)
            return;
        fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        saved_ = -1;
    }

    FILE* file_;
    int saved_;
};
#endif

using Strings = std::vector<std::string>;

TEST(Log, PrefixedLinePerMessage)
{
    SetLogTag("Vellix");
    DebugCapture capture;
    Brimholt::Log << "abc" << std::endl;
    Brimholt::Log << "n=" << 42 << ' ' << std::string("s") << std::endl;
    EXPECT_EQ((Strings{"[Vellix] abc\n", "[Vellix] n=42 s\n"}), capture.Take());
}

TEST(Log, EmptyFlushWritesNothing)
{
    SetLogTag("Vellix");
    DebugCapture capture;
    Brimholt::Log.flush();
    Brimholt::Log << std::flush;
    Brimholt::Log << "" << std::flush;
    EXPECT_EQ(Strings{}, capture.Take());
}

TEST(Log, EmptyTagClearsPrefix)
{
    SetLogTag("Vellix");
    SetLogTag("");
    DebugCapture capture;
    Brimholt::Log << "plain" << std::endl;
    SetLogTag("Quillet");
    Brimholt::Log << "tagged" << std::endl;
    EXPECT_EQ((Strings{"plain\n", "[Quillet] tagged\n"}), capture.Take());
    SetLogTag("Vellix");
}

#ifdef _WIN32
TEST(Log, OneFlushIsOneDebuggerString)
{
    SetLogTag("Vellix");
    DebugCapture capture;
    Brimholt::Log << "one\ntwo\n" << std::hex << 255 << std::dec << std::flush;
    EXPECT_EQ(Strings{"[Vellix] one\ntwo\nff"}, capture.Take());
}
#endif

// Messages built from many insertions on several threads arrive whole, each once.
TEST(Log, ConcurrentWritersNeverInterleave)
{
    SetLogTag("Vellix");
    const int kThreads = 8, kMessages = 200;
    DebugCapture capture;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t] {
            for (int m = 0; m < kMessages; ++m)
                Brimholt::Log << "thread " << t << " message " << m << ' ' << std::string(40, char('a' + t))
                              << " end" << std::endl;
        });
    }
    for (auto& w : writers)
        w.join();
    Strings got = capture.Take();
    ASSERT_EQ(static_cast<size_t>(kThreads * kMessages), got.size());
    std::vector<std::vector<int>> seen(kThreads, std::vector<int>(kMessages, 0));
    for (const std::string& s : got) {
        int t = -1, m = -1;
        ASSERT_EQ(2, sscanf(s.c_str(), "[Vellix] thread %d message %d", &t, &m)) << s;
        ASSERT_TRUE(t >= 0 && t < kThreads && m >= 0 && m < kMessages) << s;
        std::string expected = "[Vellix] thread " + std::to_string(t) + " message " + std::to_string(m) + ' ' +
                               std::string(40, char('a' + t)) + " end\n";
        EXPECT_EQ(expected, s);
        ++seen[t][m];
    }
    for (int t = 0; t < kThreads; ++t)
        for (int m = 0; m < kMessages; ++m)
            EXPECT_EQ(1, seen[t][m]) << t << "/" << m;
}

}  // namespace
