#include "app/web/PageDialog.h"

#include <emscripten.h>
#include <emscripten/threading.h>

#include <cstdlib>
#include <span>

#include "assistant/DialogIds.h"

namespace vantro::web {

namespace {

// What the page answers a box, the file chooser or the about box with; one at a time, since
// only the assistant's thread asks.
class Reply {
  public:
    static Reply& Get() {
        static Reply reply;
        return reply;
    }
    void Give(std::string value) {
        {
            std::lock_guard lock(mutex_);
            value_ = std::move(value);
        }
        given_.notify_all();
    }
    // Asks (ask runs the page's side) and waits for the answer.
    template <typename Ask>
    std::string Await(Ask ask) {
        {
            std::lock_guard lock(mutex_);
            value_.reset();
        }
        ask();
        std::unique_lock lock(mutex_);
        given_.wait(lock, [this] { return value_.has_value(); });
        return *std::exchange(value_, std::nullopt);
    }

  private:
    std::mutex mutex_;
    std::condition_variable given_;
    std::optional<std::string> value_;
};

std::mutex currentMutex;
PageDialog* current = nullptr;  // the dialog the page's clicks go to

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    return text;
}

// Template 102, in template order: the page lays its controls out from it.
struct Control {
    const char* kind;
    const char* text;
    int id, x, y, w, h, visible;
};
#define TEMPLATE_CONTROL(kind, text, id, x, y, w, h, visible) \
    {#kind, text, id, x, y, w, h, visible},
constexpr Control kTemplate[] = {
#include "assistant/Template102.def"
};
#undef TEMPLATE_CONTROL

struct AboutControl {
    const char* kind;
    const char* text;
    int id, x, y, w, h;
};
#define ABOUT_CONTROL(kind, text, id, x, y, w, h) {#kind, text, id, x, y, w, h},
constexpr AboutControl kAbout[] = {
#include "assistant/Template100.def"
};
#undef ABOUT_CONTROL

}  // namespace

MessageAnswer PageBoxes::Show(const std::string& text, MessageButtons buttons) {
    // 0: OK; 1: Yes and No; 2: Yes and No, No the default.
    const int kind = buttons == MessageButtons::Ok ? 0 : buttons == MessageButtons::YesNo ? 1 : 2;
    const std::string answer = Reply::Get().Await([&] {
        MAIN_THREAD_EM_ASM({ Vantro.page.box(UTF8ToString($0), $1); }, text.c_str(), kind);
    });
    if (buttons == MessageButtons::Ok)
        return MessageAnswer::Ok;
    return answer == "yes" ? MessageAnswer::Yes : MessageAnswer::No;
}

PageDialog::PageDialog(std::string notice) : assistant_(*this, std::move(notice)) {
    // Web MIDI sends whole messages only: a message cannot leave in pieces, so nothing is
    // retried paced.
    LinkTimings timings = assistant_.Timings();
    timings.pacedRetry = false;
    assistant_.SetLinkTimings(timings);
}

PageDialog::~PageDialog() {
    {
        std::lock_guard lock(currentMutex);
        if (current == this)
            current = nullptr;
    }
    assistant_.Stop();
}

void PageDialog::Run() {
    MAIN_THREAD_EM_ASM({ Vantro.page.begin(UTF8ToString($0), $1, $2); }, ASSISTANT_CAPTION,
                       ASSISTANT_WIDTH, ASSISTANT_HEIGHT);
    for (const Control& c : kTemplate) {
        MAIN_THREAD_EM_ASM(
            { Vantro.page.control(UTF8ToString($0), UTF8ToString($1), $2, $3, $4, $5, $6, $7); },
            c.kind, c.text, c.id, c.x, c.y, c.w, c.h, c.visible);
    }
    MAIN_THREAD_EM_ASM({ Vantro.page.aboutBox(UTF8ToString($0), $1, $2); }, ABOUT_CAPTION,
                       ABOUT_WIDTH, ABOUT_HEIGHT);
    for (const AboutControl& c : kAbout) {
        MAIN_THREAD_EM_ASM(
            { Vantro.page.aboutControl(UTF8ToString($0), UTF8ToString($1), $2, $3, $4, $5, $6); },
            c.kind, c.text, c.id, c.x, c.y, c.w, c.h);
    }
    {
        std::lock_guard lock(currentMutex);
        current = this;
    }
    MAIN_THREAD_EM_ASM({ Vantro.page.ready(); });
    assistant_.Start();
    for (;;) {
        RunPosted(true);
        std::unique_lock lock(mutex_);
        if (ended_)
            break;
        posted_.wait(lock, [this] { return ended_ || !tasks_.empty() || !clicks_.empty(); });
    }
    assistant_.Stop();
    MAIN_THREAD_EM_ASM({ Vantro.page.ended(); });
}

void PageDialog::Command(int id) {
    std::lock_guard lock(currentMutex);
    if (PageDialog* d = current)
        d->Post([d, id] { d->assistant_.OnCommand(id); }, true);
}

void PageDialog::SysCommand(unsigned id) {
    std::lock_guard lock(currentMutex);
    if (PageDialog* d = current)
        d->Post([d, id] { d->assistant_.OnSysCommand(id); }, true);
}

void PageDialog::Post(std::function<void()> f, bool fromPage) {
    {
        std::lock_guard lock(mutex_);
        (fromPage ? clicks_ : tasks_).push_back(std::move(f));
    }
    posted_.notify_all();
}

void PageDialog::RunPosted(bool takeClicks) {
    for (;;) {
        std::function<void()> f;
        {
            std::lock_guard lock(mutex_);
            if (!takeClicks)
                clicks_.clear();  // meant for the dialog while an action ran: dropped
            auto& from = !tasks_.empty() ? tasks_ : clicks_;
            if (from.empty() || ended_)
                return;
            f = std::move(from.front());
            from.pop_front();
        }
        f();
    }
}

void PageDialog::RunOnUiThread(std::function<void()> f) {
    Post(std::move(f), false);
}

void PageDialog::ShowPorts(assistant::PortList list, const std::vector<std::string>& names,
                           int selected, const std::string& hint) {
    MAIN_THREAD_EM_ASM({ Vantro.page.ports($0, UTF8ToString($1), $2, UTF8ToString($3)); },
                       list == assistant::PortList::In ? IDC_IN_PORTS : IDC_OUT_PORTS,
                       Joined(names).c_str(), selected, hint.c_str());
}

int PageDialog::SelectedPort(assistant::PortList list) {
    return MAIN_THREAD_EM_ASM_INT({ return Vantro.page.selected($0); },
                                  list == assistant::PortList::In ? IDC_IN_PORTS : IDC_OUT_PORTS);
}

void PageDialog::ShowStatus(const std::string& text) {
    MAIN_THREAD_EM_ASM({ Vantro.page.text($0, UTF8ToString($1)); }, IDC_STATUS, text.c_str());
}

void PageDialog::ShowFirmwarePath(const std::string& path) {
    MAIN_THREAD_EM_ASM({ Vantro.page.text($0, UTF8ToString($1)); }, IDC_FIRMWARE_PATH,
                       path.c_str());
}

void PageDialog::ShowProgress(int done, int total) {
    MAIN_THREAD_ASYNC_EM_ASM({ Vantro.page.progress($0, $1); }, done, total);  // no waiting
}

void PageDialog::EnableUpgrade(bool enabled) {
    MAIN_THREAD_EM_ASM({ Vantro.page.enable($0, $1); }, IDC_UPGRADE, enabled ? 1 : 0);
}

void PageDialog::FocusUpgrade() {
    MAIN_THREAD_EM_ASM({ Vantro.page.focus($0); }, IDC_UPGRADE);
}

std::optional<std::string> PageDialog::ChooseHexFile() {
    std::string chosen =
        Reply::Get().Await([] { MAIN_THREAD_EM_ASM({ Vantro.page.chooseFile(); }); });
    if (chosen.empty())
        return std::nullopt;
    return chosen;
}

void PageDialog::ShowWaitCursor(bool shown) {
    MAIN_THREAD_EM_ASM({ Vantro.page.busy($0); }, shown ? 1 : 0);
}

void PageDialog::KeepPainting() {
    RunPosted(false);  // the page paints itself; its clicks meanwhile are dropped
}

void PageDialog::MakeStepCaptionsBold() {
    MAIN_THREAD_EM_ASM({ Vantro.page.boldSteps(); });
}

void PageDialog::AddMenuSeparator() {
    MAIN_THREAD_EM_ASM({ Vantro.page.menuSeparator(); });
}

void PageDialog::AddMenuItem(unsigned id, const std::string& text) {
    MAIN_THREAD_EM_ASM({ Vantro.page.menuItem($0, UTF8ToString($1)); }, id, text.c_str());
}

void PageDialog::ShowIcons() {
    MAIN_THREAD_EM_ASM({ Vantro.page.icons(); });
}

void PageDialog::ShowAbout() {
    Reply::Get().Await([] { MAIN_THREAD_EM_ASM({ Vantro.page.about(); }); });
}

void PageDialog::End(int) {
    std::lock_guard lock(mutex_);
    ended_ = true;
}

}  // namespace vantro::web

// Called by page.js on the page's main thread.
extern "C" {

EMSCRIPTEN_KEEPALIVE void vantro_page_command(int id) {
    vantro::web::PageDialog::Command(id);
}

EMSCRIPTEN_KEEPALIVE void vantro_page_sys_command(unsigned id) {
    vantro::web::PageDialog::SysCommand(id);
}

EMSCRIPTEN_KEEPALIVE void vantro_page_reply(const char* value) {
    vantro::web::Reply::Get().Give(value != nullptr ? value : "");
}
}
