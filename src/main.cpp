// matrix: fills a 5x5 matrix with random numbers and shows a row, a column
// and both diagonals of it, as the user asks.

#include <cstdlib>
#include <ctime>
#include <iostream>
#include <limits>

namespace {

constexpr int n = 5;    // rows and columns, numbered 1 to n
constexpr int top = 91; // cells hold 1 to top

/* ---- Answers ----------------------------------------------------------- */

// Asks for a row or column number; true if the answer is one. Answers are
// read as a stream, so both may come on one line. A number out of range
// leaves the rest of its line for the next question. A non-number would stop
// the next read too, so the rest of its line is dropped, all but the line
// end: the next read skips that anyway, and the wait at the end takes it as
// the end of the last answer's line. Input that has ended stays ended.
bool ask(const char *prompt, const char *error, int &k) {
  std::cout << prompt;
  k = 0;
  bool ok = static_cast<bool>(std::cin >> k) && 1 <= k && k <= n;
  std::cout << "\n";
  if (!ok) {
    // A failed read stores the nearest int for a number too large for one,
    // and 0 where no number was there at all.
    if (std::cin.fail() && !std::cin.eof()) {
      std::cin.clear();
      if (k == 0) {
        constexpr auto end = std::char_traits<char>::eof();
        for (auto c = std::cin.peek(); c != '\n' && c != end;
             c = std::cin.peek())
          std::cin.ignore();
      }
    }
    std::cerr << error << "\n";
  }
  return ok;
}

void put(int v) { std::cout << v << '\t'; }

} // namespace

/* ---- The wait at the end: the one place where platforms differ ---------- */

#ifdef _WIN32

namespace {

// The command interpreter writes its own text to the same console or file; the
// flush puts ours ahead of it.
void wait_for_key() {
  std::cout.flush();
  std::system("pause");
}

} // namespace

#else

#include <unistd.h>

namespace {

// No "pause" here, so the same wait for a key is our own, and only for a
// person at a terminal: a script's pipe must never hold the run open.
void wait_for_key() {
  if (!isatty(STDIN_FILENO))
    return;
  constexpr auto all = std::numeric_limits<std::streamsize>::max();
  std::cin.ignore(all, '\n'); // what is left of the last answer's line
  if (!std::cin.good())
    return;
  std::cout << "A folytatashoz nyomja meg az Enter billentyut . . .";
  std::cin.ignore(all, '\n');
}

} // namespace

#endif

/* ---- The dialogue ------------------------------------------------------ */

int main() {
  std::srand(static_cast<unsigned>(std::time(nullptr)));

  int matrix[n][n];
  for (int i = 1; i <= n; i++)
    for (int j = 1; j <= n; j++)
      matrix[i - 1][j - 1] = std::rand() % top + 1;

  std::cout << "A matrix elemei:";
  for (int i = 1; i <= n; i++) {
    std::cout << "\n";
    for (int j = 1; j <= n; j++)
      put(matrix[i - 1][j - 1]);
  }
  std::cout << "\n";

  int s;
  if (ask("Hanyadik sort szeretne megjeleniteni: ",
          "Hibas sorszam: 1 es 5 kozotti egesz szamot adjon meg.", s)) {
    for (int j = 1; j <= n; j++)
      put(matrix[s - 1][j - 1]);
    std::cout << "\n";
  }

  int o;
  if (ask("Hanyadik oszlopot szeretne megjeleniteni: ",
          "Hibas oszlopszam: 1 es 5 kozotti egesz szamot adjon meg.", o)) {
    for (int i = 1; i <= n; i++)
      put(matrix[i - 1][o - 1]);
    std::cout << "\n";
  }

  std::cout << "A matrix foatloja: \n";
  for (int j = 1; j <= n; j++)
    put(matrix[j - 1][j - 1]);
  std::cout << "\n";

  std::cout << "A matrix mellekatloja: \n";
  for (int j = 1; j <= n; j++)
    put(matrix[j - 1][n - j]);
  std::cout << "\n";

  wait_for_key();
  return 0;
}
