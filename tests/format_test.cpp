#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/console.h"
#include "platform/format.h"

namespace rk {
namespace {

struct Formatted {
  std::string text;  // up to the first NUL, so it also shows where the NUL went
  int count;
};

Formatted fmt(const char* format, ...) {
  char buf[128];
  std::memset(buf, '#', sizeof buf);
  va_list ap;
  va_start(ap, format);
  const int n = kvfmt(buf, format, ap);
  va_end(ap);
  return {std::string(buf), n};
}

TEST(KernelFormat, Conversions) {
  const struct {
    const char* format;
    Formatted got;
    const char* want;
  } cases[] = {
      {"name", fmt("%s_%02d_SEG%02d", "PLANT", 3, 7), "PLANT_03_SEG07"},
      {"wider than width", fmt("%s_%02d_SEG%02d", "PLANT", 3, 123), "PLANT_03_SEG123"},
      {"%04X", fmt("%04X", 171), "00AB"},
      {"%04x", fmt("%04x", 171), "00ab"},
      {"%-6X", fmt("%-6X", 0xbeefu), "BEEF  "},
      {"%-10s", fmt("%-10s|", "ALARM"), "ALARM     |"},
      {"%2s", fmt("%2s", "ALARM"), "ALARM"},
      {"LF in format", fmt("a\nb"), "a\r\nb"},
      {"LF in %s, width before CR", fmt("[%5s]", "a\nb"), "[  a\r\nb]"},
      {"%5.2f", fmt("%5.2f"), ".2f"},
      {"%05d", fmt("%05d", -5), "000-5"},
      {"%-05d", fmt("%-05d", -5), "-5000"},
      {"%5d", fmt("%5d", -5), "   -5"},
      {"%%", fmt("100%%%d", 1), "100%1"},
      {"%u", fmt("%u", 0xFFFFFFFFu), "4294967295"},
      {"%d", fmt("%d", INT_MIN), "-2147483648"},
      {"%o", fmt("%o %o", 8, 0xFFFFFFFFu), "10 37777777777"},
      {"%c low byte", fmt("%c%3c", 0x141, 'z'), "A  z"},
      {"%ld", fmt("%ld %lX", -42, 0xabu), "-42 AB"},
      {"zero", fmt("%d%u%x%o", 0, 0u, 0u, 0u), "0000"},
      {"unknown takes no argument", fmt("%-4q%d", 9), "q9"},
      {"ends inside a conversion", fmt("ab%-05"), "ab"},
      {"ends after %", fmt("ab%"), "ab"},
      {"null %s", fmt("[%3s]", static_cast<const char*>(nullptr)), "[   ]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(c.got.text, c.want);
    EXPECT_EQ(c.got.count, static_cast<int>(std::strlen(c.want)));
  }
}

TEST(KernelFormat, BoundedCutsAndKeepsNul) {
  const struct {
    std::size_t cap;
    const char* format;
    const char* want;
  } cases[] = {
      {6, "PLANT_%02d", "PLANT"},
      {3, "a\nb", "a\r"},
      {4, "%8d", "   "},
      {1, "PLANT", ""},
      {16, "PLANT_%02d", "PLANT_07"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    char buf[32];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(kfmt_n(buf, c.cap, c.format, 7), static_cast<int>(std::strlen(c.want)));
    EXPECT_STREQ(buf, c.want);
    for (std::size_t i = c.cap; i < sizeof buf; ++i) ASSERT_EQ(buf[i], '#') << "byte " << i;
  }
  char buf[4] = "##";
  EXPECT_EQ(kfmt_n(buf, 0, "PLANT"), 0);
  EXPECT_STREQ(buf, "##");
}

// Runs fn with fd 1 pointed at fd, then puts the real standard output back.
template <typename Fn>
void with_stdout(int fd, Fn fn) {
  std::fflush(stdout);
  const int saved = dup(1);
  ASSERT_GE(saved, 0);
  ASSERT_EQ(dup2(fd, 1), 1);
  fn();
  ASSERT_EQ(dup2(saved, 1), 1);
  close(saved);
}

TEST(Console, WritesTextToStandardOutput) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  with_stdout(p[1], [] {
    console_write(nullptr);
    console_write("ALARM\r\n");
  });
  close(p[1]);
  char got[32];
  const ssize_t n = read(p[0], got, sizeof got);
  close(p[0]);
  EXPECT_EQ(std::string(got, n > 0 ? static_cast<std::size_t>(n) : 0), "ALARM\r\n");
}

TEST(Console, ClosedOutputLosesTextQuietly) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  close(p[0]);
  // Without care the write raises SIGPIPE and ends the test process.
  int errno_after = 0;
  with_stdout(p[1], [&] {
    errno = EDOM;
    console_write("lost\r\n");
    errno_after = errno;
  });
  EXPECT_EQ(errno_after, EDOM);
  close(p[1]);
  sigset_t pending;
  sigemptyset(&pending);
  ASSERT_EQ(sigpending(&pending), 0);
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

}  // namespace
}  // namespace rk
