#include "synccore/attestation_archive.hpp"

#include "core/errors.hpp"
#include "core/file_io.hpp"
#include "core/yaml.hpp"
#include "host/paths.hpp"
#include "synccore/ledger.hpp"

#include <string>

namespace tamrik::synccore {

namespace {

// An archive's text as a document: the first of its documents, an empty
// map for none. Throws YAMLError.
core::Json document_of(const std::string& text) {
  core::Json document = core::load_yaml(text, core::LaterDocuments::ignore);
  if (document.is_null()) return core::Json::object();
  return document;
}

}  // namespace

std::optional<core::Json> archived_attestation(const std::filesystem::path& file) {
  if (!core::path_exists(file)) return std::nullopt;
  return document_of(core::read_file(file, core::kDocumentFileCap));
}

// One read, no existence test first: a view asks this of every record.
std::optional<core::Json> try_archived_attestation(const std::filesystem::path& home, std::string_view commit) {
  if (!_is_valid_commit_hash(commit)) return std::nullopt;
  const std::optional<std::string> text =
      core::try_read_file(paths::attestations_dir(home) / (std::string(commit) + ".yaml"), core::kDocumentFileCap);
  if (!text) return std::nullopt;
  try {
    return document_of(*text);
  } catch (const core::Error&) {  // YAMLError: shown as no attestation
    return std::nullopt;
  }
}

}  // namespace tamrik::synccore
