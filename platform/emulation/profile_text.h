// The text of a profile (an .ini file such as system.ini), edited the way Windows edits it in
// place: the lines a write has to change and nothing else. Bytes in, bytes out; reading and
// saving the file is the caller's part.
//
// A line ends with LF, CRLF or a lone CR, which Wine reads as a line break too: what follows a
// lone CR stays when the line before it is rewritten.
// A header is a line whose first non-blank character is '[' and
// that holds a ']'; its section's name stands between them (up to the last ']'). A section runs
// to the next header; lines before the first header belong to no section. Any other line is a
// key line: its name is the text before the first '=', its value the text after it. Names are
// compared without their surrounding blanks (spaces and tabs) and without regard to ASCII case;
// where a name occurs twice, the first occurrence counts.
//
// Every function answers nullopt when the names or the value cannot stand in a profile line: a
// line break in any of them, an empty name, ']' in the section's name, '=' in the key's name or
// a key that would read as a comment (';') or a header ('[').
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace emulation {

// WritePrivateProfileStringA(section, key, value): the first such key of the first such section
// gets the value; a missing key is added after the last non-blank line of that section, and a
// missing section is added at the end. The text comes back unchanged, byte for byte, when the
// key already holds the value.
std::optional<std::string> SetProfileString(std::string_view text, std::string_view section,
                                            std::string_view key, std::string_view value);

// WritePrivateProfileStringA(section, key, NULL): removes the line of the first such key in the
// sections of that name.
std::optional<std::string> DeleteProfileKey(std::string_view text, std::string_view section,
                                            std::string_view key);

// WritePrivateProfileStringA(section, NULL, NULL): removes the first section of that name, from
// its header to the next header.
std::optional<std::string> DeleteProfileSection(std::string_view text, std::string_view section);

// GetPrivateProfileStringA(section, key): the value without its surrounding blanks and without
// one pair of quotes around it; nullopt when the key is missing or its line has no '='. Unlike a
// write, a read finds any key that a line names, one that reads as a comment too.
std::optional<std::string> GetProfileString(std::string_view text, std::string_view section,
                                            std::string_view key);

// GetPrivateProfileStringA(NULL, ...): the name of every section, in the order of the text, as
// often as it stands there.
std::vector<std::string> ProfileSectionNames(std::string_view text);

// GetPrivateProfileStringA(section, NULL): the names of the keys of the first section of that
// name, in its order, as written without their surrounding blanks: each line with an '=' that is
// no comment. Empty when the section is missing.
std::vector<std::string> ProfileKeyNames(std::string_view text, std::string_view section);

// The default GetPrivateProfileStringA gives: without the spaces at its end (its first character
// stays, whatever it is) and without one pair of quotes around it.
std::string ProfileDefault(std::string_view value);

}  // namespace emulation
