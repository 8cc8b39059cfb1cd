#pragma once

#include <string>
#include <vector>

namespace vantro {

// How a message asks the user to answer.
// YesNoDefaultNo: a question whose careless Enter must not say Yes.
enum class MessageButtons { Ok, YesNo, YesNoDefaultNo };

enum class MessageAnswer { Ok, Yes, No };

// Everything the user is told goes through one of these: the GUI shows a message box, the
// CLI prints, tests record. Show blocks until the user has answered.
class MessageSeam {
  public:
    virtual ~MessageSeam() = default;
    virtual MessageAnswer Show(const std::string& text, MessageButtons buttons) = 0;
};

// Keeps every message in order and answers Yes/No questions with a fixed answer.
class RecordingMessageSeam : public MessageSeam {
  public:
    struct Entry {
        std::string text;
        MessageButtons buttons;
    };

    explicit RecordingMessageSeam(MessageAnswer yesNoAnswer = MessageAnswer::No)
        : yesNoAnswer_(yesNoAnswer) {}

    MessageAnswer Show(const std::string& text, MessageButtons buttons) override;

    const std::vector<Entry>& Entries() const { return entries_; }
    std::vector<std::string> Texts() const;
    void SetYesNoAnswer(MessageAnswer answer) { yesNoAnswer_ = answer; }
    void Clear() { entries_.clear(); }

  private:
    std::vector<Entry> entries_;
    MessageAnswer yesNoAnswer_;
};

}  // namespace vantro
