// The Qt adapter's view of the shared dialog templates.
#pragma once

#include "app/DialogTemplate.h"

namespace qtui {

using ui::aboutDialogTemplate;
using ui::DialogTemplate;
using ui::IDC_ABOUT_DESCRIPTION;
using ui::IDC_ABOUT_PROGRAM;
using ui::IDC_STATIC;
using ui::ItemKind;
using ui::mainDialogTemplate;
using ui::TemplateItem;

}  // namespace qtui
