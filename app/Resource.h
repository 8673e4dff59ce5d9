// Resource ids, control ids and the window's constants.
#pragma once

#include <cstdint>

// Templates, icon, bitmap, strings.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDD_OSTREL_DIALOG = 102;
inline constexpr int IDP_SOCKETS_INIT_FAILED = 103;
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDB_LOGO = 130;

// Controls of the main window.
inline constexpr int IDC_VOLTAGE_IN = 1000;
inline constexpr int IDC_IGNITION = 1001;
inline constexpr int IDC_VOLTAGE_3V = 1002;
inline constexpr int IDC_VOLTAGE_5V = 1003;
inline constexpr int IDC_VOLTAGE_12V = 1004;
inline constexpr int IDC_TEMPERATURE = 1005;
inline constexpr int IDC_VOLTAGE_FLAGS = 1006;
inline constexpr int IDC_STATUS_FLAGS1 = 1007;
inline constexpr int IDC_STATUS_FLAGS2 = 1008;
inline constexpr int IDC_TIMER_FLAGS = 1009;
inline constexpr int IDC_INPUT_FLAGS = 1010;
inline constexpr int IDC_OUTPUT_FLAGS = 1011;
inline constexpr int IDC_STATE = 1012;
inline constexpr int IDC_PARAM_LIST = 1013;
inline constexpr int IDC_VALUE_EDIT = 1014;
inline constexpr int IDC_UNIT_LABEL = 1015;
inline constexpr int IDC_SEND = 1016;
inline constexpr int IDC_DESCRIPTION = 1017;
inline constexpr int IDC_AUTO_REFRESH = 1018;
inline constexpr int IDC_STATUS_HISTORY = 1019;
inline constexpr int IDC_IO_BUFFER = 1020;

inline constexpr unsigned IDM_ABOUTBOX = 0x0010;

inline constexpr unsigned TIMER_PUMP = 1;
inline constexpr unsigned TIMER_PUMP_PERIOD_MS = 200;
inline constexpr unsigned TIMER_POLL = 2;
inline constexpr unsigned TIMER_POLL_PERIOD_MS = 1000;

inline constexpr std::int32_t PLACEHOLDER_ITEM_DATA = -1;
inline constexpr int WINDOW_HEIGHT_CUT = 204;  // pixels

// End codes of a dialog; the same values as Windows' IDOK and IDCANCEL, under names
// that do not collide with <windows.h>.
inline constexpr int DIALOG_OK = 1;
inline constexpr int DIALOG_CANCEL = 2;
