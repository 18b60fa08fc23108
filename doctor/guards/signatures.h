// The install's signatures, and Smart App Control, which blocks a program or DLL whose signature
// it does not accept, unless Microsoft's app intelligence service knows the file: so the doctor can
// say only what it likely blocks. Portable; its facts are gathered in signatures_windows.cpp.
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
    0x800B0003;                                                     // TRUST_E_SUBJECT_FORM_UNKNOWN
inline constexpr std::uint32_t TrustNoSignature = 0x800B0100;       // TRUST_E_NOSIGNATURE
inline constexpr std::uint32_t CertExpired = 0x800B0101;            // CERT_E_EXPIRED
inline constexpr std::uint32_t CertUntrustedRoot = 0x800B0109;      // CERT_E_UNTRUSTEDROOT
inline constexpr std::uint32_t CertChaining = 0x800B010A;           // CERT_E_CHAINING
inline constexpr std::uint32_t CertRevoked = 0x800B010C;            // CERT_E_REVOKED
inline constexpr std::uint32_t TrustExplicitDistrust = 0x800B0111;  // TRUST_E_EXPLICIT_DISTRUST
inline constexpr std::uint32_t TrustBadDigest = 0x80096010;         // TRUST_E_BAD_DIGEST

// What WinVerifyTrust's answer means. Untrusted: Windows could not complete the chain to a root it
// trusts from what it has at hand, as the doctor fetches nothing; a good chain can read so.
// Revoked: its certificate was revoked or distrusted, which policies take for no signature.
enum class Signature { Valid, Unsigned, Altered, Untrusted, Expired, Revoked, Other };

Signature SignatureOf(std::uint32_t trustResult);

// "TRUST_E_BAD_DIGEST", or the number as Windows shows it: "0x80092026".
std::wstring TrustResultName(std::uint32_t trustResult);

// The PE files that the doctor checks: Dunvelt.exe, and every .exe and .dll of bin\ and lib\.
inline constexpr std::size_t MostFilesChecked = 5000;

// WINTRUST_DATA's dwProvFlags for each check: no revocation check (WTD_REVOCATION_CHECK_NONE) and
// nothing fetched from the network (WTD_CACHE_ONLY_URL_RETRIEVAL), so that a machine offline
// does not hold the doctor for minutes.
inline constexpr std::uint32_t TrustProviderFlags = 0x00000010 | 0x00001000;

// The object ids of the signer's public key that Smart App Control accepts: RSA, and RSA-PSS.
inline constexpr const wchar_t* RsaKey = L"1.2.840.113549.1.1.1";
inline constexpr const wchar_t* RsaPssKey = L"1.2.840.113549.1.1.10";
inline constexpr const wchar_t* EcdsaKey = L"1.2.840.10045.2.1";

// Whether a start of the application loads the file, by its path relative to the install: the
// launcher, the runtime's bin\java.exe and the DLLs of bin\ (a runtime loads its own from there).
bool LoadedByAStart(const std::wstring& path);

struct SignatureFacts {
  struct File {
    std::wstring path;         // relative to the install folder
    std::wstring readError{};  // why it could not be opened, in the platform's words; else empty
    std::uint32_t trustResult = 0;  // for the signature the file carries
    // Where it carries none: the catalog of Windows whose signature covers it, and WinVerifyTrust's
    // answer for that; empty where no catalog lists the file.
    std::wstring catalog{};
    std::uint32_t catalogResult = 0;
    // Of a valid signature, the file's own or its catalog's: the object id of the signer's public
    // key, the SHA-1 thumbprint of its chain's root, and whether that root is one of Microsoft's
    // Trusted Root Program (Microsoft's own, in the machine's AuthRoot store, or on the program's
    // list that Windows keeps). Empty, and false, where not read.
    std::wstring signerKey{};
    std::wstring root{};
    bool rootInProgram = false;
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
  // Why the Trusted Root Program's list could not be read; empty where it was. Without it a root
  // outside the AuthRoot store may still be one of the program's.
  std::wstring rootListError;
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
