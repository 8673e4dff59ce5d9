// The About box (template 100): what it shows. The window puts it on screen.
#pragma once

#include <string>

#include "app/Resource.h"

class CAboutDlg {
public:
    static constexpr int TEMPLATE = IDD_ABOUTBOX;
    static constexpr int ICON = IDR_MAINFRAME;
    // Template size in dialog units, same font as the main window.
    static constexpr int WIDTH_DU = 235;
    static constexpr int HEIGHT_DU = 55;

    static constexpr const char* CAPTION = "About Ostrel";
    // First label: program name and version.
    static std::string programLine();
    // Second label: what the program does and its license.
    static std::string descriptionLine();
};
