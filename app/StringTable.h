// The program's string resources and the texts the main window shows. Single-byte
// Windows-1252 text, as every text of the window.
#pragma once

#include <string>

// String resource `id`, or the empty text for an id the program does not have.
std::string loadStringResource(int id);

// Resource 101 names the About item of the system menu; resource 103 is shown when the
// platform's socket start-up fails (see COstrelApp).
inline constexpr const char* STR_ABOUTBOX = "&About Ostrel...";
inline constexpr const char* STR_SOCKETS_INIT_FAILED = "Windows sockets initialization failed.";

// The caption of every message box: the program's name.
inline constexpr const char* TEXT_MESSAGE_BOX_CAPTION = "Ostrel";

// Texts of the main window.
inline constexpr const char* TEXT_INITIAL_CAPTION = "Ostrel ver: --";
inline constexpr const char* TEXT_PLACEHOLDER_ITEM = "Select a message ...";
inline constexpr const char* TEXT_NO_UNIT = "[---]";
inline constexpr const char* TEXT_DEVICE_NOT_FOUND = "Device not found";
inline constexpr const char* TEXT_DEVICE_DISCONNECTED = "Device disconnected!";
inline constexpr const char* TEXT_INVALID_VALUE = "Invalid or too big value!";
// The description while another program of ours holds the controller, before its holder
// ("ostrelctl (pid 4711)").
inline constexpr const char* TEXT_IN_USE_BY = "In use by ";

// The focus hint's state of the Auto refresh toggle.
inline constexpr const char* TEXT_HINT_ON = "on";
inline constexpr const char* TEXT_HINT_OFF = "off";
