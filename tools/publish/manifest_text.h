// The XML the updater reads: the manifest of a planned release and the frame of a file document.
#pragma once

#include <string>

#include "publish/release_plan.h"

// The application or library manifest of `release`, in UTF-8 with its encoding declared, texts
// escaped. Elements in the order the updater reads them.
std::string BuildManifestText(const Release& release);

// What comes before and after the hexadecimal digits in a file document.
std::string FileDocumentHead();
std::string FileDocumentTail();
