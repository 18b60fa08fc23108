// The signatures' facts: WinVerifyTrust's answer for every program and DLL of the install, its
// own signature's or, where it has none, a catalog's; what the signer's key is and where its
// chain's root comes from; and Smart App Control's state.
#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <mscat.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "files_windows.h"
#include "owners.h"
#include "platform_error.h"
#include "signatures.h"

namespace dunvelt::doctor {
namespace {

// The registry as 64-bit Windows keeps it: this 32-bit program would otherwise read the 32-bit
// view of SOFTWARE. 32-bit Windows ignores it.
constexpr REGSAM NativeView = KEY_WOW64_64KEY;

// The .exe and .dll files in the folder and the folders below it, by their paths relative to the
// install, up to the bound; past it they are counted. A folder that is not there holds none.
void AddProgramFiles(const std::wstring& install, const std::wstring& relative,
                     std::vector<std::wstring>& files, SignatureFacts& facts) {
  WIN32_FIND_DATAW entry;
  const UniqueFind find(FindFirstFileW(Joined(Joined(install, relative), L"*").c_str(), &entry));
  if (!find) {
    const DWORD error = GetLastError();
    if (!IsNotThere(error)) facts.unlistedFolders.push_back({relative, ErrorText(error)});
    return;
  }
  do {
    const std::wstring name = entry.cFileName;
    const std::wstring path = Joined(relative, name);
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      // A junction could lead back up the tree.
      if (name != L"." && name != L".." &&
          (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        AddProgramFiles(install, path, files, facts);
      }
    } else if (HasExtension(name, L".exe") || HasExtension(name, L".dll")) {
      if (files.size() < MostFilesChecked) {
        files.push_back(path);
      } else {
        ++facts.notChecked;
      }
    }
  } while (FindNextFileW(find.get(), &entry) != FALSE);
  const DWORD error = GetLastError();
  if (error != ERROR_NO_MORE_FILES) facts.unlistedFolders.push_back({relative, ErrorText(error)});
}

static_assert(TrustProviderFlags == (WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL));

constexpr DWORD CertificateEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct StoreCloser {
  void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using UniqueStore = std::unique_ptr<void, StoreCloser>;
struct CtlFreer {
  void operator()(PCCTL_CONTEXT ctl) const { CertFreeCTLContext(ctl); }
};
using UniqueCtl = std::unique_ptr<const CTL_CONTEXT, CtlFreer>;

// Where the roots of Microsoft's Trusted Root Program are kept on the machine: the AuthRoot store,
// into which Windows installs each as it first needs it, and the program's whole list as Windows
// last fetched it, a certificate trust list in the registry.
class RootLists {
 public:
  explicit RootLists(std::wstring& error)
      : authRoot_(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_OPEN_EXISTING_FLAG |
                                    CERT_STORE_READONLY_FLAG,
                                L"AuthRoot")) {
    const wchar_t* const key = L"SOFTWARE\\Microsoft\\SystemCertificates\\AuthRoot\\AutoUpdate";
    DWORD size = 0;
    LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, key, L"EncodedCtl", RRF_RT_REG_BINARY,
                                  nullptr, nullptr, &size);
    std::string bytes(size, '\0');
    if (status == ERROR_SUCCESS) {
      status = RegGetValueW(HKEY_LOCAL_MACHINE, key, L"EncodedCtl", RRF_RT_REG_BINARY, nullptr,
                            bytes.data(), &size);
    }
    if (status != ERROR_SUCCESS) {
      error =
          L"HKLM\\" + std::wstring(key) + L" EncodedCtl: " + ErrorText(static_cast<DWORD>(status));
      return;
    }
    list_.reset(CertCreateCTLContext(CertificateEncoding,
                                     reinterpret_cast<const BYTE*>(bytes.data()), size));
    if (!list_) {
      error = L"HKLM\\" + std::wstring(key) + L" EncodedCtl: " + ErrorText(GetLastError());
    }
  }

  // Whether the root, by its SHA-1 thumbprint, is one of the program's.
  [[nodiscard]] bool Has(CRYPT_HASH_BLOB thumbprint) const {
    if (authRoot_) {
      const PCCERT_CONTEXT found = CertFindCertificateInStore(
          authRoot_.get(), CertificateEncoding, 0, CERT_FIND_SHA1_HASH, &thumbprint, nullptr);
      if (found != nullptr) {
        CertFreeCertificateContext(found);
        return true;
      }
    }
    if (!list_) return false;
    for (DWORD i = 0; i < list_->pCtlInfo->cCTLEntry; ++i) {
      const CRYPT_DATA_BLOB& entry = list_->pCtlInfo->rgCTLEntry[i].SubjectIdentifier;
      if (entry.cbData == thumbprint.cbData &&
          std::equal(entry.pbData, entry.pbData + entry.cbData, thumbprint.pbData)) {
        return true;
      }
    }
    return false;
  }

 private:
  UniqueStore authRoot_;
  UniqueCtl list_;
};

// A SHA-1 thumbprint's bytes.
constexpr DWORD ThumbprintBytes = 20;
// Room for the longest hash a catalog admin computes, SHA-512's.
constexpr std::size_t MostHashBytes = 64;

std::wstring HexBytes(const BYTE* bytes, DWORD size) {
  constexpr std::wstring_view Digits = L"0123456789ABCDEF";
  constexpr unsigned Nibble = 4;
  constexpr unsigned LowNibble = 0x0F;
  std::wstring text;
  for (DWORD i = 0; i < size; ++i) {
    text += Digits[bytes[i] >> Nibble];
    text += Digits[bytes[i] & LowNibble];
  }
  return text;
}

// The signer's key and the chain's root of a valid signature, read from WinVerifyTrust's state
// before it is closed.
void ReadChain(HANDLE state, const RootLists& roots, SignatureFacts::File& facts) {
  CRYPT_PROVIDER_DATA* const provider = WTHelperProvDataFromStateData(state);
  CRYPT_PROVIDER_SGNR* const signer =
      provider != nullptr ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
  if (signer == nullptr || signer->csCertChain == 0) return;
  const PCCERT_CONTEXT leaf = signer->pasCertChain[0].pCert;
  const PCCERT_CONTEXT root = signer->pasCertChain[signer->csCertChain - 1].pCert;
  if (leaf != nullptr && leaf->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId != nullptr) {
    const std::string oid = leaf->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId;
    facts.signerKey.assign(oid.begin(), oid.end());
  }
  std::array<BYTE, ThumbprintBytes> thumbprint{};
  DWORD size = ThumbprintBytes;
  if (root == nullptr || CertGetCertificateContextProperty(root, CERT_SHA1_HASH_PROP_ID,
                                                           thumbprint.data(), &size) == FALSE) {
    return;
  }
  facts.root = HexBytes(thumbprint.data(), size);
  bool microsoft = false;
  if (signer->pChainContext != nullptr) {
    CERT_CHAIN_POLICY_PARA para{};
    para.cbSize = sizeof para;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    microsoft = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_MICROSOFT_ROOT,
                                                 signer->pChainContext, &para, &status) != FALSE &&
                status.dwError == 0;
  }
  facts.rootInProgram = microsoft || roots.Has({size, thumbprint.data()});
}

// WinVerifyTrust on the subject, without a look at the network: a revocation check or a
// certificate fetch could hold the doctor for minutes on a machine offline. "WINTRUST_DATA
// structure" on Microsoft Learn: WTD_REVOKE_NONE alone still lets the provider check revocation;
// WTD_REVOCATION_CHECK_NONE in dwProvFlags turns it off, and WTD_CACHE_ONLY_URL_RETRIEVAL keeps
// every retrieval to the cache.
std::uint32_t Verified(WINTRUST_DATA& data, const RootLists& roots, SignatureFacts::File& facts) {
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = TrustProviderFlags;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG result = WinVerifyTrust(nullptr, &action, &data);
  if (result == 0) ReadChain(data.hWVTStateData, roots, facts);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(nullptr, &action, &data);
  return static_cast<std::uint32_t>(result);
}

struct CatalogAdminReleaser {
  void operator()(HCATADMIN admin) const { CryptCATAdminReleaseContext(admin, 0); }
};
using UniqueCatalogAdmin = std::unique_ptr<void, CatalogAdminReleaser>;

// The file's hash as the catalog admin of the algorithm computes it, or empty. Windows 8 and
// later sign their catalogs over SHA-256 hashes, older ones and many drivers' over SHA-1; Windows
// 7 has only the SHA-1 calls.
std::vector<BYTE> CatalogHash(HCATADMIN admin, HANDLE file, bool sha256) {
  using CalcHash2 = BOOL(WINAPI*)(HCATADMIN, HANDLE, DWORD*, BYTE*, DWORD);
  const auto calcHash2 = reinterpret_cast<CalcHash2>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"wintrust.dll"), "CryptCATAdminCalcHashFromFileHandle2")));
  std::vector<BYTE> hash(MostHashBytes);
  auto size = static_cast<DWORD>(hash.size());
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  const BOOL done = sha256 && calcHash2 != nullptr
                        ? calcHash2(admin, file, &size, hash.data(), 0)
                        : CryptCATAdminCalcHashFromFileHandle(file, &size, hash.data(), 0);
  hash.resize(done != FALSE ? size : 0);
  return hash;
}

UniqueCatalogAdmin CatalogAdmin(bool sha256) {
  using Acquire2 =
      BOOL(WINAPI*)(HCATADMIN*, const GUID*, const WCHAR*, const CERT_STRONG_SIGN_PARA*, DWORD);
  const auto acquire2 = reinterpret_cast<Acquire2>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"wintrust.dll"), "CryptCATAdminAcquireContext2")));
  GUID subsystem = DRIVER_ACTION_VERIFY;
  HCATADMIN admin = nullptr;
  if (sha256) {
    if (acquire2 == nullptr || acquire2(&admin, &subsystem, L"SHA256", nullptr, 0) == FALSE) {
      return {};
    }
  } else if (CryptCATAdminAcquireContext(&admin, &subsystem, 0) == FALSE) {
    return {};
  }
  return UniqueCatalogAdmin(admin);
}

// A file with no signature of its own may be signed through a catalog, as Windows' own files and
// drivers' are: the first catalog that lists its hash, checked as WinVerifyTrust checks a member
// of it.
void CheckCatalogs(const std::wstring& path, HANDLE file, const RootLists& roots,
                   SignatureFacts::File& facts) {
  for (const bool sha256 : {true, false}) {
    const UniqueCatalogAdmin admin = CatalogAdmin(sha256);
    if (!admin) continue;
    std::vector<BYTE> hash = CatalogHash(admin.get(), file, sha256);
    if (hash.empty()) continue;
    HCATINFO catalog = CryptCATAdminEnumCatalogFromHash(
        admin.get(), hash.data(), static_cast<DWORD>(hash.size()), 0, nullptr);
    if (catalog == nullptr) continue;
    CATALOG_INFO info{};
    info.cbStruct = sizeof info;
    if (CryptCATCatalogInfoFromContext(catalog, &info, 0) != FALSE) {
      const std::wstring tag = HexBytes(hash.data(), static_cast<DWORD>(hash.size()));
      WINTRUST_CATALOG_INFO member{};
      member.cbStruct = sizeof member;
      member.pcwszCatalogFilePath = info.wszCatalogFile;
      member.pcwszMemberTag = tag.c_str();
      member.pcwszMemberFilePath = path.c_str();
      member.hMemberFile = file;
      member.pbCalculatedFileHash = hash.data();
      member.cbCalculatedFileHash = static_cast<DWORD>(hash.size());
      member.hCatAdmin = admin.get();
      WINTRUST_DATA data{};
      data.dwUnionChoice = WTD_CHOICE_CATALOG;
      data.pCatalog = &member;
      facts.catalog = info.wszCatalogFile;
      facts.catalogResult = Verified(data, roots, facts);
    }
    CryptCATAdminReleaseCatalogContext(admin.get(), catalog, 0);
    if (!facts.catalog.empty()) return;
  }
}

SignatureFacts::File Checked(const RootLists& roots, const std::wstring& relative,
                             const std::wstring& path, HANDLE file) {
  SignatureFacts::File facts;
  facts.path = relative;
  WINTRUST_FILE_INFO fileInfo{};
  fileInfo.cbStruct = sizeof fileInfo;
  fileInfo.pcwszFilePath = path.c_str();
  fileInfo.hFile = file;
  WINTRUST_DATA data{};
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  facts.trustResult = Verified(data, roots, facts);
  if (SignatureOf(facts.trustResult) == Signature::Unsigned) {
    CheckCatalogs(path, file, roots, facts);
  }
  return facts;
}

}  // namespace

SignatureFacts SignaturesCheck::Gather(const Install& install) {
  SignatureFacts facts;
  std::vector<std::wstring> files = {LauncherName};
  AddProgramFiles(install.folder, L"bin", files, facts);
  AddProgramFiles(install.folder, L"lib", files, facts);
  const RootLists roots(facts.rootListError);
  for (const std::wstring& relative : files) {
    const std::wstring path = Joined(install.folder, relative);
    const UniqueFileHandle file = OpenToRead(path);
    if (!file) {
      const DWORD error = GetLastError();
      // Gone since it was listed: there is nothing of it to start.
      if (!IsNotThere(error)) {
        SignatureFacts::File unread;
        unread.path = relative;
        unread.readError = ErrorText(error);
        facts.files.push_back(unread);
      }
      continue;
    }
    facts.files.push_back(Checked(roots, relative, path, file.get()));
  }
  facts.smartAppControl = ReadRegistryValue(HKEY_LOCAL_MACHINE, L"HKLM",
                                            L"SYSTEM\\CurrentControlSet\\Control\\CI\\Policy",
                                            L"VerifiedAndReputablePolicyState", NativeView);
  return facts;
}

}  // namespace dunvelt::doctor
