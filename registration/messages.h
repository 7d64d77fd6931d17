// The setup's own words: the caption of every box it shows and each box's text, byte for byte,
// with a bare line feed between lines. The tests take them from here too.
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
