#include "user_session.h"

#include <algorithm>
#include <array>

#include "facts_json.h"
#include "text.h"

namespace dunvelt::doctor {

DUNVELT_FACTS_JSON(UserSessionFacts, account, sid, sessionKnown, sessionId, windowStation,
                   stationVisible, consoleUser)

namespace {

// LocalSystem, LocalService and NetworkService: "Well-known SIDs" on Microsoft Learn. Fleet tools
// (Intune, Configuration Manager) run scripts as the first.
bool IsServiceAccount(const std::wstring& sid) {
  constexpr std::array<const wchar_t*, 3> Services{L"S-1-5-18", L"S-1-5-19", L"S-1-5-20"};
  return std::any_of(Services.begin(), Services.end(),
                     [&](const wchar_t* service) { return sid == service; });
}

}  // namespace

bool RunsWhereTheUserIsNot(const UserSessionFacts& facts) {
  // Services, and what they start, run in session 0, where no user's desktop is ("Session 0
  // Isolation", Microsoft Learn); only the window station WinSta0 shows anything on a screen
  // ("Window Stations", Microsoft Learn).
  return IsServiceAccount(facts.sid) || (facts.sessionKnown && facts.sessionId == 0) ||
         (!facts.windowStation.empty() && Lower(facts.windowStation) != L"winsta0") ||
         !facts.stationVisible;
}

CheckResult UserSessionCheck::Judge(const UserSessionFacts& facts) {
  if (!RunsWhereTheUserIsNot(facts)) return {};
  const std::wstring account = facts.account.empty() ? L"an account it cannot name" : facts.account;
  std::wstring where = L"as " + account;
  if (facts.sessionKnown) where += L", in session " + std::to_wstring(facts.sessionId);
  if (!facts.stationVisible || Lower(facts.windowStation) != L"winsta0") {
    where += L", without a desktop that anybody sees";
  }
  const std::wstring user =
      facts.consoleUser.empty()
          ? std::wstring()
          : L" The user signed in at this computer is " + facts.consoleUser + L".";
  CheckResult result;
  result.findings.push_back(Note(
      "user.not-the-user",
      L"The doctor runs " + where +
          L", as fleet tools and remote shells run it, not as the user who double-clicks"
          L" Dunvelt.exe." +
          user +
          L" It leaves out the launch, which would open the application where nobody sees it,"
          L" and the shortcuts, which it would read from this account's Start menu and desktop,"
          L" not the user's. The runtime and the interpreter are started as this account, whose"
          L" settings (the Java variables, cmd.exe's AutoRun and DisableCMD) may not be the"
          L" user's: to check those, have the user run the doctor.",
      {{"account", facts.account},
       {"sessionId", std::int64_t{facts.sessionId}},
       {"windowStation", facts.windowStation}}));
  result.leavesOut = {"shortcuts", "launch"};
  return result;
}

}  // namespace dunvelt::doctor
