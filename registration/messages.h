// The own words of the setup and the remover: the caption of every box they show and each box's
// text, byte for byte, with a bare line feed between lines. The tests take them from here too.
#pragma once

inline constexpr char kSetupTitle[] = "VORN VORN Video Decoder Setup";

// The outcome of a run whose registrar ran: the sentence between twelve or ten blanks each side.
inline constexpr char kCompleteText[] = "            Installation is complete.            ";
inline constexpr char kNotCompleteText[] = "          Installation is NOT complete.          ";

inline constexpr char kInUseText[] =
    "Previous installed VORN video decoder is in use.\n"
    "Please stop the video application or reboot your system first.\n"
    "Then install VORN video decoder again.";

inline constexpr char kWrongVersionText[] = "Wrong Windows Version";

// The 95 family's registrar, when none of its writes to system.ini succeeded.
inline constexpr char kProfileFailedText[] =
    "Fail to update registry.\n"
    "Please stop the video application or reboot your system first.\n"
    "Then install VORN JIX1 decoder again.";

// The remover's outcomes, under the setup's caption. Removed is also what a run with nothing left
// to remove says.
inline constexpr char kRemovedText[] = "The VORN video decoders are removed.";
inline constexpr char kNotRemovedText[] =
    "The VORN video decoders are NOT completely removed.\n"
    "Windows did not let the remover change their registration.\n"
    "Run the remover again as an administrator.";
inline constexpr char kRemovalInUseText[] =
    "A VORN video decoder is in use and could not be removed.\n"
    "Please close the video application or restart Windows.\n"
    "Then run the remover again.";

// Every box of both programs: no owner window, the setup's caption, topmost, one OK button.
void ShowSetupMessage(const char* text);
