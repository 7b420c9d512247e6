// The sizes the updater reads manifest texts into, and the limits they set: shared by the engine
// and the release tool, which derives every limit it checks and names from these.
#pragma once

// Buffer sizes the updater reads manifest texts into: at most 254 and 49 bytes of text.
constexpr int kManifestTextBufferSize = 255;
constexpr int kSignatureBufferSize = 50;

// The longest manifest text (version, address, destination, size) the updater reads whole.
constexpr int kMaxManifestTextBytes = kManifestTextBufferSize - 1;

// Size limit of a file entry without a usable tamfichero.
constexpr int kDefaultEntrySizeLimit = 2048576;

// Counts (componentes) up to this are walked number by number, a missing component getting its
// result line and progress step; above it the walk stops at the highest number the manifest
// names, so a count near 2^31 cannot hold the till for hours.
constexpr int kMaxWalkedCount = 10000;
