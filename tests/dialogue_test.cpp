// Black-box tests of the matrix dialogue: each test runs the built program,
// as a user at a terminal or a script on a pipe would, and checks the bytes it
// writes and how it ends.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

constexpr bool windows = MATRIX_PROGRAM_WINDOWS;
constexpr int n = 5;
constexpr auto patience = 30s; // Wine's first start in a run is slow

const std::string row_prompt = "Hanyadik sort szeretne megjeleniteni: ";
const std::string column_prompt = "Hanyadik oszlopot szeretne megjeleniteni: ";
const std::string bad_row =
    "Hibas sorszam: 1 es 5 kozotti egesz szamot adjon meg.\n";
const std::string bad_column =
    "Hibas oszlopszam: 1 es 5 kozotti egesz szamot adjon meg.\n";
const std::string enter_wait =
    "A folytatashoz nyomja meg az Enter billentyut . . .";
// What Wine's command interpreter shows for "pause" (its locale is pinned to
// C by the build); on Linux the program waits only at a terminal.
const std::string pause_text = windows ? "Press any key to continue... " : "";

/* ---- Running the program ----------------------------------------------- */

std::vector<std::string> command(const std::vector<std::string> &args) {
  std::vector<std::string> c;
  if (*MATRIX_LAUNCHER)
    c.emplace_back(MATRIX_LAUNCHER);
  c.emplace_back(MATRIX_PROGRAM);
  c.insert(c.end(), args.begin(), args.end());
  return c;
}

[[noreturn]] void exec(const std::vector<std::string> &c) {
  std::vector<char *> argv;
  for (const auto &a : c)
    argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

// Exit status of a child that has ended; a signal shows as 128 + its number.
int status_of(int st) {
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

struct result {
  std::string out, err;
  int status = -1;
  bool timed_out = false;
};

// Runs the program with `input` on a pipe as its standard input, closed after
// the input unless `keep_open`. A run that outlives `patience` is killed.
result run(const std::string &input, const std::vector<std::string> &args = {},
           bool keep_open = false) {
  std::signal(SIGPIPE, SIG_IGN); // the program may end before reading all
  int in[2], out[2], err[2];
  if (pipe(in) || pipe(out) || pipe(err))
    std::abort();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
      close(fd);
    exec(command(args));
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  for (int fd : {in[1], out[0], err[0]})
    fcntl(fd, F_SETFL, O_NONBLOCK);

  result r;
  size_t sent = 0;
  int to = in[1];
  auto send_done = [&] {
    if (!keep_open && to >= 0 && sent == input.size()) {
      close(to);
      to = -1;
    }
  };
  send_done();
  auto drain = [](int fd, std::string &into) {
    char buf[4096];
    ssize_t got;
    while ((got = read(fd, buf, sizeof buf)) > 0)
      into.append(buf, static_cast<size_t>(got));
  };

  // The run is over when the program has ended, not when its pipes close: a
  // helper it started (Wine's server) may hold them open longer.
  const auto deadline = clock_type::now() + patience;
  int st = 0;
  while (waitpid(pid, &st, WNOHANG) == 0) {
    if (clock_type::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &st, 0);
      r.timed_out = true;
      break;
    }
    pollfd p[] = {{out[0], POLLIN, 0},
                  {err[0], POLLIN, 0},
                  {sent < input.size() ? to : -1, POLLOUT, 0}};
    poll(p, 3, 10);
    drain(out[0], r.out);
    drain(err[0], r.err);
    if (p[2].revents & (POLLOUT | POLLERR)) {
      ssize_t put = write(to, input.data() + sent, input.size() - sent);
      if (put < 0) {
        sent = input.size(); // the program closed its input: nothing to send
      } else {
        sent += static_cast<size_t>(put);
      }
      send_done();
    }
  }
  drain(out[0], r.out);
  drain(err[0], r.err);
  for (int fd : {to, out[0], err[0]})
    if (fd >= 0)
      close(fd);
  r.status = r.timed_out ? -1 : status_of(st);
  return r;
}

/* ---- Running it at a terminal ------------------------------------------ */

struct terminal {
  int fd;
  pid_t pid;
  std::string screen; // everything shown so far, echo included
  size_t seen = 0;    // how much of it earlier waits have matched
  int status = -1;
};

terminal start_at_terminal() {
  terminal t{-1, -1, {}};
  t.pid = forkpty(&t.fd, nullptr, nullptr, nullptr);
  if (t.pid < 0)
    std::abort();
  if (t.pid == 0)
    exec(command({}));
  return t;
}

// Reads what the terminal shows within `wait`: how much it read, 0 for
// nothing, -1 once the terminal has closed.
ssize_t read_screen(terminal &t, std::chrono::milliseconds wait) {
  pollfd p{t.fd, POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(wait.count())) <= 0)
    return 0;
  char buf[4096];
  ssize_t got = read(t.fd, buf, sizeof buf);
  if (got <= 0)
    return -1;
  t.screen.append(buf, static_cast<size_t>(got));
  return got;
}

// Waits until `text` shows on the terminal after what earlier waits matched.
bool wait_for(terminal &t, const std::string &text) {
  const auto deadline = clock_type::now() + patience;
  for (;;) {
    size_t at = t.screen.find(text, t.seen);
    if (at != std::string::npos) {
      t.seen = at + text.size();
      return true;
    }
    if (clock_type::now() > deadline || read_screen(t, 10ms) < 0)
      return false;
  }
}

void type(terminal &t, const std::string &keys) {
  ASSERT_EQ(write(t.fd, keys.data(), keys.size()),
            static_cast<ssize_t>(keys.size()));
}

bool still_running(terminal &t) {
  int st;
  if (waitpid(t.pid, &st, WNOHANG) == 0)
    return true;
  t.status = status_of(st);
  return false;
}

// Reads the terminal until the program ends and gives its exit status, -1 if
// it did not end in time.
int finish(terminal &t) {
  const auto deadline = clock_type::now() + patience;
  while (t.status < 0 && still_running(t)) {
    if (clock_type::now() > deadline) {
      kill(t.pid, SIGKILL);
      waitpid(t.pid, nullptr, 0);
      break;
    }
    read_screen(t, 10ms);
  }
  while (read_screen(t, 0ms) > 0) {
  }
  close(t.fd);
  return t.status;
}

/* ---- What the output must be ------------------------------------------- */

using grid = std::array<std::array<int, n>, n>;

// The text as the platform writes it: Windows ends lines with CR LF.
std::string native(const std::string &text) {
  if (!windows)
    return text;
  std::string t;
  for (char c : text) {
    if (c == '\n')
      t += '\r';
    t += c;
  }
  return t;
}

// Line ends as one LF, whatever the platform wrote.
std::string plain(const std::string &text) {
  std::string t;
  for (size_t k = 0; k < text.size(); k++)
    if (!(text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n'))
      t += text[k];
  return t;
}

// Reads the matrix back from the start of the output: the heading, then five
// lines of five values from 1 to 91, each value followed by a tab.
std::optional<grid> parse(const std::string &out) {
  const std::string text = plain(out);
  const std::string heading = "A matrix elemei:\n";
  if (text.compare(0, heading.size(), heading) != 0)
    return std::nullopt;
  grid m{};
  size_t at = heading.size();
  for (auto &row : m) {
    for (int &cell : row) {
      size_t digits = 0;
      while (at + digits < text.size() && digits < 3 &&
             std::isdigit(static_cast<unsigned char>(text[at + digits])))
        digits++;
      if (digits == 0 || text[at] == '0' || at + digits >= text.size() ||
          text[at + digits] != '\t')
        return std::nullopt;
      cell = std::stoi(text.substr(at, digits));
      if (cell < 1 || cell > 91)
        return std::nullopt;
      at += digits + 1;
    }
    if (at >= text.size() || text[at] != '\n')
      return std::nullopt;
    at++;
  }
  return m;
}

// One line of values as the program shows them; `cell(k)` is the k-th value.
template <typename F> std::string values(F cell) {
  std::string t;
  for (int k = 1; k <= n; k++)
    t += std::to_string(cell(k)) + "\t";
  return t + "\n";
}

// All the program writes to standard output, before any pause, for matrix
// `m` when the answers chose row `s` and column `o` (none where the answer
// was not a row or column number).
std::string transcript(const grid &m, std::optional<int> s,
                       std::optional<int> o) {
  auto at = [&](int r, int c) { return m[r - 1][c - 1]; };
  std::string t = "A matrix elemei:\n";
  for (int r = 1; r <= n; r++)
    t += values([&](int c) { return at(r, c); });
  t += row_prompt + "\n";
  if (s)
    t += values([&](int c) { return at(*s, c); });
  t += column_prompt + "\n";
  if (o)
    t += values([&](int r) { return at(r, *o); });
  t += "A matrix foatloja: \n";
  t += values([&](int k) { return at(k, k); });
  t += "A matrix mellekatloja: \n";
  t += values([&](int k) { return at(k, n + 1 - k); });
  return t;
}

// Checks a whole run against the matrix it printed: every row, column and
// diagonal it shows, its prompts and messages, line ends and exit status.
void expect_dialogue(const result &r, std::optional<int> s,
                     std::optional<int> o) {
  ASSERT_FALSE(r.timed_out) << r.out;
  EXPECT_EQ(r.status, 0);
  auto m = parse(r.out);
  ASSERT_TRUE(m) << "no 5x5 matrix of 1 to 91 at the start of:\n" << r.out;
  EXPECT_EQ(r.out, native(transcript(*m, s, o)) + pause_text);
  EXPECT_EQ(r.err, native((s ? "" : bad_row) + (o ? "" : bad_column)));
  if (windows) {
    for (size_t k = 0; k < r.out.size(); k++) {
      if (r.out[k] == '\n') {
        ASSERT_TRUE(k > 0 && r.out[k - 1] == '\r') << "bare LF at " << k;
      }
    }
  }
}

/* ---- Answers, good and bad --------------------------------------------- */

struct answers {
  const char *name;
  std::string input;
  std::optional<int> s, o; // the row and column shown, if any
};

const answers cases[] = {
    {"RowThenColumn", "2\n4\n", 2, 4},
    {"BothOnOneLine", "2 4\n", 2, 4},
    {"FirstRowLastColumn", "1\n5\n", 1, 5},
    {"LastRowFirstColumn", "5\t1", 5, 1},
    {"BlankLinesSignsAndZeros", "\n \n +3\n\n\t04\n", 3, 4},
    {"Zero", "0\n4\n", std::nullopt, 4},
    {"Six", "6\n4\n", std::nullopt, 4},
    {"MinusOne", "-1\n4\n", std::nullopt, 4},
    {"TooLargeForInt", "99999999999 3\n", std::nullopt, 3},
    {"TooSmallForInt", "-99999999999 3\n", std::nullopt, 3},
    {"BothFarTooLarge", "99999999999999999999\n-99999999999999999999\n",
     std::nullopt, std::nullopt},
    {"RowOutOfRangeColumnOnSameLine", "7 3\n", std::nullopt, 3},
    {"BothOutOfRangeOnOneLine", "7 9\n", std::nullopt, std::nullopt},
    {"Letters", "abc\n", std::nullopt, std::nullopt},
    {"LettersThenColumnOnNextLine", "abc 2\n4\n", std::nullopt, 4},
    {"SignAlone", "-\n4\n", std::nullopt, 4},
    {"BytesThatAreNotText", "\xff\xfe\x01\n4\n", std::nullopt, 4},
    {"NumberThenLetters", "2x\n4\n", 2, std::nullopt},
    {"Fraction", "2.5\n4\n", 2, std::nullopt},
    {"ColumnLetters", "3\nxyz\n", 3, std::nullopt},
    {"EmptyInput", "", std::nullopt, std::nullopt},
    {"OnlyBlankLines", "\n\n\n", std::nullopt, std::nullopt},
    {"EndsAfterRow", "2\n", 2, std::nullopt},
};

void PrintTo(const answers &c, std::ostream *os) { *os << c.name; }

class Answers : public testing::TestWithParam<answers> {};

TEST_P(Answers, ShowWhatTheyChoseFromTheMatrix) {
  const auto &c = GetParam();
  expect_dialogue(run(c.input), c.s, c.o);
}

INSTANTIATE_TEST_SUITE_P(Dialogue, Answers, testing::ValuesIn(cases),
                         [](const auto &info) { return info.param.name; });

TEST(Dialogue, IgnoresArguments) {
  expect_dialogue(run("2 4\n", {"--help", "3", "-"}), 2, 4);
}

/* ---- The generator ----------------------------------------------------- */

// Runs until `count` runs start and end within one second; that second.
std::optional<std::time_t> same_second(std::vector<result> &runs, int count) {
  for (int attempt = 0; attempt < 5; attempt++) {
    runs.clear();
    std::time_t before = std::time(nullptr);
    for (int k = 0; k < count; k++)
      runs.push_back(run("2\n4\n"));
    if (std::time(nullptr) == before)
      return before;
  }
  return std::nullopt;
}

TEST(Generator, TranscriptIsExactForTheSecondOfTheRun) {
  if (windows)
    GTEST_SKIP() << "the expected values come from this machine's own rand, "
                    "which is not the Windows C library's";
  std::vector<result> runs;
  auto t = same_second(runs, 1);
  ASSERT_TRUE(t) << "no run fell within one second";
  std::srand(static_cast<unsigned>(*t));
  grid m;
  for (auto &row : m)
    for (int &cell : row)
      cell = std::rand() % 91 + 1;
  EXPECT_EQ(runs[0].out, transcript(m, 2, 4));
  EXPECT_EQ(runs[0].err, "");
  EXPECT_EQ(runs[0].status, 0);
}

TEST(Generator, RunsInTheSameSecondShowTheSameMatrix) {
  std::vector<result> runs;
  ASSERT_TRUE(same_second(runs, 2)) << "no two runs fell within one second";
  auto first = parse(runs[0].out);
  ASSERT_TRUE(first) << runs[0].out;
  EXPECT_EQ(first, parse(runs[1].out));
}

/* ---- At a terminal, and on a pipe that stays open ---------------------- */

struct typing {
  const char *name;
  std::string row, column; // typed once the prompt shows; column may be none
};

const typing typed[] = {
    {"AnswerPerLine", "2\n", "4\n"},
    {"BothAnswersAtOnce", "2 4\n", ""},
    {"ColumnNotANumber", "2\n", "x\n"},
    {"RowNotANumber", "abc\n", "4\n"},
};

void PrintTo(const typing &c, std::ostream *os) { *os << c.name; }

class Terminal : public testing::TestWithParam<typing> {
protected:
  void SetUp() override {
    if (windows)
      GTEST_SKIP() << "Wine gives a Windows program no Unix terminal, and "
                      "\"pause\" waits for a key of its own";
  }
};

// Each prompt is on the screen before the program waits for its answer (the
// test types only once it sees it), and the run ends only after Enter.
TEST_P(Terminal, PromptsComeFirstAndEnterEndsTheRun) {
  const auto &c = GetParam();
  terminal t = start_at_terminal();
  ASSERT_TRUE(wait_for(t, row_prompt)) << t.screen;
  type(t, c.row);
  ASSERT_TRUE(wait_for(t, column_prompt)) << t.screen;
  if (!c.column.empty())
    type(t, c.column);
  ASSERT_TRUE(wait_for(t, "A matrix mellekatloja: ")) << t.screen;
  ASSERT_TRUE(wait_for(t, enter_wait)) << t.screen;
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(still_running(t)) << "ended without waiting for Enter";
  type(t, "\n");
  EXPECT_EQ(finish(t), 0) << t.screen;
}

INSTANTIATE_TEST_SUITE_P(Dialogue, Terminal, testing::ValuesIn(typed),
                         [](const auto &info) { return info.param.name; });

TEST(Dialogue, EndOfInputAtTheTerminalEndsTheRunWithoutWaiting) {
  if (windows)
    GTEST_SKIP() << "Wine gives a Windows program no Unix terminal";
  terminal t = start_at_terminal();
  ASSERT_TRUE(wait_for(t, row_prompt)) << t.screen;
  type(t, "\x04"); // end of input, as Ctrl-D types it
  EXPECT_EQ(finish(t), 0) << t.screen;
  for (const auto &text : {bad_row, bad_column})
    EXPECT_NE(t.screen.find(text.substr(0, text.size() - 1)), std::string::npos)
        << t.screen;
  EXPECT_NE(t.screen.find("A matrix mellekatloja: "), std::string::npos);
  EXPECT_EQ(t.screen.find(enter_wait), std::string::npos) << t.screen;
}

TEST(Dialogue, OpenPipeDoesNotHoldTheRun) {
  if (windows)
    GTEST_SKIP() << "on Windows \"pause\" reads a key from whatever its "
                    "input is, as the platform's own";
  expect_dialogue(run("2 4\n", {}, true), 2, 4);
}

} // namespace
