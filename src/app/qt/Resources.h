#pragma once

// Resource and control identifiers of the two dialog templates.
namespace vantro::app {

inline constexpr int IDD_ABOUT = 100;
inline constexpr int IDS_ABOUT_ITEM = 101;
inline constexpr int IDD_ASSISTANT = 102;
inline constexpr int IDI_APP = 128;
inline constexpr int IDB_CONNECTIONS = 129;
inline constexpr unsigned IDM_ABOUT = 0x0010;

inline constexpr int IDC_STATIC = -1;
inline constexpr int IDOK = 1;
inline constexpr int IDC_IN_PORTS = 1000;
inline constexpr int IDC_OUT_PORTS = 1001;
inline constexpr int IDC_REFRESH = 1002;
inline constexpr int IDC_VERIFY = 1003;
inline constexpr int IDC_STATUS = 1004;
inline constexpr int IDC_FIRMWARE_PATH = 1005;
inline constexpr int IDC_BROWSE = 1006;
inline constexpr int IDC_UPGRADE = 1007;
inline constexpr int IDC_PROGRESS = 1008;
inline constexpr int IDC_RESET = 1009;
inline constexpr int IDC_STEP1 = 1010;

// String resource 101.
inline constexpr const char* kAboutItemText = "&About VANTRO...";

}  // namespace vantro::app
