#include "registration/unregistrars.h"

#include "platform/win32.h"
#include "registration/package.h"
#include "registration/text.h"

namespace {

// Room for a value's data: more than any of our file names with its terminating zero, so that
// data cut short to fit is never taken for one of them. One byte more holds a zero after it.
constexpr DWORD kDataSize = 16;
constexpr std::size_t LongestFileName() {
  std::size_t longest = 0;
  for (const DecoderFile& file : kDecoderFiles) {
    if (TextLength(file.fileName) > longest) longest = TextLength(file.fileName);
  }
  return longest;
}
static_assert(kDataSize > LongestFileName() + 1, "a cut-short value must match no name");

bool DeleteValue(HKEY key, const char* name) {
  const LONG result = RegDeleteValueA(key, name);
  return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;  // gone already is done
}

bool RemoveDescriptions(HKEY key) {
  bool allRemoved = true;
  for (const DecoderFile& file : kDecoderFiles) {
    allRemoved = DeleteValue(key, file.fileName) && allRemoved;
  }
  return allRemoved;
}

// Removes the handler value while it is ours: a string naming our file. Missing, longer than
// any name of ours or of another type, it is nothing of ours to remove.
bool RemoveHandler(HKEY key, const HandlerEntry& entry) {
  char data[kDataSize + 1];
  DWORD type = REG_NONE;
  DWORD size = kDataSize;
  const LONG result =
      RegQueryValueExA(key, entry.handlerKey, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  if (result == ERROR_FILE_NOT_FOUND || result == ERROR_MORE_DATA) return true;
  if (result != ERROR_SUCCESS) return false;
  // The stored string may lack its terminating zero.
  data[size < kDataSize ? size : kDataSize] = '\0';
  if (type != REG_SZ || !SameNameIgnoringCase(data, entry.file->fileName)) return true;
  return DeleteValue(key, entry.handlerKey);
}

bool RemoveHandlers(HKEY key) {
  bool allRemoved = true;
  for (const HandlerEntry& entry : kHandlerEntries) {
    allRemoved = RemoveHandler(key, entry) && allRemoved;
  }
  return allRemoved;
}

// Opens an existing key below HKEY_LOCAL_MACHINE, removes what of ours it holds and closes it;
// the key stays even when it ends up empty. A key that is not there holds nothing to remove; one
// that does not open otherwise gets no further call and fails.
bool RemoveFromKey(const char* subKey, bool (*removeOurs)(HKEY)) {
  HKEY key;
  const LONG opened =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
  if (opened == ERROR_FILE_NOT_FOUND) return true;
  if (opened != ERROR_SUCCESS) return false;
  const bool allRemoved = removeOurs(key);
  return RegCloseKey(key) == ERROR_SUCCESS && allRemoved;
}

// Whether the [drivers32] key of the entry names our file. Windows tells a failed read from a
// missing key by nothing: both give the default, an empty string.
bool ProfileNamesOurFile(const HandlerEntry& entry) {
  char data[kDataSize + 1];
  data[kDataSize] = '\0';  // a string even where Windows leaves the buffer without one
  GetPrivateProfileStringA(kProfileSection, entry.handlerKey, "", data, kDataSize, kProfileFile);
  return SameNameIgnoringCase(data, entry.file->fileName);
}

}  // namespace

int UnregisterViaRegistry() {
  const bool descriptionsRemoved = RemoveFromKey(kDescriptionsKey, RemoveDescriptions);
  // The handlers are removed even when the descriptions were not.
  const bool handlersRemoved = RemoveFromKey(kHandlersKey, RemoveHandlers);
  return descriptionsRemoved && handlersRemoved ? kUnregistered : kNotUnregistered;
}

int UnregisterViaProfile() {
  bool anyRemoved = false;
  bool allRemoved = true;
  for (const HandlerEntry& entry : kHandlerEntries) {
    if (!ProfileNamesOurFile(entry)) continue;
    // No value: Windows deletes the key; the section stays, even when it ends up empty.
    const bool removed = WritePrivateProfileStringA(kProfileSection, entry.handlerKey, nullptr,
                                                    kProfileFile) != FALSE;
    anyRemoved = anyRemoved || removed;
    allRemoved = allRemoved && removed;
  }
  // Have Windows write out its cached copy; as for the setup, what the flush returns says nothing.
  if (anyRemoved) WritePrivateProfileStringA(nullptr, nullptr, nullptr, kProfileFile);
  return allRemoved ? kUnregistered : kNotUnregistered;
}
