// The install's signatures, and Smart App Control, which blocks a program or DLL whose signature
// it does not accept. Portable; its facts are gathered in signatures_windows.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "facts_json_fwd.h"
#include "finding.h"
#include "install.h"
#include "registry_value.h"

namespace dunvelt::doctor {

// WinVerifyTrust's answers that the doctor tells apart.
inline constexpr std::uint32_t TrustProviderUnknown = 0x800B0001;  // TRUST_E_PROVIDER_UNKNOWN
inline constexpr std::uint32_t TrustSubjectFormUnknown =
    0x800B0003;                                                 // TRUST_E_SUBJECT_FORM_UNKNOWN
inline constexpr std::uint32_t TrustNoSignature = 0x800B0100;   // TRUST_E_NOSIGNATURE
inline constexpr std::uint32_t CertExpired = 0x800B0101;        // CERT_E_EXPIRED
inline constexpr std::uint32_t CertUntrustedRoot = 0x800B0109;  // CERT_E_UNTRUSTEDROOT
inline constexpr std::uint32_t CertChaining = 0x800B010A;       // CERT_E_CHAINING
inline constexpr std::uint32_t TrustBadDigest = 0x80096010;     // TRUST_E_BAD_DIGEST

enum class Signature { Valid, Unsigned, Altered, Untrusted, Expired, Other };

Signature SignatureOf(std::uint32_t trustResult);

// "TRUST_E_BAD_DIGEST", or the number as Windows shows it: "0x80092026".
std::wstring TrustResultName(std::uint32_t trustResult);

// The PE files that the doctor checks: Dunvelt.exe, and every .exe and .dll of bin\ and lib\.
inline constexpr std::size_t MostFilesChecked = 5000;

struct SignatureFacts {
  struct File {
    std::wstring path;       // relative to the install folder
    std::wstring readError;  // why it could not be opened, in the platform's words; else empty
    std::uint32_t trustResult = 0;
  };
  std::vector<File> files;
  std::size_t notChecked = 0;  // PE files past MostFilesChecked
  struct Unlisted {
    std::wstring folder;  // relative to the install folder
    std::wstring error;   // with the platform's words
  };
  std::vector<Unlisted> unlistedFolders;
  // Smart App Control's VerifiedAndReputablePolicyState: 0 off, 1 on, 2 evaluation; not there on
  // a Windows without it.
  RegistryValue smartAppControl;
};

DUNVELT_FACTS_JSON_DECLARE(SignatureFacts)

struct SignaturesCheck {
  static constexpr const char* Id = "guards.signatures";
  static constexpr const wchar_t* Title = L"Signatures and Smart App Control";
  using Facts = SignatureFacts;
  static Facts Gather(const Install& install);
  static CheckResult Judge(const Facts& facts);
};

}  // namespace dunvelt::doctor
