#pragma once
// The dashboard's style sheet, served from the dashboard's own path so the
// pages' Content-Security-Policy can refuse every inline style.

namespace tamrik::platform {

extern const char* const kDashboardStyle;

}  // namespace tamrik::platform
