// The command interpreter, cmd.exe, started as the launcher starts it: through the shell, hidden,
// in the install folder; and what may stop it or send it elsewhere. Portable; its facts are
// gathered in interpreter_windows.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "facts_json_fwd.h"
#include "finding.h"
#include "install.h"
#include "registry_value.h"

namespace dunvelt::doctor {

// cmd.exe started as the launcher starts it, on a command that prints its current folder.
struct InterpreterProbe {
  std::wstring installFolder;
  bool networkPath = false;  // the install folder is a UNC path
  bool started = false;
  std::wstring startError;  // why the shell could not start it
  bool ended = true;        // it ended within the deadline
  std::uint32_t deadlineSeconds = 0;
  std::vector<std::wstring> endedByDoctor;  // still running at the deadline: their images
  bool answered = false;                    // it ran the command and printed a folder
  std::wstring ranIn;                       // the folder it printed
  bool ranInInstallFolder = false;
  // The AutoRun values that cmd.exe reads, each a command it runs before every other, the
  // launcher's too; and the "Prevent access to the command prompt" policy.
  std::vector<RegistryValue> autoRuns;
  RegistryValue disableCmd;
  std::vector<RegistryValue> uncChecks;  // DisableUNCCheck, everywhere cmd.exe reads it
};

DUNVELT_FACTS_JSON_DECLARE(InterpreterProbe)

// The first of cmd.exe's DisableUNCCheck values that lets it stay in a network path (UNC) it is
// started in, or null: without one it falls back to the Windows folder.
const RegistryValue* UncCheckDisabledBy(const std::vector<RegistryValue>& values);

struct InterpreterCheck {
  static constexpr const char* Id = "interpreter";
  static constexpr const wchar_t* Title = L"The command interpreter";
  using Facts = InterpreterProbe;
  static Facts Gather(const Install& install);
  static CheckResult Judge(const Facts& facts);
};

}  // namespace dunvelt::doctor
