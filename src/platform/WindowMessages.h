#pragma once

// The few window-system messages the dialog handles itself. Everywhere but Windows these
// find nothing: device changes come from DeviceChangeWatch, and the about item lives in the
// dialog's context menu.

namespace platform {

// True when nativeMessage (a MSG on Windows) is WM_DEVICECHANGE.
bool IsDeviceChangeMessage(const void* nativeMessage);

// True when nativeMessage is WM_SYSCOMMAND; id then holds its command identifier.
bool IsSysCommandMessage(const void* nativeMessage, unsigned& id);

// Appends a separator and an item with id and text to the system menu of the native window
// nativeWindow; false where there is no system menu.
bool AppendSystemMenuItem(void* nativeWindow, unsigned id, const char* text);

}  // namespace platform
