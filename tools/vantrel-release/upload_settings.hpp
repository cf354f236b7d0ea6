#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

#include "vantrel-release/command_line.hpp"
#include "vantrel-release/https_client.hpp"
#include "vantrel-release/outcome.hpp"
#include "vantrel-release/store_address.hpp"

namespace vantrel::release_tool {

// The standard AWS variables; never taken from the command line, where other users
// of the machine could read them.
struct Credentials {
    std::string access_key;
    std::string secret_key;
    std::optional<std::string> session_token;
};

Outcome<Credentials> credentials_from_environment();

// What an upload is told by its command line and the AWS variables.
struct Settings {
    std::filesystem::path root;
    StoreLocation location;
    StoreEndpoint endpoint;
    std::optional<HostAddress> public_host;
    std::optional<std::string> ca_file;
    std::optional<std::size_t> keep;
    bool dry_run;
};

// Every operand and option checked before anything is read or sent.
Outcome<Settings> read_settings(const Arguments& arguments);

}  // namespace vantrel::release_tool
