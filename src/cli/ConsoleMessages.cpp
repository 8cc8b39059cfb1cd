#include "cli/ConsoleMessages.h"

#include <iostream>
#include <ostream>

#include "platform/Console.h"

namespace vantro::cli {

namespace {

std::string WithLineFeeds(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i];
    }
    return out;
}

}  // namespace

std::string BlocksBar(int done, int total) {
    constexpr int kWidth = 30;
    const int percent = total > 0 ? done * 100 / total : 0;
    std::string bar(static_cast<std::size_t>(kWidth * percent / 100), '#');
    bar.resize(kWidth, '.');
    return bar;
}

MessageAnswer ConsoleMessages::Show(const std::string& text, MessageButtons buttons) {
    texts_.push_back(text);
    out_ << text;
    if (text.empty() || text.back() != '\n') {
        out_ << '\n';
    }
    out_.flush();
    return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
}

MessageAnswer UpgradeConsole::Show(const std::string& text, MessageButtons buttons) {
    std::string shown = WithLineFeeds(text);
    if (buttons == MessageButtons::Ok) {
        out_ << shown << (shown.empty() || shown.back() != '\n' ? "\n" : "");
        out_.flush();
        return MessageAnswer::Ok;
    }
    out_ << shown;
    // --yes answers the restart question, never one whose safe answer is No.
    bool yes = answer_ == Answer::Yes && buttons == MessageButtons::YesNo;
    if (answer_ == Answer::Ask && platform::IsTerminal(platform::Stream::In)) {
        out_ << " [y/N] " << std::flush;
        std::string line;
        std::getline(std::cin, line);
        yes = !line.empty() && (line[0] == 'y' || line[0] == 'Y');
    } else {
        out_ << ' ' << (yes ? "Yes" : "No") << '\n';
    }
    out_.flush();
    return yes ? MessageAnswer::Yes : MessageAnswer::No;
}

}  // namespace vantro::cli
