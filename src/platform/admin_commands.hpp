#pragma once
// The administrator's commands on a platform database: teams, members and
// their keys. Each prints what it did on stdout and returns an exit code;
// failures are printed on stderr.

#include <string>
#include <vector>

namespace tamrik::platform {

int add_team_command(const std::string& db, const std::string& name);
int add_member_command(const std::string& db, const std::string& name, const std::vector<long long>& team_ids);
// Prints the new key once: only its digest is stored.
int add_key_command(const std::string& db, long long member_id);
// `key_or_id`: the key itself, or the id `keys add` printed for it.
int revoke_key_command(const std::string& db, const std::string& key_or_id);

}  // namespace tamrik::platform
