#include "app/qt/VantroApp.h"

#include <QApplication>
#include <cstdio>
#include <optional>

#include "Version.h"
#include "app/qt/QtMessageSeam.h"
#include "app/qt/VantroDlg.h"
#include "assistant/Session.h"

namespace vantro::app {

CVANTROApp theApp;

namespace {

// The program on Qt: text for the terminal it was started from, the application object, the
// dialog.
class QtProgram : public assistant::WindowProgram {
  public:
    QtProgram(int& argc, char** argv) : argc_(argc), argv_(argv) {}

    void Print(const std::string& text, bool error) override {
        std::fputs(text.c_str(), error ? stderr : stdout);
    }
    void Prepare(const std::vector<std::string>&) override { application_.emplace(argc_, argv_); }
    void RunDialog(const std::string& notice) override {
        CVANTRODlg dialog(nullptr, nullptr, notice);
        dialog.exec();
    }
    MessageSeam& Messages() override { return boxes_; }

  private:
    int& argc_;
    char** argv_;
    std::optional<QApplication> application_;
    QtMessageSeam boxes_{nullptr};
};

}  // namespace

int CVANTROApp::InitInstance(int argc, char** argv) {
    QtProgram program(argc, argv);
    return assistant::RunWindowProgram(std::vector<std::string>(argv + 1, argv + argc),
                                       VANTRO_VERSION, program);
}

}  // namespace vantro::app
