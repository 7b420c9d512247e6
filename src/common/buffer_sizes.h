// The sizes of the updater's fixed text buffers, named once. Each holds one byte less of text
// than its size: the terminator.
#pragma once

#include <cstddef>

// Settings texts the updater reads (main executable path, manifest address, installed version).
constexpr std::size_t kSettingTextBufferSize = 255;
// Paths the updater builds: application directory, log marker, install destinations.
constexpr std::size_t kPathBufferSize = 255;
// Full-path resolution and the log configuration file's path (the classic path limit, 260).
constexpr std::size_t kFullPathBufferSize = 260;
// Texts read from the log configuration file.
constexpr std::size_t kLogSettingBufferSize = 256;
// The log file's path.
constexpr std::size_t kLogPathBufferSize = 520;
// The Linux settings store's path.
constexpr std::size_t kStorePathBufferSize = 1024;
// The log's own texts: its latched error message and the session identifier.
constexpr std::size_t kLogTextBufferSize = 255;
