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

}  // namespace vantro::cli
