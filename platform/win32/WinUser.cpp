// The one message box of the module, with an OK button only.
#include "platform/win32/WinApi.h"

namespace platform {

void ShowMessageBox(const std::u16string& text) { ::MessageBoxW(nullptr, win32::Wide(text), nullptr, MB_OK); }

}  // namespace platform
