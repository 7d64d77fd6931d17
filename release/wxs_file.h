// The Windows Installer package's source for wixl: both decoders into the 32-bit system folder
// and the NT family's five values, from the same table and key paths as the REGEDIT4 file.
#pragma once

#include <string>
#include <string_view>

// Text as it stands between the double quotes of an XML attribute.
std::string XmlAttributeText(std::string_view text);

// A whole WiX source. What belongs to one build rather than to the package is left to wixl's
// preprocessor variables: Version, ProductCode, UpgradeCode, ProductName and Manufacturer. wixl
// takes the decoders from the folder it runs in.
std::string DecoderPackageWxs();
