#pragma once
// The names make writes into package URLs and check maps back to files in the release folder. Only
// characters that mean the same thing in a URL path, a JSON text and a file name are taken, so that
// nothing needs escaping anywhere on the way.
#include <string_view>

#include "common/wide_string.h"

// A package's file name as it becomes the last segment of its URL: letters, digits, ".", "-", "_" and
// "~", not empty and not made only of dots.
bool IsSafeFileName(std::wstring_view name);

// One or more safe names separated by single slashes; "..", or any name made only of dots, could leave
// the release folder.
bool IsSafeReleasePath(std::wstring_view path);

// The file under the release folder that a package URL will be served from: the part after the release
// base URL, up to a query or fragment, percent-decoded, with "/" between its names. Only the characters
// make writes are taken, so the name means the same as a URL path and as a file path; false for anything
// else.
bool ReleaseFileOf(const WideString& url, WideString& relative);
