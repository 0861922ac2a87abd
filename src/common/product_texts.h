#pragma once
// The product's names as every window and box shows them.

// The caption of every message box.
inline constexpr wchar_t kMessageCaption[] = L"Brimlow AI Quillo";
// The title of the prompt and of the progress window.
inline constexpr wchar_t kSetupWindowTitle[] = L"Brimlow AI Quillo Setup";
// Put before the release's version in the prompt and in the progress window.
inline constexpr wchar_t kVersionPrefix[] = L"Version ";
