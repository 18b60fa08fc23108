// Who runs the doctor, and where: the user at their desktop, or a fleet tool or a remote shell
// that runs it as SYSTEM, in session 0 or without a desktop anybody sees. Portable; its facts are
// gathered in user_session_windows.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "facts_json_fwd.h"
#include "finding.h"
#include "install.h"

namespace dunvelt::doctor {

struct UserSessionFacts {
  std::wstring account;  // "DOMAIN\name" of the doctor's own token; empty when it could not be read
  std::wstring sid;      // its security identifier, "S-1-5-18" for SYSTEM
  bool sessionKnown = false;
  std::uint32_t sessionId = 0;
  std::wstring windowStation;  // "WinSta0" is the one with the user's desktop
  bool stationVisible = true;  // the window station has visible surfaces
  std::wstring consoleUser;    // who is signed in at the console, when the doctor could tell
};

DUNVELT_FACTS_JSON_DECLARE(UserSessionFacts)

// Whether the facts say that the doctor runs where the user is not.
bool RunsWhereTheUserIsNot(const UserSessionFacts& facts);

// The doctor's own account and session. Where it is not the user's, it says so, and leaves out
// the checks that would look at the wrong user's things or open the application where nobody
// sees it.
struct UserSessionCheck {
  static constexpr const char* Id = "user.session";
  static constexpr const wchar_t* Title = L"Who the doctor runs as";
  using Facts = UserSessionFacts;
  static Facts Gather(const Install& install);
  static CheckResult Judge(const Facts& facts);
};

}  // namespace dunvelt::doctor
