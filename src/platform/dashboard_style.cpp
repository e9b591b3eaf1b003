#include "platform/dashboard_style.hpp"

namespace tamrik::platform {

const char* const kDashboardStyle = R"css(
:root { --ink: #1f2933; --muted: #616e7c; --line: #e3e6ea; --accent: #3b6fb6; --paper: #f7f8fa; }
* { box-sizing: border-box; }
body { margin: 0; font: 14px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, sans-serif; color: var(--ink); background: var(--paper); }
header.top { display: flex; align-items: center; gap: 18px; padding: 10px 24px; background: #1f2933; color: #fff; }
header.top a { color: #d9e2ec; text-decoration: none; }
header.top .brand { font-weight: 700; font-size: 16px; color: #fff; }
header.top .who { margin-left: auto; color: #9aa5b1; }
header.top form { margin: 0; }
header.top button { background: transparent; color: #d9e2ec; border: 1px solid #52606d; border-radius: 4px; padding: 3px 10px; cursor: pointer; }
main { max-width: 1200px; margin: 0 auto; padding: 20px 24px 40px; }
h1 { font-size: 22px; margin: 4px 0 2px; }
h2 { font-size: 16px; margin: 24px 0 8px; }
.remote { color: var(--muted); margin: 0 0 12px; font-family: ui-monospace, Menlo, monospace; font-size: 12px; }
nav.tabs { display: flex; gap: 4px; border-bottom: 1px solid var(--line); margin-bottom: 14px; }
nav.tabs a { padding: 6px 14px; color: var(--muted); text-decoration: none; border-bottom: 2px solid transparent; }
nav.tabs a[aria-current="page"] { color: var(--ink); border-bottom-color: var(--accent); font-weight: 600; }
form.filters { display: flex; flex-wrap: wrap; gap: 8px 12px; align-items: flex-end; margin-bottom: 14px; }
form.filters label { display: flex; flex-direction: column; font-size: 12px; color: var(--muted); }
input, select { font: inherit; padding: 4px 6px; border: 1px solid #cbd2d9; border-radius: 4px; background: #fff; }
form.filters input { width: 130px; }
button { font: inherit; padding: 5px 14px; border: 0; border-radius: 4px; background: var(--accent); color: #fff; cursor: pointer; }
table.records { width: 100%; border-collapse: collapse; background: #fff; border: 1px solid var(--line); }
table.records th { text-align: left; font-weight: 600; font-size: 12px; color: var(--muted); padding: 7px 8px; border-bottom: 1px solid var(--line); background: #fbfcfd; }
table.records td { padding: 6px 8px; border-bottom: 1px solid var(--line); vertical-align: top; }
table.records td.summary { max-width: 380px; overflow-wrap: anywhere; }
.hash, td.date, td.num { font-family: ui-monospace, Menlo, monospace; font-size: 12px; white-space: nowrap; }
td.num { text-align: right; }
a { color: var(--accent); }
.kind { font-size: 12px; }
.kind.attested { color: #2f7a45; }
.kind.unattested, .kind.skipped { color: #a35b12; }
nav.pages { display: flex; gap: 16px; margin-top: 12px; }
ul.projects { list-style: none; padding: 0; background: #fff; border: 1px solid var(--line); }
ul.projects li { padding: 10px 14px; border-bottom: 1px solid var(--line); display: flex; gap: 14px; align-items: baseline; }
ul.projects .remote { margin: 0; }
.card { background: #fff; border: 1px solid var(--line); border-radius: 6px; padding: 20px 24px; }
.narrow { max-width: 460px; margin: 40px auto; }
.card form label { display: flex; flex-direction: column; gap: 4px; margin: 12px 0; color: var(--muted); }
.problem { color: #b42318; background: #fef3f2; border: 1px solid #fecdca; padding: 6px 10px; border-radius: 4px; }
.empty, .totals { color: var(--muted); }
dl.fields { display: grid; grid-template-columns: max-content 1fr; gap: 4px 18px; background: #fff; border: 1px solid var(--line); padding: 12px 16px; margin: 0; }
dl.fields dt { font-weight: 600; }
dl.fields dd { margin: 0; overflow-wrap: anywhere; }
.summary-full { background: #fff; border-left: 3px solid var(--accent); padding: 10px 14px; white-space: pre-wrap; overflow-wrap: anywhere; }
pre { background: #fff; border: 1px solid var(--line); padding: 10px 14px; overflow-x: auto; font-size: 12px; }
svg.chart { width: 100%; max-width: 900px; height: auto; background: #fff; border: 1px solid var(--line); }
svg.chart text { font: 11px system-ui, sans-serif; fill: var(--muted); }
)css";

}  // namespace tamrik::platform
