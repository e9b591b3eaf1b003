#pragma once
// An agent adapter for recording tests: it knows the sessions written as
// <session>.json files (a telemetry map) in its fixture directory, and claims
// commits listed in <session>.commits (one hash per line).

#include "core/file_io.hpp"
#include "core/json.hpp"
#include "host/agents/registry.hpp"
#include "support/test_env.hpp"

#include <atomic>
#include <memory>
#include <stdexcept>

namespace tamrik::testing {

class FixtureAdapter : public agents::Adapter {
 public:
  FixtureAdapter(std::string name, std::filesystem::path dir) : name_(std::move(name)), dir_(std::move(dir)) {}

  std::string name() const override { return name_; }
  std::string provider() const override { return name_ + "-provider"; }
  bool detect(bool) const override { return active; }
  std::optional<std::string> get_session_id(const std::filesystem::path&) const override { return current_session; }

  std::optional<agents::SessionTelemetry> get_telemetry_for_session(const std::filesystem::path&,
                                                                    std::string_view session_id) const override {
    ++telemetry_calls;
    if (throws) throw std::runtime_error("transcript store unreadable");
    const std::optional<std::string> text =
        core::try_read_file(dir_ / (std::string(session_id) + ".json"), core::kDocumentFileCap);
    if (!text || session_id.empty()) return std::nullopt;
    const core::Json map = *core::parse_json(*text);
    agents::SessionTelemetry telemetry;
    telemetry.session_id = std::string(session_id);
    telemetry.model = core::get_text(map, "model");
    telemetry.tokens.input = map.value("input", 0);
    telemetry.tokens.output = map.value("output", 0);
    telemetry.turns = map.value("turns", 0);
    return telemetry;
  }

  std::optional<agents::SessionHits> sessions_mentioning(const std::filesystem::path&,
                                                         const std::vector<std::string>& shas, std::optional<double>,
                                                         const std::map<std::string, double>&) const override {
    ++scan_calls;
    if (throws) throw std::runtime_error("transcript store unreadable");
    agents::SessionHits hits;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir_, ec)) {
      if (entry.path().extension() != ".commits") continue;
      const std::string text = read_text(entry.path());
      for (const std::string& sha : shas) {
        if (text.find(sha) != std::string::npos) hits[sha].push_back(entry.path().stem().string());
      }
    }
    return hits;
  }

  // Test knobs.
  bool active = false;
  bool throws = false;
  std::optional<std::string> current_session;
  mutable std::atomic<int> telemetry_calls{0};
  mutable std::atomic<int> scan_calls{0};

 private:
  std::string name_;
  std::filesystem::path dir_;
};

// Two fixture adapters, "alpha" and "beta", installed in the registry for
// the life of the object.
struct FixtureRegistry {
  TempDir dir;

  FixtureRegistry() {
    std::vector<std::unique_ptr<agents::Adapter>> adapters;
    auto a = std::make_unique<FixtureAdapter>("alpha", dir / "alpha");
    auto b = std::make_unique<FixtureAdapter>("beta", dir / "beta");
    alpha = a.get();
    beta = b.get();
    adapters.push_back(std::move(a));
    adapters.push_back(std::move(b));
    scope = std::make_unique<agents::ScopedRegistry>(std::move(adapters));
  }
  void session(const std::string& adapter, const std::string& id, const std::string& model = "model-x") {
    write_text(dir / adapter / (id + ".json"),
               R"({"model": ")" + model + R"(", "input": 100, "output": 20, "turns": 3})");
  }
  void claims(const std::string& adapter, const std::string& session_id, const std::string& sha) {
    write_text(dir / adapter / (session_id + ".commits"), sha + "\n");
  }

  FixtureAdapter* alpha = nullptr;
  FixtureAdapter* beta = nullptr;
  std::unique_ptr<agents::ScopedRegistry> scope;
};

}  // namespace tamrik::testing
