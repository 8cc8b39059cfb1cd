#include "cli/ConsoleMessages.h"

#include <ostream>

namespace vantro::cli {

MessageAnswer ConsoleMessages::Show(const std::string& text, MessageButtons buttons) {
    texts_.push_back(text);
    out_ << text;
    if (text.empty() || text.back() != '\n') {
        out_ << '\n';
    }
    out_.flush();
    return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
}

}  // namespace vantro::cli
