// Who the doctor runs as: its token's account, its session and its window station, and who is
// signed in at the console.
#include <windows.h>
#include <lmcons.h>
#include <sddl.h>
#include <wtsapi32.h>

#include <string>
#include <vector>

#include "owners.h"
#include "user_session.h"

namespace dunvelt::doctor {
namespace {

struct WtsFreer {
  void operator()(wchar_t* memory) const { WTSFreeMemory(memory); }
};

void ReadAccount(UserSessionFacts& facts) {
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) == FALSE) return;
  const UniqueHandle owned(token);
  DWORD bytes = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &bytes);
  std::vector<BYTE> user(bytes);
  if (bytes == 0 || GetTokenInformation(token, TokenUser, user.data(), bytes, &bytes) == FALSE) {
    return;
  }
  PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  wchar_t* text = nullptr;
  if (ConvertSidToStringSidW(sid, &text) != FALSE) {
    const UniqueLocalMemory<wchar_t> freed(text);
    facts.sid = text;
  }
  std::wstring name(UNLEN + 1, L'\0');
  std::wstring domain(DNLEN + 1, L'\0');
  auto nameSize = static_cast<DWORD>(name.size());
  auto domainSize = static_cast<DWORD>(domain.size());
  SID_NAME_USE use{};
  if (LookupAccountSidW(nullptr, sid, name.data(), &nameSize, domain.data(), &domainSize, &use) !=
      FALSE) {
    name.resize(nameSize);
    domain.resize(domainSize);
    facts.account = domain.empty() ? name : domain + L"\\" + name;
  }
}

void ReadWindowStation(UserSessionFacts& facts) {
  HWINSTA station = GetProcessWindowStation();
  if (station == nullptr) return;
  std::wstring name(MAX_PATH, L'\0');
  DWORD needed = 0;
  const DWORD bytes = static_cast<DWORD>(name.size()) * static_cast<DWORD>(sizeof(wchar_t));
  if (GetUserObjectInformationW(station, UOI_NAME, name.data(), bytes, &needed) != FALSE) {
    facts.windowStation = name.substr(0, name.find(L'\0'));
  }
  USEROBJECTFLAGS flags{};
  if (GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed) != FALSE) {
    facts.stationVisible = (flags.dwFlags & WSF_VISIBLE) != 0;
  }
}

std::wstring SessionText(DWORD session, WTS_INFO_CLASS what) {
  wchar_t* text = nullptr;
  DWORD bytes = 0;
  if (WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, what, &text, &bytes) ==
      FALSE) {
    return {};
  }
  const std::unique_ptr<wchar_t, WtsFreer> freed(text);
  return text;
}

}  // namespace

UserSessionFacts UserSessionCheck::Gather(const Install& /*install*/) {
  UserSessionFacts facts;
  ReadAccount(facts);
  DWORD session = 0;
  facts.sessionKnown = ProcessIdToSessionId(GetCurrentProcessId(), &session) != FALSE;
  facts.sessionId = session;
  ReadWindowStation(facts);
  const DWORD console = WTSGetActiveConsoleSessionId();
  // WTSGetActiveConsoleSessionId's answer while nobody is attached to the console.
  constexpr DWORD NoConsoleSession = 0xFFFFFFFF;
  if (console != NoConsoleSession && (!facts.sessionKnown || console != session)) {
    const std::wstring user = SessionText(console, WTSUserName);
    const std::wstring domain = SessionText(console, WTSDomainName);
    if (!user.empty()) facts.consoleUser = domain.empty() ? user : domain + L"\\" + user;
  }
  return facts;
}

}  // namespace dunvelt::doctor
