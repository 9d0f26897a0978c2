#include "commands.h"

#include <map>
#include <set>

#include "certificate_authority.h"
#include "file_signer.h"
#include "manifest_commands.h"
#include "manifest_pack.h"
#include "net/signing/certificate_store.h"
#include "net/signing/signed_file.h"
#include "net/signing/signing_names.h"

namespace noltpub {

namespace {

constexpr const char* kUsage =
    "usage: noltpub ca init DIR [--name NAME]\n"
    "       noltpub sign --cert CERT --key KEY [--ignore-whitespace] [--content-length]\n"
    "                    [--sequence N] [--expires YYYY-MM-DDTHH:MM:SSZ] IN OUT\n"
    "       noltpub verify --store P7B [--ignore-whitespace] FILE\n"
    "       noltpub pack OUT.zip FILE...\n"
    "       noltpub manifest check FILE\n"
    "       noltpub rules eval [--template FILE] SCRIPT_FILE\n";

// A command's words: options (with a value when they take one) and the rest in order.
struct CommandLine {
  std::map<std::string, std::string> options;
  std::set<std::string> switches;
  std::vector<std::string> operands;
};

// Splits `args` from `first` on; false for an unknown option or one without its value.
bool Parse(const std::vector<std::string>& args, size_t first, const std::set<std::string>& valued,
           const std::set<std::string>& flags, CommandLine& line) {
  for (size_t i = first; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word.size() < 2 || word.compare(0, 2, "--") != 0) {
      line.operands.push_back(word);
    } else if (valued.count(word) != 0 && i + 1 < args.size()) {
      line.options[word] = args[++i];
    } else if (flags.count(word) != 0) {
      line.switches.insert(word);
    } else {
      return false;
    }
  }
  return true;
}

int Failed(std::ostream& err, const std::string& message) {
  err << "noltpub: " << message << "\n";
  return kExitFailed;
}

int CaInit(const CommandLine& line, std::ostream& out, std::ostream& err) {
  if (line.operands.size() != 1) return err << kUsage, kExitUsage;
  const auto name = line.options.find("--name");
  const std::string& directory = line.operands[0];
  std::string error;
  if (!InitCertificateAuthority(
          directory, name != line.options.end() ? name->second : "Tidesync Publisher", error)) {
    return Failed(err, error);
  }
  out << "Made " << kRootCertificateFile << ", " << kSigningCertificateFile << ", their keys and "
      << kRootBundleFile << " in " << directory << "\n";
  return kExitOk;
}

int Sign(const CommandLine& line, std::ostream& err) {
  if (line.operands.size() != 2 || line.options.count("--cert") == 0 ||
      line.options.count("--key") == 0) {
    return err << kUsage, kExitUsage;
  }
  SignOptions options;
  options.ignoreWhitespace = line.switches.count("--ignore-whitespace") != 0;
  options.contentLength = line.switches.count("--content-length") != 0;
  if (line.options.count("--sequence") != 0) options.sequence = line.options.at("--sequence");
  if (line.options.count("--expires") != 0) options.expires = line.options.at("--expires");
  std::string error;
  if (!SignFile(line.options.at("--cert"), line.options.at("--key"), options, line.operands[0],
                line.operands[1], error)) {
    return Failed(err, error);
  }
  return kExitOk;
}

int Verify(const CommandLine& line, std::ostream& out, std::ostream& err) {
  if (line.operands.size() != 1 || line.options.count("--store") == 0) {
    return err << kUsage, kExitUsage;
  }
  const std::string& store = line.options.at("--store");
  const std::string& file = line.operands[0];
  X509_STORE* trusted = CreateStore();
  VerifyReport report;
  const bool loaded = AddFileCertificates(trusted, store);
  const uint32_t flags =
      line.switches.count("--ignore-whitespace") != 0 ? kVerifyIgnoreWhitespaceByDefault : 0;
  const bool verified = loaded && VerifySignedFile(file, trusted, flags, &report);
  FreeStore(trusted);
  if (!loaded) return Failed(err, "no certificate in " + store);
  if (!verified) {
    std::string reason = OutcomeText(report.outcome);
    if (!report.detail.IsEmpty()) reason += std::string(" (") + report.detail.c_str() + ")";
    return Failed(err, file + ": not verified: " + reason);
  }
  out << file << ": verified\n";
  return kExitOk;
}

int Pack(const CommandLine& line, std::ostream& err) {
  if (line.operands.size() < 2) return err << kUsage, kExitUsage;
  const std::vector<std::string> files(line.operands.begin() + 1, line.operands.end());
  std::string error;
  return PackFiles(line.operands[0], files, error) ? kExitOk : Failed(err, error);
}

int ManifestCheck(const CommandLine& line, std::ostream& out, std::ostream& err) {
  if (line.operands.size() != 1) return err << kUsage, kExitUsage;
  return CheckManifest(line.operands[0], out, err) ? kExitOk : kExitFailed;
}

// Exits 0 when the script is true, 1 when it is false, 2 when it cannot be evaluated.
int RulesEval(const CommandLine& line, std::ostream& out, std::ostream& err) {
  if (line.operands.size() != 1) return err << kUsage, kExitUsage;
  const auto templatePath = line.options.find("--template");
  switch (EvaluateRuleScriptFile(
      templatePath != line.options.end() ? templatePath->second : std::string(),
      line.operands[0], out, err)) {
    case RuleOutcome::kTrue: return kExitOk;
    case RuleOutcome::kFalse: return kExitFailed;
    case RuleOutcome::kError: break;
  }
  return kExitScriptError;
}

}  // namespace

int RunNoltpub(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const std::string command = args.empty() ? std::string() : args[0];
  CommandLine line;
  if (command == "ca" && args.size() >= 2 && args[1] == "init" &&
      Parse(args, 2, {"--name"}, {}, line)) {
    return CaInit(line, out, err);
  }
  if (command == "sign" &&
      Parse(args, 1, {"--cert", "--key", "--sequence", "--expires"},
            {"--ignore-whitespace", "--content-length"}, line)) {
    return Sign(line, err);
  }
  if (command == "verify" && Parse(args, 1, {"--store"}, {"--ignore-whitespace"}, line)) {
    return Verify(line, out, err);
  }
  if (command == "pack" && Parse(args, 1, {}, {}, line)) return Pack(line, err);
  if (command == "manifest" && args.size() >= 2 && args[1] == "check" &&
      Parse(args, 2, {}, {}, line)) {
    return ManifestCheck(line, out, err);
  }
  if (command == "rules" && args.size() >= 2 && args[1] == "eval" &&
      Parse(args, 2, {"--template"}, {}, line)) {
    return RulesEval(line, out, err);
  }
  err << kUsage;
  return kExitUsage;
}

}  // namespace noltpub
