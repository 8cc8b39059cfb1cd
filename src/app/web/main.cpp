// The assistant as a page: its command line is the page's query (?simulated-unit&sim-fault=...,
// turned into --simulated-unit --sim-fault ... by page.js), its dialog the page.
#include <emscripten.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Version.h"
#include "app/web/PageDialog.h"
#include "assistant/Session.h"

namespace {

class WebProgram : public vantro::assistant::WindowProgram {
  public:
    void Print(const std::string& text, bool error) override {
        std::fputs(text.c_str(), error ? stderr : stdout);  // the browser's console
        std::fflush(error ? stderr : stdout);
        MAIN_THREAD_EM_ASM({ Vantro.page.printed(UTF8ToString($0)); }, text.c_str());
    }
    void Prepare(const std::vector<std::string>&) override {}
    void RunDialog(const std::string& notice) override {
        std::string told = notice;
        const int problem = MAIN_THREAD_EM_ASM_INT({ return Vantro.page.midiProblemNotice(); });
        if (problem != 0) {
            char* text = reinterpret_cast<char*>(problem);
            told = std::string(text) + (told.empty() ? "" : "\n\n" + told);
            std::free(text);
        }
        vantro::web::PageDialog dialog(told);
        dialog.Run();
    }
    vantro::MessageSeam& Messages() override { return boxes_; }

  private:
    vantro::web::PageBoxes boxes_;
};

}  // namespace

int main(int argc, char** argv) {
    WebProgram program;
    return vantro::assistant::RunWindowProgram(std::vector<std::string>(argv + 1, argv + argc),
                                               VANTRO_VERSION, program);
}
