#include "seam/MessageSeam.h"

namespace vantro {

MessageAnswer RecordingMessageSeam::Show(const std::string& text, MessageButtons buttons) {
    entries_.push_back({text, buttons});
    return buttons == MessageButtons::Ok ? MessageAnswer::Ok : yesNoAnswer_;
}

std::vector<std::string> RecordingMessageSeam::Texts() const {
    std::vector<std::string> texts;
    texts.reserve(entries_.size());
    for (const auto& e : entries_) {
        texts.push_back(e.text);
    }
    return texts;
}

}  // namespace vantro
