// The manifest step: download, unpacking into a private directory, signature and freshness,
// the local copy without its header, and the parse.
#include "foundation/context/directory_layout.h"
#include "foundation/files/private_temp_directory.h"
#include "foundation/log/host_logger.h"
#include "net/signing/certificate_validater.h"
#include "noltsync/updater/manifest_freshness.h"
#include "noltsync/updater/nolt_updater.h"
#include "noltsync/zipcatalog/zip_extract.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace {

constexpr const char* kManifestArchive = "manifest.zip";
constexpr const char* kManifestFile = "manifest.xml";

}  // namespace

int NoltUpdater::DownloadManifest(ManifestParser& parser) {
  if (m_server.IsEmpty()) return updater_status::kNoServerRoot;
  m_manifestUrl = m_server + "data\\" + kManifestArchive;
  const HxStr query = BuildManifestQuery();
  // Without a local manifest the archive is fetched whatever archive lies there.
  const bool haveManifest = platform::PathExists(LocalPath(m_contentDirectory + kManifestFile));
  const int status =
      DownloadFile(m_manifestUrl, m_contentDirectory + kManifestArchive, query,
                   haveManifest ? download_mode::kIfNewer : download_mode::kPlain);
  if (status != updater_status::kSuccess) return status;
  return ProcessDownloadedManifest(parser);
}

int NoltUpdater::ProcessDownloadedManifest(ManifestParser& parser) {
  HostLog(kLogInfo, "Start Parsing Manifest\n");
  const HxStr archive = m_contentDirectory + kManifestArchive;
  const HxStr localManifest = m_contentDirectory + kManifestFile;
  PrivateTempDirectory temp;  // removed with its content on every way out
  if (!temp.Create(GetTempRoot(), m_providerId, platform::TickCount())) {
    HostLog(kLogError, "Failed to create temp directory: %s\n", temp.Path().c_str());
  }
  HostLog(kLogDetail, "Decompressing manifest: %s\n", archive.c_str());
  if (!temp.Exists() || !ExtractZipArchive(archive, temp.Path(), ZipEntryPaths::kBareNames)) {
    HostLog(kLogError, "** Failed to decompress manifest: %s **\n", archive.c_str());
    return updater_status::kManifestUnzipFailed;
  }
  const HxStr extracted = temp.Path() + kManifestFile;
  HostLog(kLogDetail, "Verifying signature on downloaded manifest: %s\n", extracted.c_str());
  if (!platform::PathExists(LocalPath(extracted)) || !VerifyManifestSignature(extracted)) {
    HostLog(kLogError, "** Unable to verify manifest file: %s **\n", extracted.c_str());
    return updater_status::kSignatureFailed;
  }
  const int replaced = ReplaceManifest(extracted, localManifest);
  if (replaced != updater_status::kSuccess) {
    HostLog(kLogError, "** Failed to replace manifest: [%s] -> [%s] **\n", extracted.c_str(),
            localManifest.c_str());
    return replaced;
  }
  const int parsed = ParseManifest(localManifest, &parser);
  if (parsed != updater_status::kSuccess) {
    HostLog(kLogError, "** Failed to parse manifest: %s **\n", localManifest.c_str());
  }
  return parsed;
}

bool NoltUpdater::VerifyManifestSignature(const HxStr& path) {
  TuSSLCertificateValidater validater;
  if (!validater.LoadTrustedRoots()) return false;
  VerifyReport report;
  if (!validater.VerifySignedFile(path, 0, &report)) {
    HostLog(kLogDetail, "Signature check of %s: %s%s%s\n", path.c_str(),
            OutcomeText(report.outcome), report.detail.IsEmpty() ? "" : " ",
            report.detail.c_str());
    return false;
  }
  return AcceptManifestFreshness(report.credentials, path);
}

int NoltUpdater::ParseManifest(const HxStr& path, ManifestParser* parser) {
  if (path.IsEmpty() || parser == nullptr) return updater_status::kManifestParseFailed;
  HostLog(kLogDetail, "Going to parse manifest: %s\n", path.c_str());
  return parser->LoadManifest(path) ? updater_status::kSuccess
                                    : updater_status::kManifestParseFailed;
}
