#pragma once
// Side-by-side redirection: a <program>.exe.local file or folder beside the program can make the loader
// take DLLs from there, Common Controls included, before any code of ours could refuse them.

enum class DllRedirection {
    None,
    // Something stands under the .local name beside the program; the loader was not told to use it.
    Planted,
    // The process was started with .local redirection in force: any further DLL load may come from it.
    InForce,
};

// Checks both; call it before any DLL outside the KnownDLLs loads.
DllRedirection FindDllRedirection();
