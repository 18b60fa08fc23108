#include "signatures.h"

#include <map>
#include <optional>

#include "facts_json.h"
#include "text.h"

namespace dunvelt::doctor {

DUNVELT_FACTS_JSON(SignatureFacts::File, path, readError, trustResult)
DUNVELT_FACTS_JSON(SignatureFacts::Unlisted, folder, error)
DUNVELT_FACTS_JSON(SignatureFacts, files, notChecked, unlistedFolders, smartAppControl)

namespace {

const std::wstring SignAdvice =
    L"sign them: scripts/sign-install.sh signs the whole install (docs/packaging.md, \"When"
    L" Windows blocks it\").";

std::wstring SmartAppControlName(const RegistryValue& setting) {
  const std::optional<std::uint32_t> state = ValueNumber(setting);
  if (!state) return L"set to " + Quoted(Shortened(ValueText(setting)));
  switch (*state) {
    case 0:
      return L"off";
    case 1:
      return L"on";
    case 2:
      return L"in evaluation";
    default:
      return L"in an unknown state (" + std::to_wstring(*state) + L")";
  }
}

}  // namespace

Signature SignatureOf(std::uint32_t trustResult) {
  switch (trustResult) {
    case 0:
      return Signature::Valid;
    case TrustNoSignature:
    case TrustSubjectFormUnknown:  // no form that can carry a signature
      return Signature::Unsigned;
    case TrustBadDigest:
      return Signature::Altered;
    case CertUntrustedRoot:
    case CertChaining:
      return Signature::Untrusted;
    case CertExpired:
      return Signature::Expired;
    default:
      return Signature::Other;
  }
}

std::wstring TrustResultName(std::uint32_t trustResult) {
  static const std::map<std::uint32_t, const wchar_t*> names{
      {TrustProviderUnknown, L"TRUST_E_PROVIDER_UNKNOWN"},
      {TrustSubjectFormUnknown, L"TRUST_E_SUBJECT_FORM_UNKNOWN"},
      {TrustNoSignature, L"TRUST_E_NOSIGNATURE"},
      {CertExpired, L"CERT_E_EXPIRED"},
      {CertUntrustedRoot, L"CERT_E_UNTRUSTEDROOT"},
      {CertChaining, L"CERT_E_CHAINING"},
      {TrustBadDigest, L"TRUST_E_BAD_DIGEST"}};
  const auto name = names.find(trustResult);
  return name != names.end() ? name->second : Hex(trustResult);
}

namespace {

// The install's files by what their signatures say, each named for a finding.
struct SignatureGroups {
  std::vector<std::wstring> unsignedFiles;
  std::vector<std::wstring> altered;
  std::vector<std::wstring> distrusted;  // signed, but not so that Windows trusts it
  std::vector<std::wstring> unknown;
  std::vector<std::wstring> unread;
  std::size_t checked = 0;
};

SignatureGroups Grouped(const SignatureFacts& facts) {
  SignatureGroups groups;
  for (const SignatureFacts::File& file : facts.files) {
    if (!file.readError.empty()) {
      groups.unread.push_back(file.path + L" (" + file.readError + L")");
      continue;
    }
    ++groups.checked;
    const std::wstring code = TrustResultName(file.trustResult);
    switch (SignatureOf(file.trustResult)) {
      case Signature::Valid:
        break;
      case Signature::Unsigned:
        groups.unsignedFiles.push_back(file.path);
        break;
      case Signature::Altered:
        groups.altered.push_back(file.path);
        break;
      case Signature::Untrusted:
        groups.distrusted.push_back(
            file.path + L" (its certificate is not trusted on this Windows, " + code + L")");
        break;
      case Signature::Expired:
        groups.distrusted.push_back(file.path +
                                    L" (its certificate has expired and the signature has no"
                                    L" timestamp, " +
                                    code + L")");
        break;
      case Signature::Other:
        groups.unknown.push_back(file.path + L" (" + code + L")");
        break;
    }
  }
  return groups;
}

enum class SmartAppControlState { Absent, Off, On, Evaluation, Unknown };

SmartAppControlState StateOf(const RegistryValue& setting) {
  if (!setting.error.empty()) return SmartAppControlState::Unknown;
  if (!setting.found) return SmartAppControlState::Absent;
  const std::optional<std::uint32_t> state = ValueNumber(setting);
  if (!state) return SmartAppControlState::Unknown;
  switch (*state) {
    case 0:
      return SmartAppControlState::Off;
    case 1:
      return SmartAppControlState::On;
    case 2:
      return SmartAppControlState::Evaluation;
    default:
      return SmartAppControlState::Unknown;
  }
}

// With Smart App Control on, each file it blocks, up to a bound.
void AddBlocked(const SignatureGroups& groups, Findings& findings) {
  std::size_t shown = 0;
  for (const std::wstring& path : groups.unsignedFiles) {
    if (shown++ == MostNamed) break;
    findings.push_back(Problem("signatures.blocked",
                               L"Smart App Control is on and blocks " + path +
                                   L", which is not signed: sign it; scripts/sign-install.sh signs"
                                   L" the whole install (docs/packaging.md, \"When Windows blocks"
                                   L" it\")."));
  }
  for (const std::wstring& path : groups.distrusted) {
    if (shown++ == MostNamed) break;
    findings.push_back(Problem("signatures.blocked",
                               L"Smart App Control is on and blocks " + path +
                                   L": sign it with a certificate that Windows trusts, with a"
                                   L" timestamp; scripts/sign-install.sh signs the whole install"
                                   L" (docs/packaging.md, \"When Windows blocks it\")."));
  }
  const std::size_t blocked = groups.unsignedFiles.size() + groups.distrusted.size();
  if (blocked > MostNamed) {
    findings.push_back(Problem("signatures.more-blocked",
                               std::to_wstring(blocked - MostNamed) +
                                   L" more programs and DLLs of the install that Smart App Control"
                                   L" blocks are not named here: " +
                                   SignAdvice));
  }
}

// Where Smart App Control is not on: what the files that it would block mean here.
Finding NotTrusted(const SignatureGroups& groups, SmartAppControlState state) {
  std::vector<std::wstring> files = groups.unsignedFiles;
  files.insert(files.end(), groups.distrusted.begin(), groups.distrusted.end());
  const std::wstring count = std::to_wstring(files.size()) + L" of the " +
                             std::to_wstring(groups.checked) +
                             L" programs and DLLs of the install are not signed, or not so that"
                             L" Windows trusts them: " +
                             Listed(files) + L". ";
  const std::wstring trust =
      L"SmartScreen and virus scanners trust unsigned programs less, and may ask before they"
      L" start or block them; " +
      SignAdvice;
  switch (state) {
    case SmartAppControlState::Evaluation:
      return Warning("signatures.not-trusted",
                     count +
                         L"Smart App Control is in evaluation on this Windows: it blocks nothing"
                         L" yet, but may turn itself on, and then blocks them. " +
                         trust);
    case SmartAppControlState::Off:
      return Warning(
          "signatures.not-trusted",
          count +
              L"Smart App Control is off on this Windows, so it does not block them here,"
              L" but does where it is on. " +
              trust);
    case SmartAppControlState::Absent:
      return Note(
          "signatures.not-trusted",
          count + L"This Windows has no Smart App Control, which would block them. " + trust);
    case SmartAppControlState::On:
    case SmartAppControlState::Unknown:
      break;
  }
  return Warning("signatures.not-trusted", count + L"Smart App Control may block them. " + trust);
}

}  // namespace

CheckResult SignaturesCheck::Judge(const SignatureFacts& facts) {
  CheckResult out;
  Findings& findings = out.findings;
  const SignatureGroups groups = Grouped(facts);
  const SmartAppControlState state = StateOf(facts.smartAppControl);
  if (!facts.smartAppControl.error.empty()) {
    findings.push_back(Note("signatures.smart-app-control-unread",
                            L"Cannot tell whether Smart App Control is on: its setting could not"
                            L" be read (" +
                                facts.smartAppControl.error + L")."));
  } else if (state == SmartAppControlState::Unknown) {
    findings.push_back(Note("signatures.smart-app-control-unknown",
                            L"Smart App Control is " + SmartAppControlName(facts.smartAppControl) +
                                L", which the doctor does not know: it judges the signatures as"
                                L" if Smart App Control might block.",
                            {{"state", ValueText(facts.smartAppControl)}}));
  }
  for (const std::wstring& path : groups.altered) {
    findings.push_back(Problem(
        "signatures.altered",
        path +
            L" was changed after it was signed (TRUST_E_BAD_DIGEST): its signature no longer"
            L" matches it, so Windows trusts it less than an unsigned file, Smart App Control and"
            L" application control policies block it, and virus scanners may take it for"
            L" tampering. A broken download or copy, or a program that wrote to it, does this:"
            L" install the application again from its package, and sign after every change."));
  }
  const bool notTrusted = !groups.unsignedFiles.empty() || !groups.distrusted.empty();
  if (state == SmartAppControlState::On) {
    AddBlocked(groups, findings);
    out.stopsLaunch = notTrusted || !groups.altered.empty();
  } else if (notTrusted) {
    findings.push_back(NotTrusted(groups, state));
  }
  if (!groups.unknown.empty()) {
    findings.push_back(Warning("signatures.unknown",
                               L"Cannot tell whether Windows trusts the signatures of " +
                                   Listed(groups.unknown) +
                                   L": checking them failed. If the application does not start,"
                                   L" look for these codes in Windows' documentation of"
                                   L" WinVerifyTrust."));
  }
  if (!groups.unread.empty()) {
    findings.push_back(
        Note("signatures.unread",
             L"The doctor could not read " + Listed(groups.unread) +
                 L" to check its signature, so it cannot tell whether Windows lets it"
                 L" run."));
  }
  for (const SignatureFacts::Unlisted& folder : facts.unlistedFolders) {
    findings.push_back(
        Note("signatures.folder-unlisted", L"The doctor could not list the folder " +
                                               folder.folder + L" (" + folder.error +
                                               L"), so the signatures of its files were not"
                                               L" checked."));
  }
  if (facts.notChecked > 0) {
    findings.push_back(Note("signatures.too-many",
                            L"The install has " + std::to_wstring(facts.notChecked) +
                                L" more programs and DLLs than the " +
                                std::to_wstring(MostFilesChecked) +
                                L" whose signatures the doctor checks: those were not checked."));
  }
  if (groups.altered.empty() && !notTrusted && groups.unknown.empty() && groups.checked > 0) {
    const bool everything =
        groups.unread.empty() && facts.notChecked == 0 && facts.unlistedFolders.empty();
    findings.insert(
        findings.begin(),
        Ok("signatures.ok",
           L"All " + std::to_wstring(groups.checked) +
               (everything ? L" programs and DLLs of the install are signed."
                           : L" programs and DLLs that the doctor checked are signed.")));
  }
  return out;
}

}  // namespace dunvelt::doctor
