#include "launch_parameters.h"

namespace dunvelt {

std::u16string QuoteForCommandLine(std::u16string_view text, char16_t quote) {
  std::u16string quoted;
  quoted.reserve(text.size() + 2);
  quoted += quote;
  for (char16_t c : text) {
    if (c == quote) quoted += quote;
    quoted += c;
  }
  quoted += quote;
  return quoted;
}

std::u16string BuildLaunchParameters(std::u16string_view runtimePath) {
  std::u16string parameters(InterpreterSwitch);
  parameters += QuoteForCommandLine(runtimePath, CommandLineQuote);
  parameters += JavaLaunchArguments;
  return parameters;
}

}  // namespace dunvelt
