#include "platform/WindowMessages.h"

#if defined(_WIN32)
#include "platform/Windows.h"
#endif

namespace platform {

#if defined(_WIN32)

bool IsDeviceChangeMessage(const void* nativeMessage) {
    return static_cast<const MSG*>(nativeMessage)->message == WM_DEVICECHANGE;
}

bool IsSysCommandMessage(const void* nativeMessage, unsigned& id) {
    const MSG* msg = static_cast<const MSG*>(nativeMessage);
    if (msg->message != WM_SYSCOMMAND)
        return false;
    id = static_cast<unsigned>(msg->wParam);
    return true;
}

bool AppendSystemMenuItem(void* nativeWindow, unsigned id, const char* text) {
    HMENU menu = GetSystemMenu(static_cast<HWND>(nativeWindow), FALSE);
    if (menu == nullptr || text == nullptr || *text == '\0')
        return false;
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, id, text);
    return true;
}

#else

bool IsDeviceChangeMessage(const void*) {
    return false;
}

bool IsSysCommandMessage(const void*, unsigned&) {
    return false;
}

bool AppendSystemMenuItem(void*, unsigned, const char*) {
    return false;
}

#endif

}  // namespace platform
