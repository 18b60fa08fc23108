// The doctor's checks, in the order they run: each entry a check with its stable id, its title,
// the gatherer that reads its facts on Windows and the judge that makes findings of them. The
// runner (check_runner.h) reads the order, and which checks stop or leave out others, from here
// and from what each judge returns; adding a check means adding its entry here, and its topic's
// files. Portable: on the host only the judges are used.
#pragma once

#include <tuple>

#include "guards/archive_folder.h"
#include "guards/detection_rules.h"
#include "guards/event_logs.h"
#include "guards/mark_of_the_web.h"
#include "guards/prevalence_rule.h"
#include "guards/signatures.h"
#include "install_folder.h"
#include "interpreter.h"
#include "launch.h"
#include "runtime.h"
#include "shortcuts.h"
#include "user_session.h"

namespace dunvelt::doctor {

using CheckTable = std::tuple<
    // First, since where the user is not, some checks would look at somebody else's things.
    UserSessionCheck,
    // Before the install's own: run from a zip's view, there is no install to look at.
    ArchiveFolderCheck, InstallFolderCheck, ForeignInterpreterCheck, RuntimeImageCheck,
    RuntimeStartCheck, InterpreterCheck, ShortcutsCheck,
    // What security tools will say of every start of the runtime.
    DetectionRulesCheck,
    // Windows blocks a program without a word from it: what blocks the launcher or the runtime
    // stops every launch too.
    SignaturesCheck, MarkOfTheWebCheck, PrevalenceRuleCheck,
    // It opens the application.
    LaunchCheck,
    // After the launch, so that what Windows blocked in it is in the logs.
    EventLogsCheck>;

}  // namespace dunvelt::doctor
