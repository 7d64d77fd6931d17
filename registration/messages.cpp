#include "registration/messages.h"

#include "platform/win32.h"

void ShowSetupMessage(const char* text) {
  MessageBoxA(nullptr, text, kSetupTitle, MB_SYSTEMMODAL);
}
