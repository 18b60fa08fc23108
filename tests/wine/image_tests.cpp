// Reads the built Dunvelt.exe back the way Windows does: its resources through the platform's
// resource, version and activation-context readers, its headers through the platform's own
// structures. Every expected value is written out here, independently of the build.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "wine_test.h"

namespace {

using Names = std::set<std::wstring>;

std::wstring NameOf(LPCWSTR name) {
  return IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name)) : name;
}

// The launcher loaded as data: no code of it runs.
struct Image {
  Image()
      : module(LoadLibraryExW(winetest::LauncherPath().c_str(), nullptr,
                              LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {
    CHECK(module != nullptr, winetest::LauncherPath());
  }
  ~Image() { FreeLibrary(module); }

  std::string Resource(LPCWSTR type, LPCWSTR name) const {
    const HRSRC found = FindResourceW(module, name, type);
    if (found == nullptr) return {};
    const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
    return std::string(data, SizeofResource(module, found));
  }

  HMODULE module;
};

using NamesByType = std::map<std::wstring, Names>;

BOOL CALLBACK AddName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
  reinterpret_cast<Names*>(names)->insert(NameOf(name));
  return TRUE;
}

BOOL CALLBACK AddType(HMODULE module, LPWSTR type, LONG_PTR found) {
  Names& names = (*reinterpret_cast<NamesByType*>(found))[NameOf(type)];
  EnumResourceNamesW(module, type, AddName, reinterpret_cast<LONG_PTR>(&names));
  return TRUE;
}

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
  reinterpret_cast<std::set<WORD>*>(languages)->insert(language);
  return TRUE;
}

LPCWSTR ResourceName(const std::wstring& name) {
  return name[0] == L'#' ? MAKEINTRESOURCEW(std::stoi(name.substr(1))) : name.c_str();
}

void CarriesExactlyItsOwnResourcesInUsEnglish() {
  Image image;
  NamesByType namesByType;
  std::set<WORD> languages;
  EnumResourceTypesW(image.module, AddType, reinterpret_cast<LONG_PTR>(&namesByType));
  for (const auto& [type, names] : namesByType)
    for (const std::wstring& name : names)
      EnumResourceLanguagesW(image.module, ResourceName(type), ResourceName(name), AddLanguage,
                             reinterpret_cast<LONG_PTR>(&languages));

  CHECK(namesByType.size() == 4, L": icon, icon group, version and manifest, and nothing else");
  CHECK(namesByType[L"#14"] == Names{L"MAINICON"}, L": the only icon group");
  CHECK(namesByType[L"#16"] == Names{L"#1"});
  CHECK(namesByType[L"#24"] == Names{L"#1"});
  CHECK(namesByType[L"#3"].size() == 6, L": the group's six images");
  CHECK(languages == std::set<WORD>{1033});
}

// One node of a version resource: a length, a value length, a type, a key, a value, children.
struct VersionNode {
  VersionNode(const BYTE* base, const BYTE* at) : base(base), at(at) {
    std::memcpy(&length, at, 2);
    std::memcpy(&valueLength, at + 2, 2);
    std::memcpy(&isText, at + 4, 2);
    key = reinterpret_cast<const wchar_t*>(at + 6);
    value = Aligned(at + 6 + (key.size() + 1) * 2);
  }
  const BYTE* Aligned(const BYTE* p) const { return base + ((p - base + 3) & ~3); }
  std::vector<VersionNode> Children() const {
    std::vector<VersionNode> children;
    for (const BYTE* p = Aligned(value + valueLength * (isText ? 2 : 1)); p < at + length;) {
      children.emplace_back(base, p);
      if (children.back().length == 0) break;
      p = Aligned(p + children.back().length);
    }
    return children;
  }
  const BYTE *base, *at, *value;
  WORD length = 0, valueLength = 0, isText = 0;
  std::wstring key;
};

void CarriesItsVersionInUsEnglish() {
  const std::wstring path = winetest::LauncherPath();
  std::vector<BYTE> block(GetFileVersionInfoSizeW(path.c_str(), nullptr));
  CHECK(!block.empty() && GetFileVersionInfoW(path.c_str(), 0, block.size(), block.data()));
  if (block.empty()) return;

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  CHECK(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
  if (fixed == nullptr) return;
  CHECK(fixed->dwSignature == 0xFEEF04BD);
  CHECK(fixed->dwFileVersionMS == 0x00010000 && fixed->dwFileVersionLS == 0);
  CHECK(fixed->dwProductVersionMS == 0x00010000 && fixed->dwProductVersionLS == 0);
  CHECK(fixed->dwFileFlagsMask == 0x3F && fixed->dwFileFlags == 0);
  CHECK(fixed->dwFileOS == 4 && fixed->dwFileType == 1 && fixed->dwFileSubtype == 0);

  const std::pair<std::wstring, std::wstring> expected[] = {
      {L"FileDescription", L"Dunvelt"},
      {L"FileVersion", L"1.0.0.0"},
      {L"ProgramID", L"com.varkelund.Dunvelt"},
      {L"ProductName", L"Dunvelt"},
      {L"ProductVersion", L"1.0.0.0"}};
  for (const auto& [key, text] : expected) {
    wchar_t* value = nullptr;
    VerQueryValueW(block.data(), (L"\\StringFileInfo\\040904E4\\" + key).c_str(),
                   reinterpret_cast<void**>(&value), &size);
    CHECK(value != nullptr && value == text, key);
  }

  // The platform's reader finds keys by name; the order and the absence of others show in the
  // block itself.
  std::vector<std::wstring> tables, keys;
  for (const VersionNode& child : VersionNode(block.data(), block.data()).Children())
    if (child.key == L"StringFileInfo")
      for (const VersionNode& table : child.Children()) {
        tables.push_back(table.key);
        for (const VersionNode& string : table.Children()) keys.push_back(string.key);
      }
  CHECK(tables == std::vector<std::wstring>{L"040904E4"});
  CHECK((keys == std::vector<std::wstring>{L"FileDescription", L"FileVersion", L"ProgramID",
                                           L"ProductName", L"ProductVersion"}));

  WORD* translation = nullptr;
  CHECK(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                       reinterpret_cast<void**>(&translation), &size) &&
        size == 4 && translation[0] == 0x0409 && translation[1] == 1252);
}

#pragma pack(push, 2)
struct IconGroupEntry {
  BYTE width, height, colourCount, reserved;
  WORD planes, bitCount;
  DWORD bytes;
  WORD id;
};
struct IconGroup {
  WORD reserved, type, count;
  IconGroupEntry entries[1];
};
#pragma pack(pop)

void CarriesSixIconImagesLargestFirst() {
  Image image;
  const std::string data = image.Resource(MAKEINTRESOURCEW(14), L"MAINICON");  // RT_GROUP_ICON
  CHECK(data.size() == 6 + 6 * sizeof(IconGroupEntry), L": six entries");
  if (data.size() < 6 + 6 * sizeof(IconGroupEntry)) return;
  const auto* group = reinterpret_cast<const IconGroup*>(data.data());
  CHECK(group->reserved == 0 && group->type == 1 && group->count == 6);
  const int sizes[] = {256, 128, 64, 48, 32, 16};
  for (int i = 0; i < 6; ++i) {
    const IconGroupEntry& entry = group->entries[i];
    const std::wstring which = L"image " + std::to_wstring(sizes[i]);
    CHECK(entry.width == sizes[i] % 256 && entry.height == sizes[i] % 256, which);
    CHECK(entry.planes == 1 && entry.bitCount == 32, which);
    const std::string icon = image.Resource(MAKEINTRESOURCEW(3), MAKEINTRESOURCEW(entry.id));
    CHECK(icon.size() == entry.bytes, which);
    if (sizes[i] == 256) {
      CHECK(icon.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0, which + L": stored as PNG");
      continue;
    }
    BITMAPINFOHEADER header{};
    std::memcpy(&header, icon.data(), std::min(icon.size(), sizeof header));
    CHECK(header.biSize == sizeof header && header.biBitCount == 32 && header.biPlanes == 1 &&
              header.biWidth == sizes[i] && header.biHeight == 2 * sizes[i],
          which + L": a 32-bpp bitmap with its mask");
  }
}

// The manifest's markup alone: comments dropped, and the white space between tags, which carries
// nothing, removed.
std::string Markup(std::string xml) {
  for (std::size_t at; (at = xml.find("<!--")) != std::string::npos;) {
    const std::size_t close = xml.find("-->", at);
    xml.erase(at, close == std::string::npos ? std::string::npos : close + 3 - at);
  }
  std::string markup;
  bool betweenTags = true;
  for (char c : xml) {
    if (c == '<') betweenTags = false;
    if (!(betweenTags && std::isspace(static_cast<unsigned char>(c)))) markup += c;
    if (c == '>') betweenTags = true;
  }
  return markup;
}

void DeclaresItsManifest() {
  Image image;
  const std::string manifest = image.Resource(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
  // Every element and attribute, in order, and nothing else.
  const char* const elements[] = {
      R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)",
      R"(<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0" )"
      R"(xmlns:asmv3="urn:schemas-microsoft-com:asm.v3">)",
      R"(<asmv3:application>)",
      R"(<asmv3:windowsSettings xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">)",
      R"(<dpiAware>True/PM</dpiAware>)",
      R"(</asmv3:windowsSettings>)",
      R"(</asmv3:application>)",
      R"(<dependency>)",
      R"(<dependentAssembly>)",
      R"(<assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" )"
      R"(version="6.0.0.0" publicKeyToken="6595b64144ccf1df" language="*" )"
      R"(processorArchitecture="*"/>)",
      R"(</dependentAssembly>)",
      R"(</dependency>)",
      R"(<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">)",
      R"(<security>)",
      R"(<requestedPrivileges>)",
      R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)",
      R"(</requestedPrivileges>)",
      R"(</security>)",
      R"(</trustInfo>)",
      R"(<compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1">)",
      R"(<application>)",
      R"(<supportedOS Id="{e2011457-1546-43c5-a5fe-008deee3d3f0}"/>)",  // Vista
      R"(<supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>)",  // 7
      R"(<supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>)",  // 8
      R"(<supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>)",  // 8.1
      R"(<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>)",  // 10
      R"(</application>)",
      R"(</compatibility>)",
      R"(</assembly>)"};
  CHECK(manifest.rfind(elements[0], 0) == 0, L": UTF-8 without a byte-order mark, standalone");
  std::string expected;
  for (const char* element : elements) expected += element;
  const std::string markup = Markup(manifest);
  const auto differ = std::mismatch(markup.begin(), markup.end(), expected.begin(), expected.end());
  const std::string found(differ.first, markup.end());
  CHECK(markup == expected,
        L": differs from what is expected at: " +
            std::wstring(found.begin(), found.begin() + std::min<std::size_t>(found.size(), 80)));

  const std::wstring path = winetest::LauncherPath();
  ACTCTXW context{};
  context.cbSize = sizeof context;
  context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  context.lpSource = path.c_str();
  context.lpResourceName = MAKEINTRESOURCEW(1);
  const HANDLE activation = CreateActCtxW(&context);
  CHECK(activation != INVALID_HANDLE_VALUE,
        L": the platform rejects the manifest, error " + std::to_wstring(GetLastError()));
  if (activation != INVALID_HANDLE_VALUE) ReleaseActCtx(activation);
}

// The image settings every shipped program takes, and the DLLs it imports; returns the size of
// its resources.
DWORD CheckHardenedGuiImage(const std::wstring& path, const Names& expectedImports) {
  std::ifstream in(path.c_str(), std::ios::binary);
  const std::vector<char> file{std::istreambuf_iterator<char>(in), {}};
  CHECK(file.size() > 4096, path);
  if (file.size() <= 4096) return 0;
  const auto& dos = *reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data());
  const auto& nt = *reinterpret_cast<const IMAGE_NT_HEADERS32*>(file.data() + dos.e_lfanew);
  const IMAGE_OPTIONAL_HEADER32& optional = nt.OptionalHeader;
  CHECK(dos.e_magic == IMAGE_DOS_SIGNATURE && nt.Signature == IMAGE_NT_SIGNATURE);
  CHECK(nt.FileHeader.Machine == IMAGE_FILE_MACHINE_I386);
  CHECK(optional.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC);
  // The GUI subsystem is what keeps a console away, even when started from one.
  CHECK(optional.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI);
  CHECK(optional.MajorOperatingSystemVersion == 5 && optional.MinorOperatingSystemVersion == 0);
  CHECK(optional.MajorSubsystemVersion == 5 && optional.MinorSubsystemVersion == 0);
  const WORD hardening = IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE |
                         IMAGE_DLLCHARACTERISTICS_NX_COMPAT |
                         IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE;
  CHECK((optional.DllCharacteristics & hardening) == hardening);
  // Nothing in the image installs a structured exception handler, and the image says so: scanners
  // flag an x86 image that neither says so nor carries a table of its handlers (SafeSEH).
  CHECK(optional.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_NO_SEH,
        L": declares that it installs no exception handler");
  CHECK(!(nt.FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED) &&
            optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size > 0,
        L": address space randomisation needs the relocations");

  const auto* sections = IMAGE_FIRST_SECTION(&nt);
  const auto offset = [&](DWORD rva) -> std::size_t {
    for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i)
      if (rva >= sections[i].VirtualAddress &&
          rva < sections[i].VirtualAddress + sections[i].SizeOfRawData)
        return rva - sections[i].VirtualAddress + sections[i].PointerToRawData;
    return 0;
  };
  Names imports;
  const DWORD importRva = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  for (auto* entry =
           reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(file.data() + offset(importRva));
       offset(importRva) != 0 && entry->Name != 0; ++entry) {
    std::string name = file.data() + offset(entry->Name);
    std::transform(name.begin(), name.end(), name.begin(), ::tolower);
    imports.insert(std::wstring(name.begin(), name.end()));
  }
  CHECK(imports == expectedImports, path + L": imports other DLLs than expected");
  return optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].Size;
}

// Only DLLs that Windows ships.
const Names LauncherImports{L"kernel32.dll", L"user32.dll", L"shell32.dll", L"ole32.dll",
                            L"msvcrt.dll"};

void IsAHardenedThirtyTwoBitGuiImage() {
  CheckHardenedGuiImage(winetest::LauncherPath(), LauncherImports);
}

// The floor program of the timing is a fair floor only when it is built as the launcher is, with
// its settings and resources, and starts the runtime without the shell.
void BuildsTheFloorProgramAsTheLauncher() {
  const DWORD launcherResources = CheckHardenedGuiImage(winetest::LauncherPath(), LauncherImports);
  const DWORD floorResources =
      CheckHardenedGuiImage(winetest::FloorProgramPath(), {L"kernel32.dll", L"msvcrt.dll"});
  CHECK(floorResources > 0 && floorResources == launcherResources,
        L": the floor program must carry the launcher's resources");
}

}  // namespace

int main(int argc, char** argv) {
  return winetest::Main(argc, argv,
                        {{"resources", CarriesExactlyItsOwnResourcesInUsEnglish},
                         {"version", CarriesItsVersionInUsEnglish},
                         {"icon", CarriesSixIconImagesLargestFirst},
                         {"manifest", DeclaresItsManifest},
                         {"headers", IsAHardenedThirtyTwoBitGuiImage},
                         {"floor-program", BuildsTheFloorProgramAsTheLauncher}});
}
