#include "release/wxs_file.h"

#include "registration/package.h"
#include "registration/registrars.h"

namespace {

constexpr char kHead[] = R"wxs(<?xml version="1.0" encoding="utf-8"?>
<!-- Written by make_release_file from the package table; not to be edited. -->
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$(var.ProductCode)" UpgradeCode="$(var.UpgradeCode)" Version="$(var.Version)"
           Name="$(var.ProductName)" Manufacturer="$(var.Manufacturer)" Language="1033">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"
             Description="$(var.ProductName) $(var.Version)" Manufacturer="$(var.Manufacturer)"/>
    <Condition Message="$(var.ProductName) is for Windows NT and later. On Windows 95, 98 and Me run vornsetup.exe.">VersionNT</Condition>
    <MajorUpgrade DowngradeErrorMessage="A newer version of $(var.ProductName) is already installed."/>
    <Media Id="1" Cabinet="decoders.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="SystemFolder">
)wxs";
constexpr char kBetween[] = R"wxs(      </Directory>
    </Directory>
    <Feature Id="Decoders" Level="1">
)wxs";
constexpr char kTail[] = R"wxs(    </Feature>
  </Product>
</Wix>
)wxs";

std::string Attribute(const char* name, std::string_view value) {
  return std::string(" ") + name + "=\"" + XmlAttributeText(value) + "\"";
}

void AppendValue(std::string& text, const char* key, const RegistryString& value) {
  text += "          <RegistryValue Root=\"HKLM\"" + Attribute("Key", key) +
          Attribute("Name", value.name) + Attribute("Value", value.data) + " Type=\"string\"/>\n";
}

// One component per decoder: the file, its description and the handlers that name it, so that
// a repair of the file also puts back its values.
void AppendComponent(std::string& text, const DecoderFile& file) {
  text += "        <Component" + Attribute("Id", file.fileName) + " Guid=\"*\">\n";
  text += "          <File" + Attribute("Id", file.fileName) + Attribute("Name", file.fileName) +
          " KeyPath=\"yes\"/>\n";
  AppendValue(text, kDescriptionsKey, DescriptionValue(file));
  for (const HandlerEntry& entry : kHandlerEntries) {
    if (entry.file == &file) AppendValue(text, kHandlersKey, HandlerValue(entry));
  }
  text += "        </Component>\n";
}

}  // namespace

std::string XmlAttributeText(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string DecoderPackageWxs() {
  std::string text = kHead;
  for (const DecoderFile& file : kDecoderFiles) AppendComponent(text, file);
  text += kBetween;
  for (const DecoderFile& file : kDecoderFiles) {
    text += "      <ComponentRef" + Attribute("Id", file.fileName) + "/>\n";
  }
  return text + kTail;
}
