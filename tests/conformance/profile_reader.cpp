// Reads profile files as Windows reads them and prints what it finds, one line each prefixed by
// the file's name: "FILE|[section]" for every section GetPrivateProfileSectionNamesA lists, then
// "FILE|entry" for every entry GetPrivateProfileSectionA gives for that name. Two files that
// print the same are the same to every program that reads them through Windows.
//   profile_reader.exe FILE...
#include <windows.h>

#include <cstdio>

namespace {

constexpr DWORD kBufferSize = 32768;  // the most a section may hold on the 95 family
char names[kBufferSize];
char entries[kBufferSize];

void Print(const char* file) {
  GetPrivateProfileSectionNamesA(names, kBufferSize, file);
  for (const char* name = names; *name != '\0'; name += lstrlenA(name) + 1) {
    std::printf("%s|[%s]\n", file, name);
    GetPrivateProfileSectionA(name, entries, kBufferSize, file);
    for (const char* entry = entries; *entry != '\0'; entry += lstrlenA(entry) + 1) {
      std::printf("%s|%s\n", file, entry);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) Print(argv[i]);
  return 0;
}
