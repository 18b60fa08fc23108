// The command line that starts the Java runtime. Pure text work with no platform include, so the
// same code is compiled into the launcher and into the host unit tests.
#pragma once

#include <string>
#include <string_view>

namespace dunvelt {

// Relative on purpose: it resolves against the current directory the launcher was started in,
// which is the folder a packager ships with bin\ inside it.
inline constexpr std::u16string_view JavaRuntimePath = u"bin\\java.exe";

// Runs the rest of the line and then ends, so the hidden interpreter never lingers.
inline constexpr std::u16string_view InterpreterSwitch = u"/C ";

inline constexpr char16_t CommandLineQuote = u'"';

// Begins with the one blank that separates the quoted runtime path from the first option.
inline constexpr std::u16string_view JavaLaunchArguments =
    u" -Dprism.order=sw"
    u" -Dcom.sun.javafx.isEmbedded=true"
    u" -Dcom.sun.javafx.touch=true"
    u" -Dcom.sun.javafx.virtualKeyboard=none"
    u" -XX:+UseG1GC"
    u" -Xmx1g"
    u" -Xms32m"
    u" -m orbisk/com.varkelund.orbiskapp.Main";

// The quote, the text with every quote written twice, the quote.
std::u16string QuoteForCommandLine(std::u16string_view text, char16_t quote);

// "/C ", the quoted runtime path, then the fixed options and the module.
std::u16string BuildLaunchParameters(std::u16string_view runtimePath);

}  // namespace dunvelt
