// mubax-publish: writes the update manifests and file documents the updater reads, and checks a
// release with the updater's own engine before it goes live. A console program on both targets.
#include <CLI/CLI.hpp>

#include <cstring>
#include <cstdint>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "mubax_version.h"
#include "publish/arguments.h"
#include "publish/commands.h"
#include "publish/report_summary.h"
#include "update/release_signature.h"
#include "publish/signing.h"
#include "update/log_texts.h"
#include "update/manifest_limits.h"
#include "update/rollout.h"

namespace {

const char kOutputHelp[] =
    "Directory to write into; created when missing if its parent exists. Files of the same "
    "names are replaced, others left alone.";

const char kAppDescription[] =
    "Publish an application release (mode APLICACION): components installed into the main "
    "application's directory and the main executable, which replaces the registered one.\n"
    "Writes into DIR the manifest and one file document per file, named comp<N>-<source name>.xml "
    "and main-<source name>.xml; each address is the base URL joined with that name. Every check "
    "is made before anything is written: on any error nothing is.";

const char kLibraryDescription[] =
    "Publish a library release (mode TRANSPARENTE): additional files, an ActiveX file and the "
    "library file, each with its own destination path on the shop PCs.\n"
    "Writes into DIR the manifest and file documents named extra<N>-<source name>.xml, "
    "activex-<source name>.xml and library-<source name>.xml. On any error nothing is written.";

const char kVerifyDescription[] =
    "Check a published release as the updater would install it: loads the manifest from the "
    "address or path, lets the update engine choose the mode against the installed version and "
    "fetch and decode every file document, and reports each file, writing nothing. Exit status 0 "
    "only when a mode runs and every file it attempts would install.";

// The rules are the updater's own limits, stated from its constants.
std::string PublishFooter() {
  return "Rules the updater imposes, checked before anything is written:\n"
         "  - the version, destinations and addresses hold only characters of Windows-1252 (the "
         "updater's code page on Windows), with no spaces at either end;\n"
         "  - each holds at most " +
         std::to_string(kMaxManifestTextBytes) +
         " bytes;\n"
         "  - component destinations stay inside the main application's directory;\n"
         "  - no empty source file, no destination given twice, at most " +
         std::to_string(kMaxReleaseFiles) +
         " files.\n"
         "Document names keep the source name's ASCII letters, digits, \".\", \"-\" and \"_\"; "
         "any other character becomes \"_\". Exit status 0 when the release was written, 1 when "
         "nothing was.";
}

const char kKeygenDescription[] =
    "Make a release key pair: the private key file KEY, readable by its owner only, and the "
    "public key KEY.pub, which the updater is built with (CMake option MUBAX_RELEASE_KEYS) or "
    "finds beside its executable as mubax-release-keys.txt. An existing key is never replaced.";

const char kSignDescription[] =
    "Sign a published manifest again with a fresh expiry, writing MANIFEST.sig beside it; the "
    "manifest and its documents are not touched. Run it on a schedule so a live release never "
    "expires.";

const char kExpiresHelp[] =
    "How long the signature stays valid: a number with s, m, h or d (default 30d, at most "
    "3650d). The updater refuses the release once it has expired (allowing 5 minutes of clock "
    "difference), so an old signed release cannot be replayed later, and refuses one valid for "
    "more than ten years";

void AddSigningOptions(CLI::App& command, SigningOptions& signing) {
  command
      .add_option("--sign-key", signing.keyFile,
                  "Private key (from keygen): writes each file's S256 digest into the manifest "
                  "and its signature beside it, as the manifest's name + .sig")
      ->type_name("KEY");
  command.add_option("--expires", signing.lifetimeSeconds, kExpiresHelp)
      ->type_name("DURATION")
      ->transform(CLI::AsNumberWithUnit(std::map<std::string, std::int64_t>{
          {"s", 1}, {"m", 60}, {"h", 60 * 60}, {"d", 24 * 60 * 60}}))
      ->check(CLI::Range(std::int64_t{1}, kMaxSignatureLifetimeSeconds));
}

void AddCommonOptions(CLI::App& command, ReleaseOptions& options) {
  command.footer(PublishFooter());
  command.add_option("--version", options.version, "Version text offered to the updater")
      ->type_name("TEXT")
      ->required();
  command
      .add_option("--base-url", options.baseUrl,
                  "Where DIR will be served from (http, https or file address, or a local "
                  "directory); file document addresses are this joined with their names")
      ->type_name("URL")
      ->required();
  command.add_option("--out", options.outDir, kOutputHelp)->type_name("DIR")->required();
  command.add_option("--manifest-name", options.manifestName, "File name of the manifest")
      ->type_name("NAME")
      ->capture_default_str();
  command.add_flag("--gzip", options.gzip,
                   "Also write NAME.gz beside every document and the manifest, for a server that "
                   "sends precompressed files to clients accepting gzip");
  command
      .add_option("--margin", options.margin,
                  "Bytes added to every size limit beyond the least that admits the file "
                  "(its size + 1)")
      ->type_name("BYTES")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  command
      .add_option("--previous", options.previousDirs,
                  "A directory holding the files of an earlier release as shipped (components "
                  "at their destinations, the main executable under its source's name, a "
                  "library release's files under their destinations' names); repeat for more. "
                  "Each file found there gets a patch document when the patch is at most an "
                  "eighth of the file; tills with that file fetch the patch instead")
      ->type_name("DIR")
      ->allow_extra_args(false);
  AddSigningOptions(command, options.signing);
}

CLI::App* AddAppCommand(CLI::App& tool, AppReleaseOptions& options) {
  CLI::App* command = tool.add_subcommand("app", kAppDescription);
  AddCommonOptions(*command, options.common);
  command->add_option("--main", options.mainFile, "The main application's executable")
      ->type_name("FILE")
      ->required();
  command
      ->add_option("--component", options.components,
                   "A component, SRC=DEST, DEST relative to the main application's directory "
                   "(default: the source's file name); repeat for more, numbered in order")
      ->type_name("SRC[=DEST]")
      ->allow_extra_args(false);
  command
      ->add_option("--app-dir", options.common.appDir,
                   "The main application's directory on the shop PCs, if known: component "
                   "destinations are also checked against the updater's limits inside it")
      ->type_name("DIR");
  return command;
}

CLI::App* AddLibraryCommand(CLI::App& tool, LibraryReleaseOptions& options) {
  CLI::App* command = tool.add_subcommand("library", kLibraryDescription);
  AddCommonOptions(*command, options.common);
  command
      ->add_option("--library", options.library,
                   "The library file, SRC=DEST, DEST its full path on the shop PCs")
      ->type_name("SRC=DEST")
      ->required();
  command->add_option("--activex", options.activex, "The ActiveX file, SRC=DEST")
      ->type_name("SRC=DEST");
  command
      ->add_option("--extra", options.extras,
                   "An additional file, SRC=DEST; repeat for more, numbered in order")
      ->type_name("SRC=DEST")
      ->allow_extra_args(false);
  return command;
}

CLI::App* AddVerifyCommand(CLI::App& tool, VerifyOptions& options) {
  CLI::App* command = tool.add_subcommand("verify", kVerifyDescription);
  command->add_option("manifest", options.address, "Address or path of the manifest")
      ->type_name("URL-OR-PATH")
      ->required();
  command
      ->add_option("--installed-version", options.installedVersion,
                   "The version the shop PCs have installed (default: none)")
      ->type_name("TEXT");
  command
      ->add_option("--app-dir", options.appDir,
                   "The main application's directory on the shop PCs: component "
                   "destinations are also checked against the updater's limits inside it")
      ->type_name("DIR");
  command
      ->add_option("--public-key", options.publicKeyFile,
                   "Check the release as a build trusting these keys would: the manifest's "
                   "signature and expiry, and every file against its S256 digest")
      ->type_name("FILE");
  command
      ->add_option("--previous", options.previousDirs,
                   "A directory holding the files of an earlier release: each patch the "
                   "manifest offers is applied to the file there with its base digest and its "
                   "result checked; repeat for more")
      ->type_name("DIR")
      ->allow_extra_args(false);
  return command;
}

CLI::App* AddKeygenCommand(CLI::App& tool, KeygenOptions& options) {
  CLI::App* command = tool.add_subcommand("keygen", kKeygenDescription);
  command->add_option("--out", options.out, "The private key file to create")
      ->type_name("KEY")
      ->required();
  return command;
}

void AddManifestArgument(CLI::App& command, std::string& manifest) {
  command.add_option("manifest", manifest, "Path of the published manifest")
      ->type_name("MANIFEST")
      ->required();
}

CLI::App* AddSignCommand(CLI::App& tool, SignOptions& options) {
  CLI::App* command = tool.add_subcommand("sign", kSignDescription);
  AddManifestArgument(*command, options.manifest);
  AddSigningOptions(*command, options.signing);
  command->get_option("--sign-key")->required();
  return command;
}

const char kRolloutDescription[] =
    "Offer a published release to a share of the tills: sets the manifest's porcentajeDespliegue "
    "(a till takes the release when its stable bucket, from its machine identity and the offered "
    "version, falls within the share) and signs the manifest again when --sign-key is given. "
    "--percent 0 halts the release; raising the share keeps every till that already had it. A "
    "signed manifest is refused without --sign-key.";

CLI::App* AddRolloutCommand(CLI::App& tool, RolloutOptions& options) {
  CLI::App* command = tool.add_subcommand("rollout", kRolloutDescription);
  AddManifestArgument(*command, options.manifest);
  command->add_option("--percent", options.percent, "Share of tills, 0 (halt) to 100 (all)")
      ->type_name("N")
      ->required()
      ->check(CLI::Range(0, kFullRolloutPercent));
  AddSigningOptions(*command, options.signing);
  return command;
}

const char kReportDescription[] =
    "Summarise the reports tills send after each run (setting urlInforme) from web server access "
    "logs in the common or combined format: tills per installed version and per outcome, each "
    "till counted by its latest report, then every revert and refusal. Other lines are skipped.";

CLI::App* AddReportCommand(CLI::App& tool, ReportOptions& options) {
  CLI::App* command = tool.add_subcommand("report", kReportDescription);
  command->add_option("log", options.logs, "Access log files, oldest first")
      ->type_name("LOG")
      ->required();
  return command;
}

int Run(const std::vector<std::string>& arguments) {
  CLI::App tool("Publishes updates for the MUB-AX updater and checks them.", "mubax-publish");
  // Only before a command: after one, --version is the release's version text.
  tool.set_version_flag("--version", std::string("mubax-publish ") + MUBAX_VERSION_TEXT,
                        "Print the version of mubax-publish and exit");
  tool.require_subcommand(1);
  AppReleaseOptions app;
  LibraryReleaseOptions library;
  VerifyOptions verify;
  KeygenOptions keygen;
  SignOptions sign;
  RolloutOptions rollout;
  ReportOptions report;
  CLI::App* appCommand = AddAppCommand(tool, app);
  CLI::App* libraryCommand = AddLibraryCommand(tool, library);
  CLI::App* verifyCommand = AddVerifyCommand(tool, verify);
  CLI::App* keygenCommand = AddKeygenCommand(tool, keygen);
  CLI::App* signCommand = AddSignCommand(tool, sign);
  CLI::App* rolloutCommand = AddRolloutCommand(tool, rollout);
  CLI::App* reportCommand = AddReportCommand(tool, report);

  std::vector<const char*> argv;
  argv.reserve(arguments.size());
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  try {
    tool.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError& error) {
    return tool.exit(error);
  }
  if (appCommand->parsed()) return RunAppCommand(app);
  if (libraryCommand->parsed()) return RunLibraryCommand(library);
  if (verifyCommand->parsed()) return RunVerifyCommand(verify);
  if (keygenCommand->parsed()) return RunKeygenCommand(keygen);
  if (signCommand->parsed()) return RunSignCommand(sign);
  if (rolloutCommand->parsed()) return RunRolloutCommand(rollout);
  if (reportCommand->parsed()) return RunReportCommand(report);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(GetUtf8Arguments(argc, argv));
  } catch (const std::exception& error) {
    PrintError(error.what());
  } catch (...) {
    PrintError("unexpected failure");
  }
  return 1;
}
