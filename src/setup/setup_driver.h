#pragma once
// The run: every stage once, in one fixed order, on the only thread; the exit code names the outcome.
#include <windows.h>
#include <objbase.h>

#include <cstdint>

#include "common/outcome.h"
#include "common/setup_result.h"
#include "common/wide_string.h"
#include "staging/staged_run.h"

class ProgressWindow;
enum class DllRedirection;
struct ReleaseManifest;

// What the driver calls, in the order it calls them. kSystemStages holds the real stages; tests fill a
// table of their own by member name, standing in for stages whose faults no real condition produces,
// and observe the order of clean-up.
struct SetupStages {
    decltype(&::CoInitializeEx) coInitializeEx;
    decltype(&::CoUninitialize) coUninitialize;
    Outcome (*fetchReleaseManifest)(Utf8String& body);
    bool (*validateReleaseManifest)(const Utf8String& text, ReleaseManifest& manifest);
    bool (*isNative64BitWindows)();
    int (*confirmInstall)(const ReleaseManifest& manifest);
    bool (*createProgress)(ProgressWindow& progress, const WideString& version);
    void (*showStatus)(ProgressWindow& progress, const WideString& status, const WideString& detail);
    void (*updateProgress)(ProgressWindow& progress, std::uint64_t received, std::uint64_t total);
    void (*destroyProgress)(ProgressWindow& progress);
    // The run's files: the calls its staged run makes, and two of its steps, which tests wrap to act
    // where an attacker would (around the folder's making and the rename).
    StagingCalls staging;
    Outcome (*openRunFolder)(StagedRun& run);
    Outcome (*promotePartialFile)(StagedRun& run);
    Outcome (*launchInstaller)(const VerifiedInstaller& installer, std::uint32_t& exitCode);
    void (*showErrorBox)(const WideString& text, UINT style);
    // The refusal's box, shown before Common Controls may load.
    void (*showPlainErrorBox)(const WideString& text, UINT style);
};

extern const SetupStages kSystemStages;

SetupResult RunSetup(const SetupStages& stages = kSystemStages);

// Ends a run that found DLL redirection beside the program, before anything else happens. Its box draws
// no Common Controls; where redirection is in force no box is shown at all: any DLL a box loads could
// come through it.
SetupResult RefuseDllRedirection(DllRedirection redirection, const SetupStages& stages = kSystemStages);
