#include "synccore/attestation_archive.hpp"

#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/yaml.hpp"
#include "host/paths.hpp"
#include "synccore/ledger.hpp"

#include <string>

namespace tamrik::synccore {

std::optional<core::Json> archived_attestation(const std::filesystem::path& file) {
  if (!core::path_exists(file)) return std::nullopt;
  core::Json document =
      core::load_yaml(core::read_file(file, core::kDocumentFileCap), core::LaterDocuments::ignore);
  if (document.is_null()) return core::Json::object();
  return document;
}

std::optional<core::Json> try_archived_attestation(const std::filesystem::path& home, std::string_view commit) {
  if (!_is_valid_commit_hash(commit)) return std::nullopt;
  try {
    return archived_attestation(paths::attestations_dir(home) / (std::string(commit) + ".yaml"));
  } catch (const core::Error&) {  // OSError or YAMLError: shown as no attestation
    return std::nullopt;
  }
}

}  // namespace tamrik::synccore
