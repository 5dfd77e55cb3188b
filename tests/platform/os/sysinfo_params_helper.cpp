// Started by the command-line tests: writes what ParamCount and ParamStr
// answer in this process into the file named by its first parameter.
#include <fstream>

#include <ztlogger/platform/os/SysInfo.h>

int main() {
  std::ofstream out(ParamStr(1), std::ios::binary);
  out << ParamCount() << '\n';
  for (int i = 0; i <= ParamCount() + 1; ++i) out << ParamStr(i) << '\n';
  out << ParamStr(-1) << '\n';
  return out ? 0 : 1;
}
