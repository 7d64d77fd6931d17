#include "registration/registrars.h"

#include "platform/win32.h"
#include "registration/messages.h"
#include "registration/package.h"
#include "registration/text.h"

namespace {

bool SetString(HKEY key, RegistryString value) {
  // The byte count holds the terminating zero, as REG_SZ data must.
  const DWORD byteCount = static_cast<DWORD>(TextLength(value.data) + 1);
  return RegSetValueExA(key, value.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data),
                        byteCount) == ERROR_SUCCESS;
}

// Opens an existing key below HKEY_LOCAL_MACHINE, sets one string per row and closes the key.
// When the key does not open, nothing is issued on it and its writes count as failed.
template <typename Row, std::size_t kRows>
bool WriteStrings(const char* subKey, const Row (&rows)[kRows],
                  RegistryString (*toString)(const Row&)) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS) {
    return false;
  }
  bool allWritten = true;
  for (const Row& row : rows) {
    allWritten = SetString(key, toString(row)) && allWritten;
  }
  return RegCloseKey(key) == ERROR_SUCCESS && allWritten;
}

}  // namespace

int RegisterViaRegistry() {
  const bool descriptionsWritten = WriteStrings(kDescriptionsKey, kDecoderFiles, DescriptionValue);
  // The handlers are written even when the descriptions were not.
  const bool handlersWritten = WriteStrings(kHandlersKey, kHandlerEntries, HandlerValue);
  return descriptionsWritten && handlersWritten ? kRegistered : kNotRegistered;
}

int RegisterViaProfile() {
  bool anyWritten = false;
  for (const HandlerEntry& entry : kHandlerEntries) {
    anyWritten = WritePrivateProfileStringA(kProfileSection, entry.handlerKey, entry.file->fileName,
                                            kProfileFile) ||
                 anyWritten;
  }
  if (!anyWritten) {
    ShowSetupMessage(kProfileFailedText);
    return kNotRegistered;
  }
  // Have Windows write out its cached copy. What the flush returns says nothing about the
  // writes: Windows answers nonzero for a profile it maps to the registry.
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, kProfileFile);
  return kRegistered;
}
