// The shared dialog templates (app/DialogTemplate.h) as Win32 dialog templates: each item
// kind becomes its Windows control class and styles.
#pragma once

#include <windows.h>

#include "app/DialogTemplate.h"
#include "win32/DialogTemplateWriter.h"

namespace win32 {

// The main window: caption, system menu, minimise box, modal frame; not resizable. Centred
// on the screen, and the About box on the main window, as the dialog framework places them.
inline constexpr DWORD MAIN_DIALOG_STYLE =
    DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
// The About box: the same without the minimise box.
inline constexpr DWORD ABOUT_DIALOG_STYLE =
    DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;

DialogDefinition dialogDefinition(const ui::DialogTemplate& dialogTemplate, DWORD style);

}  // namespace win32
