// Which component destinations stay inside the main application's directory: shared by the
// updater, which refuses the others, and the release tool, which never publishes them.
#pragma once

// True when `destination` names a place inside the directory it is joined to: no drive letter
// ("C:") and no ".." segment, with "/" and "\" both taken as separators whatever the target. A
// leading separator stays inside: the directory ends with one, and two in a row read as one (so
// "\\host\share" joined is a folder of the directory, not a share). The empty text is relative.
bool IsContainedComponentDestination(const char* destination);
