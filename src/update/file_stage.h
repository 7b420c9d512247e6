// The part of a release a file belongs to: the engine reports each file under its stage, and the
// release tool writes each file of a manifest for one.
#pragma once

enum class FileStage {
  kComponent,       // numbered component of an application release
  kMainExecutable,  // the registered main executable
  kAdditionalFile,  // numbered additional file of a library release
  kActiveXFile,
  kLibraryFile,
};

// The stage's name as people read it ("component", "main executable", "additional file",
// "ActiveX file", "library file"); the numbered stages' number follows it where it is shown.
const char* FileStageName(FileStage stage);
// True for the stages whose files are numbered (component N, additional file N).
bool IsNumberedStage(FileStage stage);
