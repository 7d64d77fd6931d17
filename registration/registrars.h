#pragma once

#include "registration/package.h"

// What a registrar returns.
enum RegistrationResult : int {
  kRegistered = 0,
  kNotRegistered = 1,
};

// NT family: the two keys below HKEY_LOCAL_MACHINE that the registry registrar writes to. The
// release's REGEDIT4 file is generated from the same constants.
inline constexpr char kDescriptionsKey[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\drivers.desc";
inline constexpr char kHandlersKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";

// 95 family: the section of "system.ini" that its registrar writes and its unregistrar cleans. A
// bare file name: Windows keeps it in its own folder.
constexpr char kProfileFile[] = "system.ini";
constexpr char kProfileSection[] = "drivers32";

// A string value of one of those keys: which column of a row names it and which is its data.
struct RegistryString {
  const char* name;
  const char* data;
};
inline RegistryString DescriptionValue(const DecoderFile& file) {
  return {file.fileName, file.description};
}
inline RegistryString HandlerValue(const HandlerEntry& entry) {
  return {entry.handlerKey, entry.file->fileName};
}

// NT family: the descriptions under drivers.desc and the handlers under Drivers32, in the
// registry. Fails when any open, write or close failed; shows nothing.
int RegisterViaRegistry();

// 95 family: the handlers in the [drivers32] section of "system.ini". Fails, after a box of its
// own, only when none of the three writes succeeded.
int RegisterViaProfile();
