// impex: applies an import/export file to the local configuration.
#include <cstdio>

#include "impex/interpreter.h"
#include "impex/msg_compiler.h"
#include "impex/result_codes.h"

namespace {
constexpr int kUsageStatus = -1;  // exit status 255
constexpr int kExceptionStatus = ResultCode::kUnknownError;  // exit status 242
}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    printf("usage: %s <IMPORT-EXPORT FILE>\n", argc > 0 && argv[0] ? argv[0] : "impex");
    return kUsageStatus;
  }
  try {
    Interpreter interpreter(argv[1]);
    const int result = interpreter.Run();
    if (!interpreter.ReadFailure().empty())
      fprintf(stderr, "impex: %s: %s\n", argv[1], interpreter.ReadFailure().c_str());
    if (result < 0) puts(MsgCompiler::HandleError(result).c_str());
    return 0;
  } catch (...) {
    // Nothing of the exception itself is shown to the user.
    puts(MsgCompiler::HandleError(ResultCode::kSystemError).c_str());
    return kExceptionStatus;
  }
}
