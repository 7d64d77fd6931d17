// Writes a SOFTWARE hive for the benchmark: the two keys the setup writes to, and filler keys
// with ordinary values until the hive is about the size asked for.
//   make_hive PATH MEGABYTES
#include <cstdlib>
#include <string>

#include "tests/offline/hive_files.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string nt = "Microsoft\\Windows NT\\CurrentVersion";
  std::vector<HiveValue> values;
  // Each filler value takes about half a kilobyte of hive.
  const long count = std::atol(argv[2]) * 2000;
  for (long i = 0; i < count; ++i) {
    values.push_back({"Filler\\" + std::to_string(i / 200), "value " + std::to_string(i), REG_SZ,
                      Utf16("some ordinary data, " + std::string(180, 'x'))});
  }
  WriteHive(argv[1], {nt + "\\drivers.desc", nt + "\\Drivers32"}, values);
  return 0;
}
