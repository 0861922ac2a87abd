#include "setup/confirm_install.h"

#include "common/product_texts.h"
#include "common/resource_ids.h"
#include "common/win32_handles.h"

namespace {

constexpr wchar_t kPromptInstruction[] = L"Ready to install Brimlow AI Quillo";
constexpr wchar_t kArchitecture64[] = L"  \u2022  64-bit Windows detected\n\n";
constexpr wchar_t kArchitecture32[] = L"  \u2022  32-bit Windows detected\n\n";
constexpr wchar_t kPromptPromise[] =
    L"Setup will securely download the correct package for this PC, verify its SHA-256 integrity and "
    L"digital signature, and then begin installation.";
constexpr wchar_t kFooterPrefix[] = L"Verified publisher: ";
constexpr wchar_t kFooterSuffix[] = L"\nInstallation will stop automatically if any security check fails.";
// Before the line feed: the link's main line; after it: the note under it.
constexpr wchar_t kInstallButtonText[] =
    L"Download and install\nDownload the verified Quillo package and begin setup.";
constexpr wchar_t kFallbackPrefix[] = L"Brimlow AI Quillo ";
constexpr wchar_t kFallbackSuffix[] = L" will be downloaded securely, verified and then installed.\n\nContinue?";

}  // namespace

int ConfirmInstall(const ReleaseManifest& manifest) { return setup_internal::ConfirmInstall(manifest, {}); }

int setup_internal::ConfirmInstall(const ReleaseManifest& manifest, const PromptCalls& calls) {
    const WideString content = kVersionPrefix + manifest.version +
                               (calls.isNative64BitWindows() ? kArchitecture64 : kArchitecture32) + kPromptPromise;
    const WideString footer = kFooterPrefix + manifest.publisher + kFooterSuffix;

    const HMODULE module = ::GetModuleHandleW(nullptr);
    const TASKDIALOG_BUTTON installButton = {kInstallButtonId, kInstallButtonText};

    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.hInstance = module;
    config.dwFlags = TDF_USE_HICON_MAIN | TDF_ALLOW_DIALOG_CANCELLATION | TDF_USE_COMMAND_LINKS | TDF_SIZE_TO_CONTENT;
    config.dwCommonButtons = TDCBF_CANCEL_BUTTON;
    config.pszWindowTitle = kSetupWindowTitle;
    // The dialog takes a null icon as "no icon"; nothing to report if the resource is missing.
    const UniqueIcon mainIcon(static_cast<HICON>(
        ::LoadImageW(module, MAKEINTRESOURCEW(APPLICATION_ICON_ID), IMAGE_ICON, 48, 48, LR_DEFAULTCOLOR)));
    config.hMainIcon = mainIcon.Get();
    config.pszMainInstruction = kPromptInstruction;
    config.pszContent = content.c_str();
    config.cButtons = 1;
    config.pButtons = &installButton;
    config.nDefaultButton = kInstallButtonId;
    // Without TDF_USE_HICON_FOOTER this is read as a resource id: the shield.
    config.pszFooterIcon = TD_SHIELD_ICON;
    config.pszFooter = footer.c_str();

    int button = IDCANCEL;
    if (SUCCEEDED(calls.taskDialogIndirect(&config, &button, nullptr, nullptr))) {
        return button;
    }

    // The task dialog could not be shown: a plain question still lets the user decide.
    const WideString question = kFallbackPrefix + manifest.version + kFallbackSuffix;
    const int answer = ::MessageBoxW(nullptr, question.c_str(), kMessageCaption,
                                     MB_YESNO | MB_ICONINFORMATION | MB_SETFOREGROUND);
    return answer == IDYES ? kInstallButtonId : IDCANCEL;
}
