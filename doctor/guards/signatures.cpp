#include "signatures.h"

#include <map>
#include <optional>

#include "facts_json.h"
#include "text.h"

namespace dunvelt::doctor {

DUNVELT_FACTS_JSON(SignatureFacts::File, path, readError, trustResult, catalog, catalogResult,
                   signerKey, root, rootInProgram)
DUNVELT_FACTS_JSON(SignatureFacts::Unlisted, folder, error)
DUNVELT_FACTS_JSON(SignatureFacts, files, notChecked, unlistedFolders, smartAppControl,
                   rootListError)

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
    case CertRevoked:
    case TrustExplicitDistrust:
      return Signature::Revoked;
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
      {CertRevoked, L"CERT_E_REVOKED"},
      {TrustExplicitDistrust, L"TRUST_E_EXPLICIT_DISTRUST"},
      {TrustBadDigest, L"TRUST_E_BAD_DIGEST"}};
  const auto name = names.find(trustResult);
  return name != names.end() ? name->second : Hex(trustResult);
}

bool LoadedByAStart(const std::wstring& path) {
  const std::wstring lower = Lower(path);
  if (lower == Lower(LauncherName) || lower == L"bin\\java.exe") return true;
  return lower.rfind(L"bin\\", 0) == 0 && lower.size() > 4 &&
         lower.compare(lower.size() - 4, 4, L".dll") == 0;
}

namespace {

// Why Smart App Control likely refuses a file.
enum class Refusal { Unsigned, Revoked, Expired, NotRsa, LocalRoot };

struct Refused {
  std::wstring path;
  Refusal why;
  std::wstring code;  // WinVerifyTrust's answer, or the signer's key
};

// The install's files by what Smart App Control likely makes of them, each named for a finding.
struct SignatureGroups {
  std::vector<Refused> refused;
  std::vector<std::wstring> altered;
  std::vector<std::wstring> cannotTell;  // with why
  std::vector<std::wstring> unknown;
  std::vector<std::wstring> unread;
  std::size_t checked = 0;
};

std::wstring KeyName(const std::wstring& key) {
  return key == EcdsaKey ? L"ECDSA" : L"the algorithm " + key;
}

// A file's signature, its own or its catalog's, as Smart App Control likely judges it; "code
// signing for Smart App Control" on Microsoft Learn: it accepts RSA signatures only, and only
// from certificates whose root is in Microsoft's Trusted Root Program.
void Judge(const SignatureFacts::File& file, const std::wstring& rootListError,
           SignatureGroups& groups) {
  std::uint32_t result = file.trustResult;
  if (SignatureOf(result) == Signature::Unsigned && !file.catalog.empty()) {
    result = file.catalogResult;
  }
  const std::wstring code = TrustResultName(result);
  switch (SignatureOf(result)) {
    case Signature::Valid:
      break;
    case Signature::Unsigned:
      groups.refused.push_back({file.path, Refusal::Unsigned, code});
      return;
    case Signature::Revoked:
      groups.refused.push_back({file.path, Refusal::Revoked, code});
      return;
    case Signature::Expired:
      groups.refused.push_back({file.path, Refusal::Expired, code});
      return;
    case Signature::Altered:
      groups.altered.push_back(file.path);
      return;
    case Signature::Untrusted:
      // The doctor fetches nothing, so a chain whose root or intermediate Windows has not fetched
      // yet reads so, although Windows completes it when it loads the file.
      groups.cannotTell.push_back(file.path +
                                  L" (Windows could not complete its chain of"
                                  L" certificates without fetching, " +
                                  code + L")");
      return;
    case Signature::Other:
      groups.unknown.push_back(file.path + L" (" + code + L")");
      return;
  }
  if (file.signerKey.empty()) {
    groups.cannotTell.push_back(file.path + L" (its signer's certificate could not be read)");
  } else if (file.signerKey != RsaKey && file.signerKey != RsaPssKey) {
    groups.refused.push_back({file.path, Refusal::NotRsa, KeyName(file.signerKey)});
  } else if (file.rootInProgram) {
    // Accepted.
  } else if (file.root.empty()) {
    groups.cannotTell.push_back(file.path + L" (the root of its chain could not be read)");
  } else if (rootListError.empty()) {
    // Windows trusts the chain, yet its root is on none of the program's lists: it was added here.
    groups.refused.push_back({file.path, Refusal::LocalRoot, file.root});
  } else {
    groups.cannotTell.push_back(file.path +
                                L" (the list of Microsoft's Trusted Root Program could not be"
                                L" read: " +
                                rootListError + L")");
  }
}

SignatureGroups Grouped(const SignatureFacts& facts) {
  SignatureGroups groups;
  for (const SignatureFacts::File& file : facts.files) {
    if (!file.readError.empty()) {
      groups.unread.push_back(file.path + L" (" + file.readError + L")");
      continue;
    }
    ++groups.checked;
    Judge(file, facts.rootListError, groups);
  }
  return groups;
}

// What keeps Smart App Control from accepting the file, for a list.
std::wstring Reason(const Refused& file) {
  switch (file.why) {
    case Refusal::Unsigned:
      return L"not signed";
    case Refusal::Revoked:
      return L"its certificate was revoked or distrusted (" + file.code +
             L"), which counts as no signature";
    case Refusal::Expired:
      return L"its certificate has expired and the signature has no timestamp (" + file.code + L")";
    case Refusal::NotRsa:
      return L"signed with a key of " + file.code + L", not RSA";
    case Refusal::LocalRoot:
      return L"signed with a certificate whose root, " + file.code +
             L", was added on this Windows and is not one of Microsoft's Trusted Root Program";
  }
  return {};
}

std::wstring Named(const Refused& file) {
  return file.why == Refusal::Unsigned ? file.path : file.path + L" (" + Reason(file) + L")";
}

bool WithoutSignature(Refusal why) { return why != Refusal::NotRsa && why != Refusal::LocalRoot; }

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

// With Smart App Control on, each file that a start loads and that it likely blocks, up to a
// bound; the others it blocks only where something loads them. "Smart App Control overview" on
// Microsoft Learn: it lets an unsigned file run where Microsoft's app intelligence service knows
// it to be safe, which the doctor cannot see, so the launch check is left to show it.
void AddLikelyBlocked(const SignatureGroups& groups, Findings& findings) {
  std::size_t loaded = 0;
  std::vector<std::wstring> others;
  for (const Refused& file : groups.refused) {
    if (!LoadedByAStart(file.path)) {
      others.push_back(Named(file));
    } else if (loaded++ < MostNamed) {
      const bool unsignedFile = WithoutSignature(file.why);
      findings.push_back(Warning(
          "signatures.likely-blocked",
          L"Smart App Control is on and likely blocks " + file.path +
              L", which every start loads: it is " + Reason(file) + L". " +
              (unsignedFile ? L"It lets such a file run only where Microsoft's app intelligence"
                              L" service knows it. "
                            : L"It accepts only RSA signatures from certificate authorities of"
                              L" Microsoft's Trusted Root Program. ") +
              L"The launch below shows whether it does. " +
              (unsignedFile ? L"Sign it"
                            : L"Sign it with an RSA certificate of such an authority") +
              L": scripts/sign-install.sh signs the whole install (docs/packaging.md, \"When"
              L" Windows blocks it\").",
          {{"file", file.path}}));
    }
  }
  if (loaded > MostNamed) {
    findings.push_back(Warning("signatures.more-likely-blocked",
                               std::to_wstring(loaded - MostNamed) +
                                   L" more programs and DLLs that every start loads are likely"
                                   L" blocked by Smart App Control and not named here: " +
                                   SignAdvice));
  }
  if (!others.empty()) {
    findings.push_back(Note("signatures.blocked-if-loaded",
                            L"Smart App Control likely blocks " + Listed(others) +
                                L" as well, but only if something starts or loads them: a start"
                                L" of the application does not."));
  }
}

// Where Smart App Control is not on: what the files that it would likely block mean here.
Finding NotTrusted(const SignatureGroups& groups, SmartAppControlState state) {
  std::vector<std::wstring> files;
  for (const Refused& file : groups.refused) files.push_back(Named(file));
  const std::wstring count = std::to_wstring(files.size()) + L" of the " +
                             std::to_wstring(groups.checked) +
                             L" programs and DLLs of the install are not signed, or not so that"
                             L" Smart App Control accepts them: " +
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
                         L" yet, but may turn itself on, and then likely blocks them. " +
                         trust);
    case SmartAppControlState::Off:
      return Warning(
          "signatures.not-trusted",
          count +
              L"Smart App Control is off on this Windows, so it does not block them here,"
              L" but likely does where it is on. " +
              trust);
    case SmartAppControlState::Absent:
      return Note("signatures.not-trusted",
                  count +
                      L"This Windows has no Smart App Control, which would likely block them. " +
                      trust);
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
        path + L" was changed after it was signed (TRUST_E_BAD_DIGEST): its signature no longer"
               L" matches it, so Windows trusts it less than an unsigned file, Smart App Control"
               L" likely blocks it, application control policies block it, and virus scanners may"
               L" take it for tampering. A broken download or copy, or a program that wrote to it,"
               L" does this: install the application again from its package, and sign after every"
               L" change."));
  }
  // No finding here stops the launch: what Smart App Control does with a file the doctor can only
  // guess at, and the launch shows it.
  if (state == SmartAppControlState::On) {
    AddLikelyBlocked(groups, findings);
  } else if (!groups.refused.empty()) {
    findings.push_back(NotTrusted(groups, state));
  }
  if (!groups.cannotTell.empty()) {
    findings.push_back(Note("signatures.cannot-tell",
                            L"Cannot tell whether Smart App Control accepts the signatures of " +
                                Listed(groups.cannotTell) +
                                L". The launch shows whether Windows lets them run."));
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
  const bool accepted = groups.altered.empty() && groups.refused.empty() &&
                        groups.cannotTell.empty() && groups.unknown.empty();
  if (accepted && groups.checked > 0) {
    const bool everything =
        groups.unread.empty() && facts.notChecked == 0 && facts.unlistedFolders.empty();
    findings.insert(
        findings.begin(),
        Ok("signatures.ok",
           L"All " + std::to_wstring(groups.checked) +
               (everything ? L" programs and DLLs of the install are signed so that Smart App"
                             L" Control accepts them."
                           : L" programs and DLLs that the doctor checked are signed so that Smart"
                             L" App Control accepts them."),
           {{"checked", static_cast<std::int64_t>(groups.checked)}}));
  } else if (state == SmartAppControlState::On || groups.refused.empty()) {
    findings.push_back(Note("signatures.checked",
                            L"The doctor checked the signatures of " +
                                std::to_wstring(groups.checked) +
                                L" programs and DLLs of the install.",
                            {{"checked", static_cast<std::int64_t>(groups.checked)}}));
  }
  return out;
}

}  // namespace dunvelt::doctor
