// The texts of the setup's boxes, written out by hand, byte for byte, for the tests: never
// taken from the code under test.
#pragma once

namespace box_texts {

inline constexpr char kComplete[] = "            Installation is complete.            ";
inline constexpr char kNotComplete[] = "          Installation is NOT complete.          ";
inline constexpr char kInUse[] =
    "Previous installed VORN video decoder is in use.\nPlease stop the video application or "
    "reboot your system first.\nThen install VORN video decoder again.";
inline constexpr char kWrongVersion[] = "Wrong Windows Version";
inline constexpr char kProfileFailed[] =
    "Fail to update registry.\nPlease stop the video application or reboot your system "
    "first.\nThen install VORN JIX1 decoder again.";

}  // namespace box_texts
