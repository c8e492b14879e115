#pragma once

#include <string>
#include <string_view>
#include <vector>

// What the virtual-stick tools read on standard input, three words a command:
//   b N down, b N up   press or release button N (0 is button 1)
//   a N VALUE          move axis N to VALUE, limited to -32768..32767
//   s 0 out, s 0 in    pull the stick out, plug it in again at rest
struct StickCommand {
    enum class Kind { Button, Axis, Plug };
    Kind kind;
    int index;
    int value;  // Button: 1 down, 0 up; Axis: the position; Plug: 1 in, 0 out
    bool operator==(const StickCommand&) const = default;
};

// Standard input arrives in whatever pieces read() returns, and a piece may end in the middle of
// a line: a line is read only once it is complete, so a command split across two reads is still
// the command typed. A line longer than kMaxLine is passed over whole, so that input without a
// newline cannot grow the buffer without bound.
class StickLineReader {
  public:
    // The commands of the lines text completes, in order; words that make no command are passed
    // over.
    std::vector<StickCommand> Feed(std::string_view text);

  private:
    static constexpr std::size_t kMaxLine = 4096;
    std::string pending_;
    bool overlong_ = false;  // inside a line too long to keep: drop it up to its end
};
