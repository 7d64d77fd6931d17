// Test support for offline installations: hives written by hand and filled with libhivex, and
// read back with a reader that is not libhivex.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

// An empty hive as Windows makes one, by hand: the 4 KiB base block with its checksum and one
// 4 KiB bin holding the root key and its security cell.
std::string EmptyHive();

// A value in a hive, its data as the hive stores it.
struct HiveValue {
  std::string key;  // below the root: "Microsoft\\Windows NT\\CurrentVersion"
  std::string name;
  DWORD type;
  std::string data;
};

// data as a hive stores a string: UTF-16, with its terminating zero.
std::string Utf16(const std::string& ascii);
std::string Dword(DWORD number);

// Writes an empty hive to path with the keys (each made with its parents) and the values
// (their keys too), through libhivex.
void WriteHive(const std::string& path, const std::vector<std::string>& keys,
               const std::vector<HiveValue>& values);

// The values of key (below the root) as regfexport lists them, one "name=REG_SZ,size,data" line
// each, in the hive's order; "" when the key is missing. regfexport reads the format with a
// library of its own, which shares nothing with libhivex.
std::string ListedValues(const std::string& path, const std::string& key);

// Lays out a Windows drive in the folder drive: each entry of tree is "folder/", "file=content",
// "file=HIVE", a hive holding keys and values, or "name->target", a symbolic link.
void LayOutDrive(const std::string& drive, const std::vector<std::string>& tree,
                 const std::vector<std::string>& keys, const std::vector<HiveValue>& values);

// Sets the 32-bit field at offset at of the hive file at path and, in the base block's first
// 508 bytes, the checksum to fit, as a writer of the hive would.
void PutField(const std::string& path, std::size_t at, DWORD value);
