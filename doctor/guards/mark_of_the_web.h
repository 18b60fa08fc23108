// The mark of the web: a Zone.Identifier stream that a browser, a mail or chat program or an
// archiver gives a downloaded file, and that Windows reads before it starts a program. Portable;
// its facts are gathered in mark_of_the_web_windows.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "facts_json_fwd.h"
#include "finding.h"
#include "install.h"

namespace dunvelt::doctor {

// A file's Zone.Identifier stream, as its INI text says.
struct ZoneIdentifier {
  bool hasZone = false;
  std::uint32_t zone = 0;  // 0 this computer, 1 intranet, 2 trusted, 3 Internet, 4 restricted
  std::wstring hostUrl;
  std::wstring referrerUrl;
};

// The stream's text, CR LF or LF lines, split at the first '=' of each; what it cannot read it
// leaves out.
ZoneIdentifier ParseZoneText(std::wstring_view text);
// The stream's bytes, in UTF-8 or UTF-16LE, with or without a byte order mark: for saved facts
// that hold no text that Windows decoded.
ZoneIdentifier ParseZoneIdentifier(std::string_view bytes);

inline constexpr std::uint32_t ZoneInternet = 3;
inline constexpr std::uint32_t ZoneRestricted = 4;

struct MarkFacts {
  std::wstring installFolder;
  struct File {
    std::wstring path;       // relative to the install folder
    bool hasStream = false;  // it has a Zone.Identifier stream
    RawBytes stream;         // its bytes, up to a bound
    // Its text as Windows reads it: UTF-16LE after a byte order mark, else in the ANSI code page,
    // in which Windows writes it; empty where the doctor did not decode it.
    std::wstring text;
    std::uint32_t codePage = 0;  // the ANSI code page it was decoded in
    std::wstring readError;      // why the stream could not be read, other than its absence
  };
  std::vector<File> files;
};

DUNVELT_FACTS_JSON_DECLARE(MarkFacts)

struct MarkOfTheWebCheck {
  static constexpr const char* Id = "guards.mark-of-the-web";
  static constexpr const wchar_t* Title = L"The mark of the web";
  using Facts = MarkFacts;
  static Facts Gather(const Install& install);
  static CheckResult Judge(const Facts& facts);
};

}  // namespace dunvelt::doctor
