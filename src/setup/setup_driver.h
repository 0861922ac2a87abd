#pragma once
// The run: every stage once, in one fixed order, on the only thread; the exit code names the outcome.
#include <windows.h>
#include <objbase.h>

#include <cstdint>

#include "common/outcome.h"
#include "common/setup_result.h"
#include "common/wide_string.h"
#include "staging/staged_run.h"

class RunObserver;
enum class DllRedirection;
struct ReleaseManifest;

// The stages that do the run's work, in the order the driver calls them. kSystemStages holds the real
// stages; tests fill a table of their own by member name, standing in for stages whose faults no real
// condition produces, and observe the order of clean-up. What the user sees is the RunObserver's.
struct SetupStages {
    decltype(&::CoInitializeEx) coInitializeEx;
    decltype(&::CoUninitialize) coUninitialize;
    Outcome (*fetchReleaseManifest)(Utf8String& body);
    bool (*validateReleaseManifest)(const Utf8String& text, ReleaseManifest& manifest);
    bool (*isNative64BitWindows)();
    int (*confirmInstall)(const ReleaseManifest& manifest);
    // The run's files: the calls its staged run makes, and two of its steps, which tests wrap to act
    // where an attacker would (around the folder's making and the rename).
    StagingCalls staging;
    Outcome (*openRunFolder)(StagedRun& run);
    Outcome (*promotePartialFile)(StagedRun& run);
    Outcome (*launchInstaller)(const VerifiedInstaller& installer, std::uint32_t& exitCode);
};

extern const SetupStages kSystemStages;

// The whole run; face shows it to the user (the program passes its progress window).
SetupResult RunSetup(RunObserver& face, const SetupStages& stages = kSystemStages);

// Ends a run that found DLL redirection beside the program, before anything else happens. Its box draws
// no Common Controls; where redirection is in force no box is shown at all: any DLL a box loads could
// come through it.
SetupResult RefuseDllRedirection(DllRedirection redirection, RunObserver& face);
