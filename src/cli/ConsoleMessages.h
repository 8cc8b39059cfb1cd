#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "seam/MessageSeam.h"

namespace vantro::cli {

// Prints every message to a stream (standard error for the CLI) and keeps them in order.
class ConsoleMessages : public MessageSeam {
  public:
    explicit ConsoleMessages(std::ostream& out) : out_(out) {}

    MessageAnswer Show(const std::string& text, MessageButtons buttons) override;

    const std::vector<std::string>& Texts() const { return texts_; }

  private:
    std::ostream& out_;
    std::vector<std::string> texts_;
};

// A progress bar of 30 characters: '#' for the share of blocks done, '.' for the rest.
std::string BlocksBar(int done, int total);

enum class Answer { Ask, Yes, No };

// The message boxes of an upgrade run, on out; the restart question answered as told (Ask:
// asked on the terminal, No when input is no terminal). Line ends as the stream wants them.
class UpgradeConsole : public MessageSeam {
  public:
    UpgradeConsole(std::ostream& out, Answer answer) : out_(out), answer_(answer) {}
    MessageAnswer Show(const std::string& text, MessageButtons buttons) override;

  private:
    std::ostream& out_;
    Answer answer_;
};

}  // namespace vantro::cli
