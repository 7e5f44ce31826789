#pragma once
// The plain message: how the wizard tells the user about an expected condition. A modal
// dialog of our own, not the system's message box: caption the application title, no icon,
// the text word-wrapped at most half the screen wide in the system's message font, and one
// "OK" button that Enter and Esc both press.
#include <string_view>

#include "win/forms/application.h"

namespace forms {

// False when the message's page could not be made: the error box has said so instead, and
// the caller stops as it would after any failed step.
bool ShowMessage(Application& application, std::string_view text);

}  // namespace forms
