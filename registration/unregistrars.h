// The way back: what the registrars wrote, taken away again where it is still ours.
#pragma once

#include "registration/registrars.h"

// What an unregistrar returns.
enum UnregistrationResult : int {
  kUnregistered = 0,  // nothing of ours is registered any more
  kNotUnregistered = 1,
};

// NT family: under drivers.desc the values named after our files, under Drivers32 each handler
// value that still names our file (another product may have taken the format over since). A
// missing key or value holds nothing to remove. Fails when any open, read, removal or close
// failed; shows nothing.
int UnregisterViaRegistry();

// 95 family: each handler key of the [drivers32] section of "system.ini" that still names our
// file, then the flush. Fails when any removal failed; shows nothing.
int UnregisterViaProfile();
