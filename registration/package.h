// registration/: what the package installs (this table) and the two registrars that make it
// known to the platform's list of video drivers, one for each Windows family.
#pragma once

#include "registration/messages.h"  // kSetupTitle, the caption of every box

// One decoder file of the package: its 8.3 name, the same in the current directory and in the
// system directory, and the description the NT family lists it under.
struct DecoderFile {
  const char* fileName;
  const char* description;
};

// One handler registration: "vidc." and a format's four-character code, and the file handling it.
struct HandlerEntry {
  const char* handlerKey;
  const DecoderFile* file;
};

inline constexpr DecoderFile kDecoderFiles[] = {
    {"vornjixd.dll", "VORN JIX1 Decoder"},
    {"vornjix2.dll", "VORN JIX2 Decoder"},
};

inline constexpr HandlerEntry kHandlerEntries[] = {
    {"vidc.jix1", &kDecoderFiles[0]},
    {"vidc.jix2", &kDecoderFiles[1]},
    {"vidc.uyvy", &kDecoderFiles[0]},  // the first decoder also reads the packed UYVY format
};
