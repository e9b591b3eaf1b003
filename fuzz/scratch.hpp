#pragma once
// Shared by the fuzz targets: a private scratch directory for one fuzzing
// process, and the checks whose failure is a finding.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

namespace tamrik::fuzz {

// Created on first use (on tmpfs when there is one, so the product's fsyncs
// cost nothing) and removed at exit. HOME points into it, so no target ever
// reads the user's own files.
const std::filesystem::path& scratch_dir();

// Replaces `file` with `bytes`, creating its directory.
void write_bytes(const std::filesystem::path& file, std::string_view bytes);

std::string_view as_text(const uint8_t* data, size_t size);

// Aborts with `what` when `condition` is false: libFuzzer keeps the input.
void require(bool condition, const char* what);

}  // namespace tamrik::fuzz
