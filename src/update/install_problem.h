// Why a file was not installed (or was installed not in one step): one value per reason the
// engine has, so tools and tests decide on values and only DescribeInstallProblem makes text.
#pragma once

enum class InstallProblem {
  kNone,
  kSizeTextTooLong,         // the entry's tamfichero does not fit the updater's buffer
  kComponentTextMissing,    // component address or destination missing or too long
  kOutsideAppDirectory,     // component destination leaves the application directory
  kAppDirectoryTooLong,     // application directory and destination together too long
  kMainAddressTooLong,      // the main executable's address does not fit
  kSizeLimitNotPositive,    // the file's size limit is 0 or less
  kRunTimeUsedUp,           // the run's fetch budget is spent
  kFetchFailed,             // the document could not be fetched (FileOutcome::fetch says how)
  kOutOfMemory,             // memory ran out for this file
  kNotWellFormed,           // the document is not well-formed XML
  kNoContentElement,        // the document has no fichero element
  kContentTooLong,          // the file is not smaller than its size limit
  kContentEmpty,            // fichero empty or not a child of the document element
  kContentNotHex,           // fichero is not an even number of hexadecimal digits
  kDigestMismatch,          // the bytes do not match the signed digest
  kDigestMissing,           // a signed release without a digest for this file
  kDigestFailed,            // the digest could not be computed
  kDestinationNotWritable,  // the destination may not be opened for writing
  kWriteFailed,             // the destination could not be written
  kWrittenInPlace,          // installed, but into the existing file, not in one step
};

// The text of `problem`, as the release tool prints it. Never null.
const char* DescribeInstallProblem(InstallProblem problem);
