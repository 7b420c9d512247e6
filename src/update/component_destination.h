// Which component destinations stay inside the main application's directory: shared by the
// updater, which refuses the others, and the release tool, which never publishes them.
#pragma once

// True when `destination` names a place inside the directory it is joined to: not absolute
// (no leading "/" or "\", so no UNC form either), no drive letter ("C:"), and no ".." segment,
// with "/" and "\" both taken as separators whatever the target. The empty text is relative.
bool IsContainedComponentDestination(const char* destination);
