#pragma once
// Lines for the release engineer: reports to standard output, failures to standard error. A console
// gets the text as UTF-16; a pipe or a file gets UTF-8, so scripts and logs read it the same everywhere.
#include "common/wide_string.h"

void PrintLine(const WideString& line);
void PrintFailure(const WideString& line);
