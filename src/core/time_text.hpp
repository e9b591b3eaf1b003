#pragma once
// UTC time as text, and ISO 8601 parsing.

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace tamrik::core {

// "%Y-%m-%dT%H:%M:%SZ" of the given time, or of now.
std::string format_utc(std::time_t when);
std::string utc_now_text();

// Seconds since the epoch of an ISO 8601 date-time: "YYYY-MM-DDTHH:MM[:SS[.f]]"
// with "Z", "+HH:MM", "-HH:MM", "+HHMM" or no zone (taken as UTC); a blank may
// stand for "T". A bare date is midnight UTC. nullopt when it does not parse.
std::optional<double> parse_iso8601(std::string_view text);

}  // namespace tamrik::core
