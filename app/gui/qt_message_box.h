// Message boxes of the desktop program: Qt dialogs in place of the
// platform's message-box provider.
#pragma once

namespace kiv::gui {

// Installs the dialogs as the process's provider. A question asked from
// another thread is shown on the window thread, the asker waiting.
void InstallDialogMessageBoxes();

}  // namespace kiv::gui
