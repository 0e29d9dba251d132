// Taking a library's lines off standard error: which lines are kept for the
// end of the window and which go on to the real stream.
#include "platform/system/StderrCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

using namespace corvane;

namespace {

std::vector<std::string> emitted;

bool library(std::string_view line) { return line.starts_with("lib: "); }
void keep(std::string_view line) { emitted.emplace_back(line); }

// File descriptor 2 becomes a file for the test's life: what the capture
// passes on to the "real" stream lands there.
class RealStderr {
public:
    RealStderr() : file_(::memfd_create("stderr", 0)), saved_(::dup(STDERR_FILENO)) {
        ::dup2(file_, STDERR_FILENO);
    }
    ~RealStderr() {
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        ::close(file_);
    }
    RealStderr(const RealStderr&) = delete;
    RealStderr& operator=(const RealStderr&) = delete;

    // Its lines, sorted: what the reader thread passes on may come before or
    // after what is written to the real stream directly.
    std::vector<std::string> lines() const {
        std::string text(static_cast<std::size_t>(::lseek(file_, 0, SEEK_END)), '\0');
        if (::pread(file_, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
            return {};
        std::vector<std::string> result;
        for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            result.push_back(text.substr(start, end - start));
        std::sort(result.begin(), result.end());
        return result;
    }

private:
    int file_;
    int saved_;
};

void put(const char* text) { ASSERT_GT(::write(STDERR_FILENO, text, std::char_traits<char>::length(text)), 0); }

} // namespace

TEST(StderrCapture, KeepsTheLibrarysLinesUntilTheLastWindowEndsAndPassesEveryOtherLineOn) {
    RealStderr real;
    emitted.clear();
    {
        StderrCapture outer(library, keep);
        put("lib: one\nours\n");
        {
            StderrCapture inner(library, keep);
            std::fprintf(stderr, "lib: two\n");
        }
        EXPECT_TRUE(emitted.empty()) << "emitted before the last window ended";
        // The program's own words and a plug-in's are never the library's.
        StderrCapture::writeToStderr("lib: the program's\n");
        {
            const StderrCapture::Pause pluginCode;
            put("lib: a plug-in's\n");
        }
        put("lib: th");
        put("ree"); // in parts, and unfinished when the window ends
    }
    EXPECT_EQ(emitted, (std::vector<std::string>{"lib: one", "lib: two", "lib: three"}));
    put("lib: after\n"); // the real stream is back
    EXPECT_EQ(real.lines(),
              (std::vector<std::string>{"lib: a plug-in's", "lib: after", "lib: the program's", "ours"}));
}
